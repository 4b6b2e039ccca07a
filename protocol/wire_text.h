// Text received from the device, and the searches made in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zl {

// One received byte becomes one UTF-16 character by sign extension:
// 0x00-0x7F keep their value, 0x80-0xFF become U+FF80-U+FFFF.
inline char16_t Widen(uint8_t b) {
    return static_cast<char16_t>(static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(b))));
}

inline void AppendWidened(std::u16string& text, uint8_t b) { text.push_back(Widen(b)); }

// Length of text up to its first zero character (the part that searches see).
inline size_t LengthToFirstZero(const std::u16string& text) {
    size_t n = text.find(u'\0');
    return n == std::u16string::npos ? text.size() : n;
}

// Position of the first occurrence of needle in text, or -1. The text counts as
// ending at its first zero character, and so does the needle.
inline long FindInText(const std::u16string& text, const std::u16string& needle, size_t from = 0) {
    const size_t hayLen = LengthToFirstZero(text);
    const size_t needleLen = LengthToFirstZero(needle);
    if (from > hayLen) return -1;
    size_t pos = std::u16string_view(text.data(), hayLen).find(std::u16string_view(needle.data(), needleLen), from);
    return pos == std::u16string_view::npos ? -1 : static_cast<long>(pos);
}

inline bool TextContains(const std::u16string& text, const std::u16string& needle) {
    return FindInText(text, needle) >= 0;
}

}  // namespace zl
