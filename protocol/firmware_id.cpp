#include "protocol/firmware_id.h"

#include "platform/text_convert.h"

namespace zl {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// The value after "key ... :" up to the line's end, trimmed; the key must begin a line.
std::optional<std::string> Field(const std::string& text, const char* key) {
    const std::string k(key);
    for (size_t at = text.find(k); at != std::string::npos; at = text.find(k, at + 1)) {
        if (at > 0 && text[at - 1] != '\r' && text[at - 1] != '\n') continue;
        const size_t colon = text.find(':', at + k.size());
        if (colon == std::string::npos) return std::nullopt;
        // Only blanks may stand between the key and its colon ("Name   :").
        bool keyOnly = true;
        for (size_t i = at + k.size(); i < colon; ++i) keyOnly = keyOnly && IsBlank(text[i]);
        if (!keyOnly) continue;
        size_t end = text.find_first_of("\r\n", colon + 1);
        if (end == std::string::npos) end = text.size();
        return Trimmed(text.substr(colon + 1, end - colon - 1));
    }
    return std::nullopt;
}

}  // namespace

std::string Trimmed(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

std::optional<FirmwareId> ParseFirmwareId(const std::u16string& panel) {
    const std::string text = ToUtf8(panel);
    FirmwareId id;
    // PIC32: "Name   : ...", "Version: ...", "Datum  : ..." ("Date   : ..." in English).
    // HCS: "Software:\t...", "Version:\t\t...", "Datum:\t\t...".
    auto name = Field(text, "Name");
    if (!name) name = Field(text, "Software");
    auto version = Field(text, "Version");
    auto date = Field(text, "Datum");
    if (!date) date = Field(text, "Date");
    if (!name || !version || !date || name->empty()) return std::nullopt;
    return FirmwareId{*name, *version, *date};
}

}  // namespace zl
