// Conversions at the edges: file paths and the window system speak UTF-8.
#pragma once

#include <string>

namespace zl {

std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

}  // namespace zl
