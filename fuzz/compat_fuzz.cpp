// The compatibility check on arbitrary texts. Input: one byte of flags (bit 0: English),
// one byte giving the length of the device text, the device text, then the header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/compat.h"
#include "protocol/wire_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool english = data[0] & 1;
    const size_t deviceLength = data[1] < size - 2 ? data[1] : size - 2;
    std::u16string device, header;
    for (size_t i = 0; i < deviceLength; ++i) zl::AppendWidened(device, data[2 + i]);
    for (size_t i = 2 + deviceLength; i < size; ++i) zl::AppendWidened(header, data[i]);

    const bool compatible = zl::IsFileCompatibleText(english, device, header);
    // More bytes behind the header never take compatibility away.
    if (compatible && !zl::IsFileCompatibleText(english, device, header + u"\x0001\xFFFF")) abort();
    return 0;
}
