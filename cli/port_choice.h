// --port: a COM name, resolved as the window resolves it, or a device path, which
// gets the COM number that already leads to it or else a number of this run's own.
#pragma once

#include <string>

namespace zl::cli {

// On success (0) comName is "\\.\COMn" and path the device path behind it; otherwise
// the exit code (1: the name resolves to nothing) and one line in error.
int ChoosePort(const std::string& arg, std::u16string& comName, std::string& path, std::string& error);

}  // namespace zl::cli
