#include "cli/port_choice.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/args.h"
#include "platform/serial.h"
#include "ports/com_name.h"
#include "platform/text_convert.h"

namespace zl::cli {
namespace {

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// The first number from COM97 on that nothing leads to, given to the device for this
// process only: the user's port directory is not changed.
int PrivateNumber(const std::string& device, std::string& error) {
    for (int n = 97; n <= kComCount; ++n) {
        if (!ResolvePortPath(ComDeviceName(n)).empty()) continue;
        AddProcessPort(n, device);
        return n;
    }
    return error = "no free COM number for " + device, 0;
}

}  // namespace

int ChoosePort(const std::string& arg, std::u16string& comName, std::string& path, std::string& error) {
    const int number = ParseComName(arg);
    if (number < 0) return error = "--port \"" + arg + "\": a COM name is COM1 to COM256", 1;
    if (number > 0) {
        comName = ComDeviceName(number);
        path = ResolvePortPath(comName);
        if (path.empty())
            return error = "--port " + arg + " resolves to nothing: there is no link com" + std::to_string(number) + " in " +
                           PortDirectory() + " and the default table ends at COM96 (bzl ports link " +
                           std::to_string(number) + " DEVICE makes one)", 1;
        return 0;
    }
    const std::string real = RealPath(arg);
    struct stat st;
    if (real.empty() || stat(real.c_str(), &st) != 0)
        return error = "--port \"" + arg + "\" resolves to nothing: give COMn or the path of an existing device", 1;
    if (!S_ISCHR(st.st_mode)) return error = "--port \"" + arg + "\" is not a device", 1;
    for (int n = 1; n <= kComCount; ++n) {
        const std::string p = ResolvePortPath(ComDeviceName(n));
        if (!p.empty() && RealPath(p) == real) {
            comName = ComDeviceName(n);
            path = p;
            return 0;
        }
    }
    const int n = PrivateNumber(arg, error);
    if (n == 0) return 1;
    comName = ComDeviceName(n);
    path = arg;
    return 0;
}

}  // namespace zl::cli
