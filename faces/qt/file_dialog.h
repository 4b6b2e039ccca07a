// The Qt file dialog as both windows use it: set up from a filter in the Win32 form
// ("Description|pattern|...|") and a default extension.
#pragma once

#include <QFileDialog>

#include <string>

namespace zl {

// Qt's own dialog (the same in every desktop), opening an existing file or saving one,
// with the filter's pairs and the extension that a name typed without one gets.
void SetUpFileDialog(QFileDialog& dialog, bool open, const std::u16string& filter, const std::u16string& defExt);

}  // namespace zl
