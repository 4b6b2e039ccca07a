// The filters of the program's file dialogs, by device kind.
#pragma once

#include <string>
#include <vector>

namespace zl {

struct FileFilter {
    std::u16string filter;  // pipe-separated: "description |pattern|...||"
    std::u16string defExt;
};

// The base filter adapted to the Device box selection: at index 0 every "HCS" becomes
// "PIC32", then every "*.sx" becomes "*.spic32", and the default extension is
// "spic32"; at any other index (or none) the base filter stays, with "sx".
FileFilter MakeFileFilter(const std::u16string& baseFilter, int deviceSel);
// The Auto-Load dialog's filter in the interface language.
FileFilter AutoLoadFilter(bool english, int deviceSel);
// The readout and verify dialogs' filter.
FileFilter SingleFilter(int deviceSel);

struct FilterEntry {
    std::u16string description;
    std::u16string pattern;
};
// The pairs of a pipe-separated filter.
std::vector<FilterEntry> SplitFilter(const std::u16string& filter);

}  // namespace zl
