// bzl's ports on Windows: COMn as Windows names it, its state found by opening it for a
// moment, and `bzl ports` over every COM name the system knows.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/port_choice.h"
#include "cli/ports_command.h"
#include "platform/serial.h"
#include "platform/text_convert.h"
#include "ports/com_name.h"
#include "records/json.h"
#include "platform/win32/win_api.h"

namespace zl::cli {
namespace {

enum class PortState { Usable, Busy, NotSerial, Missing, Unusable };

struct PortCheck {
    PortState state = PortState::Missing;
    std::string detail;  // the system's words, where they say more
};

const char* StateName(PortState state) {
    switch (state) {
        case PortState::Usable: return "usable";
        case PortState::Busy: return "busy";
        case PortState::NotSerial: return "not-serial";
        case PortState::Missing: return "missing";
        case PortState::Unusable: return "unusable";
    }
    return "";
}


// Opens the port exclusively for a moment, as the program itself would.
PortCheck StateOf(int n) {
    const HANDLE h = CreateFileW(win::Wide(ComDeviceName(n)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const std::string words = ToUtf8(win::Narrow16(win::SystemWords(code)));
        switch (code) {
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION: return {PortState::Busy, words};
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND: return {PortState::Missing, words};
            default: return {PortState::Unusable, words};
        }
    }
    COMMPROP properties{};
    const bool serial = GetFileType(h) == FILE_TYPE_CHAR && GetCommProperties(h, &properties);
    CloseHandle(h);
    return {serial ? PortState::Usable : PortState::NotSerial, {}};
}

// What stands behind COMn: the system's device name, or the COM name itself when the
// system names none (Wine, for a port linked by hand) but the port opens; empty when
// there is no such port. The port is opened only when the system names nothing.
std::string DeviceBehind(int n) {
    const std::string device = ResolvePortPath(ComDeviceName(n));
    if (!device.empty()) return device;
    return StateOf(n).state == PortState::Missing ? std::string() : "COM" + std::to_string(n);
}

std::string Describe(const PortCheck& s) {
    switch (s.state) {
        case PortState::Busy: return "busy: another program holds it open (close that program or its connection)";
        case PortState::Missing: return "missing (the adapter is not plugged in?)";
        case PortState::NotSerial: return "not a serial line";
        case PortState::Unusable: return "cannot be opened: " + s.detail;
        case PortState::Usable: break;
    }
    return "usable";
}

}  // namespace

int ChoosePort(const std::string& arg, std::u16string& comName, std::string& path, std::string& error) {
    const int n = ParseComName(arg);
    if (n == 0) return error = "--port \"" + arg + "\": a port on Windows is COMn (bzl ports lists them)", 1;
    if (n < 0) return error = "--port \"" + arg + "\": a COM name is COM1 to COM256", 1;
    comName = ComDeviceName(n);
    path = DeviceBehind(n);
    if (path.empty())
        return error = "--port " + arg + ": this machine has no COM" + std::to_string(n) +
                       " (bzl ports lists the COM ports Windows knows)", 1;
    return 0;
}


int RunPorts(const Options& o) {
    size_t shown = 0;
    for (int n = 1; n <= 256; ++n) {
        const std::string device = DeviceBehind(n);
        if (device.empty()) continue;
        const PortCheck s = StateOf(n);
        ++shown;
        if (o.json) {
            JsonObject j;
            j.Str("port", "COM" + std::to_string(n)).Str("device", device).Str("state", StateName(s.state));
            if (!s.detail.empty()) j.Str("detail", s.detail);
            std::puts(j.Text().c_str());
        } else {
            std::printf("COM%-4d %-40s %s\n", n, device.c_str(), Describe(s).c_str());
        }
    }
    if (shown == 0 && !o.json) std::printf("Windows knows no COM port on this machine\n");
    return 0;
}

int RunPortsLink(const Options&) {
    std::fprintf(stderr, "bzl: on Windows the COM numbers are given by Windows: the Device Manager changes an adapter's "
                         "number (its Properties, Port Settings, Advanced)\n");
    return 1;
}

int RunPortsUnlink(const Options& o) { return RunPortsLink(o); }

std::string PortProblem(const std::string& name, const std::string& path) {
    const int n = ParseComName(name);
    if (n <= 0) return {};
    const PortCheck s = StateOf(n);
    if (s.state == PortState::Usable) return {};
    return name + " (" + path + ") is " + Describe(s);
}

}  // namespace zl::cli
