// "\\.\COMn" to a device path: a link comN in the per-user port directory, else the
// default table COM1-32 = /dev/ttyS0-31, COM33-64 = /dev/ttyUSB0-31, COM65-96 = /dev/ttyACM0-31.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/serial.h"
#include "ports/com_name.h"

namespace zl {
namespace {

std::atomic<bool> g_useDefaultTable{true};
std::mutex g_processPortsMutex;
std::map<int, std::string> g_processPorts;  // under g_processPortsMutex

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

void AddProcessPort(int n, const std::string& devicePath) {
    std::lock_guard<std::mutex> lock(g_processPortsMutex);
    g_processPorts[n] = devicePath;
}

std::string ResolvePortPath(const std::u16string& deviceName) {
    const int n = ParseComName(deviceName);
    if (n <= 0) return {};
    // A link in the port directory takes the number, even when it leads nowhere.
    std::string link = PortDirectory() + "/com" + std::to_string(n);
    struct stat st;
    if (lstat(link.c_str(), &st) == 0) return link;
    {
        std::lock_guard<std::mutex> lock(g_processPortsMutex);
        if (auto it = g_processPorts.find(n); it != g_processPorts.end()) return it->second;
    }
    if (!g_useDefaultTable) return {};
    if (n <= 32) return "/dev/ttyS" + std::to_string(n - 1);
    if (n <= 64) return "/dev/ttyUSB" + std::to_string(n - 33);
    if (n <= 96) return "/dev/ttyACM" + std::to_string(n - 65);
    return {};
}

}  // namespace zl
