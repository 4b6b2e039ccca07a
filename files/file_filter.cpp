#include "files/file_filter.h"

#include "app/texts.h"
#include "protocol/device_info.h"

namespace zl {

FileFilter MakeFileFilter(const std::u16string& baseFilter, int deviceSel) {
    FileFilter f{baseFilter, Text(TextId::DefaultExtension, false)};
    if (deviceSel == 0) {
        ReplaceAll(f.filter, u"HCS", u"PIC32");
        ReplaceAll(f.filter, u"*.sx", u"*.spic32");
        f.defExt = u"spic32";
    }
    return f;
}

FileFilter AutoLoadFilter(bool english, int deviceSel) {
    return MakeFileFilter(Text(TextId::AutoLoadFilter, english), deviceSel);
}

FileFilter SingleFilter(int deviceSel) { return MakeFileFilter(Text(TextId::SingleFilter, false), deviceSel); }

std::vector<FilterEntry> SplitFilter(const std::u16string& filter) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    for (size_t p = filter.find(u'|'); p != std::u16string::npos; p = filter.find(u'|', start)) {
        parts.push_back(filter.substr(start, p - start));
        start = p + 1;
    }
    if (start < filter.size()) parts.push_back(filter.substr(start));
    std::vector<FilterEntry> entries;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty()) break;  // the closing "||"
        entries.push_back({parts[i], parts[i + 1]});
    }
    return entries;
}

}  // namespace zl
