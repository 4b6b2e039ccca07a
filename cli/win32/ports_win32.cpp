// bzl's ports on Windows: COMn as Windows names it, the ports Windows lists (never COM1
// to COM256 opened blindly), each named as Device Manager names it, and its state found
// by opening it for a moment, all ports at once, none waited on for long.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/port_choice.h"
#include "cli/ports_command.h"
#include "cli/system.h"
#include "platform/serial.h"
#include "platform/text_convert.h"
#include "os/win32/com_ports.h"
#include "ports/com_name.h"
#include "records/json.h"
#include "os/win32/win_api.h"

namespace zl::cli {
namespace {

using win::PortProbe;
using win::PortState;

const char* StateName(PortState state) {
    switch (state) {
        case PortState::Usable: return "usable";
        case PortState::Busy: return "busy";
        case PortState::NotSerial: return "not-serial";
        case PortState::Missing: return "missing";
        case PortState::NoAnswer: return "no-answer";
        case PortState::Unusable: return "unusable";
    }
    return "";
}


std::string Detail(const PortProbe& p) {
    return p.code ? ToUtf8(win::Narrow16(win::SystemWords(static_cast<DWORD>(p.code)))) : std::string();
}

std::string Describe(const PortProbe& p) {
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%.1f", win::kPortAnswerBound.count() / 1000.0);
    switch (p.state) {
        case PortState::Busy: return "busy: another program holds it open (close that program or its connection)";
        case PortState::Missing: return "missing (the adapter is not plugged in?)";
        case PortState::NotSerial: return "not a serial line";
        case PortState::NoAnswer:
            return std::string("no answer: opening it took longer than ") + seconds + " s (a Bluetooth link that is not connected?)";
        case PortState::Unusable: return "cannot be opened: " + Detail(p);
        case PortState::Usable: break;
    }
    return "usable";
}

// The name of the port for the user, or the COM name itself for a port Windows names
// nothing behind (Wine, a port linked by hand) that opens.
std::string Label(int n, const PortProbe* probe) {
    const std::string label = ToUtf8(win::PortLabel(n));
    if (!label.empty()) return label;
    return probe && probe->state != PortState::Missing ? "COM" + std::to_string(n) : std::string();
}

// text and spaces up to width characters.
std::string Padded(const std::string& utf8, size_t width) {
    const size_t chars = FromUtf8(utf8).size();
    return chars >= width ? utf8 : utf8 + std::string(width - chars, ' ');
}

PortProbe ProbeOne(int n) { return win::ProbePorts({n}).front(); }

}  // namespace

int ChoosePort(const std::string& arg, std::u16string& comName, std::string& path, std::string& error) {
    const int n = ParseComName(arg);
    if (n == 0) return error = "--port \"" + arg + "\": a port on Windows is COMn (bzl ports lists them)", 1;
    if (n < 0) return error = "--port \"" + arg + "\": a COM name is COM1 to COM256", 1;
    comName = ComDeviceName(n);
    path = ToUtf8(win::PortLabel(n));
    if (path.empty()) {
        // Not listed by Windows: a port that opens all the same is taken by its name.
        const PortProbe probe = ProbeOne(n);
        path = Label(n, &probe);
    }
    if (path.empty())
        return error = "--port " + arg + ": this machine has no COM" + std::to_string(n) +
                       " (bzl ports lists the COM ports Windows knows)", 1;
    return 0;
}


int RunPorts(const Options& o) {
    const std::vector<PortProbe> probes = win::ProbePorts(win::PresentPorts());
    for (const PortProbe& p : probes) {
        const std::string name = "COM" + std::to_string(p.number);
        const std::string label = Label(p.number, &p);
        if (o.json) {
            JsonObject j;
            j.Str("port", name).Str("device", label).Str("state", StateName(p.state));
            const win::PortDevice device = win::DescribePort(p.number);
            if (!device.friendly.empty()) j.Str("friendly_name", ToUtf8(device.friendly));
            if (!device.maker.empty()) j.Str("manufacturer", ToUtf8(device.maker));
            if (!device.serial.empty()) j.Str("serial", ToUtf8(device.serial));
            if (!device.instanceId.empty()) j.Str("instance_id", ToUtf8(device.instanceId));
            if (!device.kernelName.empty()) j.Str("kernel_name", ToUtf8(device.kernelName));
            if (const std::string detail = Detail(p); !detail.empty()) j.Str("detail", detail);
            WriteOut(j.Text() + "\n");
        } else {
            WriteOut(Padded(name, 6) + " " + Padded(label, 44) + " " + Describe(p) + "\n");
        }
    }
    if (probes.empty() && !o.json) WriteOut("Windows knows no COM port on this machine\n");
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
    const PortProbe p = ProbeOne(n);
    if (p.state == PortState::Usable) return {};
    return name + " (" + path + ") is " + Describe(p);
}

}  // namespace zl::cli
