// Conversions at the edges: file paths and the window system speak UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zl {

// One step of strict UTF-8 decoding at text[i]: the code point and the bytes it took.
// Bytes that are not UTF-8 (a stray continuation byte, an overlong form, a surrogate,
// a value past U+10FFFF, a sequence cut short) give ok = false and U+FFFD for the
// longest part that could have begun a sequence, at least one byte, so that the byte
// after a broken sequence is decoded on its own.
struct Utf8Step {
    uint32_t codePoint = 0xFFFD;
    size_t length = 1;
    bool ok = false;
};
Utf8Step DecodeUtf8(const std::string& text, size_t i);

// Appends the code point c (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, uint32_t c);

std::string ToUtf8(const std::u16string& text);
// Strict: U+FFFD for each sequence that is not UTF-8, nothing swallowed.
std::u16string FromUtf8(const std::string& text);

}  // namespace zl
