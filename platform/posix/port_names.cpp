// "\\.\COMn" to a device path: a link comN in the per-user port directory, else the
// default table COM1-32 = /dev/ttyS0-31, COM33-64 = /dev/ttyUSB0-31, COM65-96 = /dev/ttyACM0-31.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/serial.h"
#include "platform/text_convert.h"

namespace zl {
namespace {

std::atomic<bool> g_useDefaultTable{true};

// The port number of "\\.\COMn" (1 to 256), or 0.
int PortNumber(const std::u16string& deviceName) {
    std::string name = ToUtf8(deviceName);
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    if (name.size() < 4) return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 1000) return 0;
        n = n * 10 + (name[i] - '0');
    }
    if (name[3] == '0') return 0;
    return (n >= 1 && n <= 256) ? n : 0;
}

}  // namespace

std::string PortDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/Hallwyn/ports";
}

void UseDefaultPortTable(bool use) { g_useDefaultTable = use; }

std::string ResolvePortPath(const std::u16string& deviceName) {
    const int n = PortNumber(deviceName);
    if (n == 0) return {};
    // A link in the port directory takes the number, even when it leads nowhere.
    std::string link = PortDirectory() + "/com" + std::to_string(n);
    struct stat st;
    if (lstat(link.c_str(), &st) == 0) return link;
    if (!g_useDefaultTable) return {};
    if (n <= 32) return "/dev/ttyS" + std::to_string(n - 1);
    if (n <= 64) return "/dev/ttyUSB" + std::to_string(n - 33);
    if (n <= 96) return "/dev/ttyACM" + std::to_string(n - 65);
    return {};
}

}  // namespace zl
