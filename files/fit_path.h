// Shortening a path with "..." to the width of a control.
//
// Windows-form paths ("C:\dir\...\last\file") lose the directories before the last
// one, one pass at a time, the dots then standing where they were; once only the last
// directory is left it is eaten from its start, and at last the file name, the dots
// then standing after the drive ("C:\...").
//
// Linux paths ("/dir/.../last/file") are shortened the same way, the root "/" taking
// the drive's part: the line keeps the start, the dots, the last directory and the
// file name as long as these fit, e.g. "/home/.../firmware/zl.spic32". A path without
// any separator keeps its first three characters and loses the ones after them.
// Every input ends: when nothing more can go, the text is left as it is then.
#pragma once

#include <functional>
#include <string>

namespace zl {

void FitPath(std::u16string& path, int widthPx, const std::function<int(const std::u16string&)>& measure);

}  // namespace zl
