#include "protocol/compat.h"

#include "protocol/wire_text.h"

namespace zl {
namespace {

constexpr size_t kValueLength = 16;
constexpr long kValueOffset = 12;  // the key (11 characters) and one separator

// The 16-character value at start; false when the text (up to its first zero
// character) ends before the value is complete.
bool ValueAt(const std::u16string& text, long start, std::u16string& value) {
    if (start < 0 || static_cast<size_t>(start) + kValueLength > LengthToFirstZero(text)) return false;
    value = text.substr(static_cast<size_t>(start), kValueLength);
    return true;
}

}  // namespace

bool IsFileCompatibleText(bool english, std::u16string deviceText, std::u16string headerText) {
    const long m = FindInText(deviceText, english ? u"Producer  :" : u"Hersteller:");
    const long b = FindInText(deviceText, u"Bootloader");
    if (m - b != 13) return false;
    std::u16string maker, hardware;
    if (!ValueAt(deviceText, m + kValueOffset, maker)) return false;
    const long h = FindInText(deviceText, u"Hardware  :");
    if (!ValueAt(deviceText, h + kValueOffset, hardware)) return false;
    // A device with erased identification takes every file.
    if (hardware == std::u16string(kValueLength, u'\xFFFF')) return true;
    return TextContains(headerText, maker) && TextContains(headerText, hardware);
}

DeviceIdentity IdentityOf(const std::u16string& deviceText, bool english) {
    DeviceIdentity id;
    const long m = FindInText(deviceText, english ? u"Producer  :" : u"Hersteller:");
    if (m >= 0) ValueAt(deviceText, m + kValueOffset, id.manufacturer);
    const long h = FindInText(deviceText, u"Hardware  :");
    if (h >= 0) ValueAt(deviceText, h + kValueOffset, id.hardware);
    return id;
}

}  // namespace zl
