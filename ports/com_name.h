// COM port names, as Windows spells them: "COM5" for the user, "\\.\COM5" for opening.
// Parsed and formatted here alone; what a name leads to on a machine is the OS
// backend's business (the port directory and default table on Linux).
#pragma once

#include <string>
#include <string_view>

namespace zl {

constexpr int kComCount = 256;  // COM1 to COM256

// n of "COMn" or "\\.\COMn" (any case, 1 to 256, no leading zero). 0 when the text is
// no COM name at all (a path, say); -1 when it begins like one but is not ("COM0",
// "COM300", "COMx").
int ParseComName(std::u16string_view text);
int ParseComName(std::string_view text);

std::u16string ComDeviceName(int n);  // "\\.\COMn"
std::u16string ComShortName(int n);   // "COMn"
// "COM5" for "\\.\COM5"; a text without the prefix as it is.
std::u16string ShortPortName(std::u16string_view deviceName);

}  // namespace zl
