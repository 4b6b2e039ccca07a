#include "protocol/device_info.h"

#include "app/texts.h"
#include "protocol/wire_text.h"

namespace zl {
namespace {

// The text from pos on, at most n characters; empty when pos lies beyond the end.
std::u16string Substring(const std::u16string& text, size_t pos, size_t n = std::u16string::npos) {
    return pos >= text.size() ? std::u16string() : text.substr(pos, n);
}

// Inserts at index, or at the end when index lies beyond it.
void InsertAt(std::u16string& text, size_t index, const std::u16string& what) {
    text.insert(index > text.size() ? text.size() : index, what);
}

constexpr size_t kPanelWindow = 152;   // characters from a label on that the panels need
constexpr size_t kSummaryOffset = 12;  // after "Bootloader:" and one separator
constexpr size_t kSummaryLength = 140;

}  // namespace

void ReplaceAll(std::u16string& text, const std::u16string& from, const std::u16string& to) {
    if (from.empty()) return;
    std::u16string out;
    size_t start = 0;
    for (size_t p = text.find(from); p != std::u16string::npos; p = text.find(from, start)) {
        out.append(text, start, p - start);
        out += to;
        start = p + from.size();
    }
    if (start == 0) return;
    out.append(text, start, std::u16string::npos);
    text.swap(out);
}

Pic32View ShowPic32(std::u16string text, bool english) {
    if (english) {
        // Each word is replaced by one of the same length, so every position stays.
        ReplaceAll(text, u"Hersteller", u"Producer  ");
        ReplaceAll(text, u"Datum", u"Date ");
        ReplaceAll(text, u"fach", u"fold");
        ReplaceAll(text, u"aktuelle", u" Current");
        ReplaceAll(text, u" im ", u" in ");
    }
    const std::u16string& noDevice = Text(TextId::NoDevice, english);
    Pic32View v{noDevice, noDevice, noDevice, u" ", u" "};
    if (text.empty()) return v;
    v.deviceInfo = text;

    const long p = FindInText(text, u"Bootloader:");
    if (p < 0) {
        v.summary = noDevice;
    } else {
        v.summary = Text(TextId::BootloaderSummaryHeading, english);
        if (text.size() - static_cast<size_t>(p) >= kPanelWindow)
            v.summary += Substring(text, static_cast<size_t>(p) + kSummaryOffset, kSummaryLength);
    }

    v.left.clear();
    const long q = FindInText(text, english ? u" Current Firmware:" : u"aktuelle Firmware:");
    if (q < 0)
        v.left = noDevice;
    else if (text.size() - static_cast<size_t>(q) >= kPanelWindow)
        v.left = Substring(text, static_cast<size_t>(q), kPanelWindow);

    v.right.clear();
    const long r = FindInText(text, english ? u"Firmware in Flash:" : u"Firmware im Flash:");
    if (r >= 0) v.right = Substring(text, static_cast<size_t>(r), kPanelWindow);

    if (TextContains(text, u"Keine Firmware geladen")) {
        if (english) v.right = Text(TextId::NoFirmwareLoadedPanel, true);
        // Cut back to the last full stop. A text without one stays as it is rather
        // than vanish.
        const size_t dot = v.right.rfind(u'.');
        if (dot != std::u16string::npos) v.right.erase(dot + 1);
        v.result.clear();
    } else {
        const long f = FindInText(text, u"Firmware i");
        const std::u16string rest = f >= 0 ? Substring(text, static_cast<size_t>(f)) : text;
        const long d = FindInText(rest, u"Dat");  // also finds "Date " of the English text
        const long start = d + 23;
        v.result = start >= static_cast<long>(rest.size()) ? std::u16string() : Substring(rest, static_cast<size_t>(start));
    }

    if (english) {
        if (TextContains(v.result, u"erfolgreich")) {
            v.result = Text(TextId::PreviousUpdateOk, true);
        } else {
            const long e = FindInText(v.result, u"Fehlercode");
            if (e >= 0) {
                // The code is the character 12 after the label; when the text ends
                // before it, the message goes without a code.
                const size_t at = static_cast<size_t>(e) + 12;
                std::u16string message = Text(TextId::PreviousUpdateError, true);
                if (at < v.result.size() && v.result[at] != u'\0') message.push_back(v.result[at]);
                v.result = message;
            }
        }
    }
    return v;
}

HcsView ShowHcs(std::u16string text, bool english) {
    HcsView v;
    if (text.empty()) {
        v.setLeft = true;
        v.left = Text(TextId::NoDevice, english);
        return v;
    }
    const long b = FindInText(text, u"BOOT");
    if (b >= 0) {
        text.erase(0, static_cast<size_t>(b));
        v.clearSummary = true;
        text.erase(0, text.size() < 26 ? text.size() : 26);
        if (text.size() > 24) text.resize(24);
        // Software, version and date are the three 8-character fields.
        InsertAt(text, 16, u"\rDatum:\t\t");
        InsertAt(text, 8, u"\rVersion:\t\t");
        InsertAt(text, 0, u"\rSoftware:\t");
        v.setLeft = true;
        v.left = text;
    } else if (TextContains(text, u"Load beendet")) {
        if (english) {
            ReplaceAll(text, u"beendet", u"finished");
            ReplaceAll(text, u"Fehler", u"errors");
            ReplaceAll(text, u"aufgetreten", u"occurred");
        }
        v.setLeft = true;
        v.left = text;
    }
    return v;
}

}  // namespace zl
