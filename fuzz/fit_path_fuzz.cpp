// Path shortening on an arbitrary path of at most 2 KB and an arbitrary width, measured
// at one pixel per character. Input: two bytes of width (signed, little-endian), then
// the path, one character per byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/fit_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 2 + 2048) return 0;
    const int width = static_cast<int16_t>(static_cast<uint16_t>(data[0] | data[1] << 8));
    std::u16string path;
    for (size_t i = 2; i < size; ++i) path.push_back(static_cast<char16_t>(data[i]));

    std::u16string shown = path;
    zl::FitPath(shown, width, [](const std::u16string& s) { return static_cast<int>(s.size()); });
    if (static_cast<int>(path.size()) <= width) {
        if (shown != path) abort();  // a path that fits stays whole
    } else if (shown.size() > path.size() + 3 || shown.find(u"...") == std::u16string::npos) {
        abort();
    }
    return 0;
}
