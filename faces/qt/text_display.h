// How texts of the dialog look in Qt widgets.
#pragma once

#include <QString>

#include <string>

namespace zl {

// A label's text as Windows showed it: "\r\n", "\r" and "\n" each break the line,
// tabs stand to the next multiple of 8 characters, and the characters U+FF80-U+FFFF
// (erased bytes 0xFF from a device) show as the replacement character.
QString DisplayText(const std::u16string& text);

// The accessible description of a control: its id and what it is.
QString ControlDescription(int id);

}  // namespace zl
