#include "cli/ports_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/output.h"
#include "os/posix/port_diagnosis.h"
#include "platform/serial.h"
#include "records/json.h"

namespace zl::cli {
namespace {

std::string Describe(const PortDiagnosis& d) {
    switch (d.state) {
        case PortState::Usable: return "usable";
        case PortState::Busy: {
            if (d.staleExclusive) {
                std::string s = "busy: marked exclusive, but no program holds a lock on it (a program killed while it "
                                "held the line?); the mark goes when the last program with the line open closes it";
                if (d.holderPid > 0)
                    s += ": " + (d.holderName.empty() ? std::string("PID") : d.holderName) + " (PID " +
                         std::to_string(d.holderPid) + ")";
                return s;
            }
            std::string s = "busy";
            if (d.holderPid > 0) s += ", held by " + (d.holderName.empty() ? std::string("PID") : d.holderName) + " (PID " + std::to_string(d.holderPid) + ")";
            else s += " (no process that bzl may see holds it open: another user's program, or a line left marked exclusive)";
            if (!d.lockFile.empty()) s += ", lock file " + d.lockFile;
            return s;
        }
        case PortState::PermissionDenied:
            return "permission denied (device group " + d.group + "): " + d.fix;
        case PortState::NotSerial: return "not a serial line (" + d.detail + ")";
        case PortState::NoUart: return "no UART behind this serial slot";
        case PortState::Missing: return "missing" + (d.detail.empty() ? std::string() : " (" + d.detail + ")");
    }
    return "";
}

bool MakeDirs(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash))) return false;
    return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

int RunPorts(const Options& o) {
    const std::vector<PortDiagnosis> ports = DiagnoseAllPorts(true);
    const bool mm = ModemManagerRunning();
    if (o.json) {
        for (const PortDiagnosis& d : ports) {
            JsonObject j;
            j.Str("port", "COM" + std::to_string(d.number)).Str("path", d.path).Str("device", d.device)
                .Str("source", d.fromLink ? "link" : "default").Str("state", PortStateName(d.state));
            if (d.holderPid > 0) j.Int("holder_pid", d.holderPid).Str("holder_name", d.holderName);
            if (!d.lockFile.empty()) j.Str("lock_file", d.lockFile);
            if (d.staleExclusive) j.Bool("stale_exclusive", true);
            if (!d.group.empty()) j.Str("group", d.group);
            if (!d.fix.empty()) j.Str("fix", d.fix);
            if (!d.detail.empty()) j.Str("detail", d.detail);
            std::puts(j.Text().c_str());
        }
        if (mm) std::puts(JsonObject().Str("warning", "modemmanager").Str("text", "ModemManager is running").Text().c_str());
        return 0;
    }
    int noUart = 0;
    size_t shown = 0;
    for (const PortDiagnosis& d : ports) {
        if (d.state == PortState::NoUart && !d.fromLink) {
            ++noUart;
            continue;
        }
        ++shown;
        std::string target = d.device.empty() || d.device == d.path ? d.path : d.path + " -> " + d.device;
        std::printf("COM%-4d %-7s %-40s %s\n", d.number, d.fromLink ? "link" : "default", Printable(target).c_str(),
                    Printable(Describe(d)).c_str());
    }
    if (shown == 0) std::printf("no COM port resolves to a device (links go in %s)\n", Printable(PortDirectory()).c_str());
    if (noUart > 0) std::printf("(%d serial slot(s) /dev/ttyS* without a UART left out)\n", noUart);
    if (mm)
        std::fprintf(stderr, "bzl: warning: ModemManager is running; it probes new USB serial adapters and disturbs "
                             "bootloaders. Install the udev rules (ID_MM_DEVICE_IGNORE) or stop it: sudo systemctl stop ModemManager\n");
    return 0;
}

int RunPortsLink(const Options& o) {
    struct stat st;
    if (stat(o.linkDevice.c_str(), &st) != 0) {
        std::fprintf(stderr, "bzl: %s: %s\n", Printable(o.linkDevice).c_str(), std::strerror(errno));
        return 1;
    }
    if (!S_ISCHR(st.st_mode)) {
        std::fprintf(stderr, "bzl: %s is not a device (a serial port is a character device)\n", Printable(o.linkDevice).c_str());
        return 1;
    }
    std::string target = StableDeviceName(o.linkDevice);
    if (target[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) target = std::string(cwd) + "/" + target;
    }
    const std::string dir = PortDirectory();
    if (!MakeDirs(dir)) {
        std::fprintf(stderr, "bzl: cannot create %s: %s\n", Printable(dir).c_str(), std::strerror(errno));
        return 1;
    }
    const std::string link = dir + "/com" + std::to_string(o.linkNumber);
    const std::string temp = link + ".new" + std::to_string(getpid());
    std::string previous;
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0) previous.assign(buf, static_cast<size_t>(n));
    else if (lstat(link.c_str(), &st) == 0) {
        std::fprintf(stderr, "bzl: %s exists and is not a link; remove it first\n", Printable(link).c_str());
        return 1;
    }
    // A new link put in place in one step: COMn never resolves to nothing meanwhile.
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "bzl: cannot create %s: %s\n", Printable(link).c_str(), std::strerror(errno));
        unlink(temp.c_str());
        return 1;
    }
    std::printf("COM%d -> %s%s\n", o.linkNumber, Printable(target).c_str(), previous.empty() ? "" : (" (was " + Printable(previous) + ")").c_str());
    if (target == o.linkDevice && o.linkDevice.rfind("/dev/tty", 0) == 0)
        std::printf("note: %s has no /dev/serial/by-id name; the number follows the device name, not the adapter\n",
                    Printable(o.linkDevice).c_str());
    return 0;
}

int RunPortsUnlink(const Options& o) {
    const std::string link = PortDirectory() + "/com" + std::to_string(o.linkNumber);
    struct stat st;
    if (lstat(link.c_str(), &st) != 0) {
        std::fprintf(stderr, "bzl: COM%d has no link (%s)\n", o.linkNumber, Printable(link).c_str());
        return 1;
    }
    if (!S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "bzl: %s is not a link; left alone\n", Printable(link).c_str());
        return 1;
    }
    if (unlink(link.c_str()) != 0) {
        std::fprintf(stderr, "bzl: cannot remove %s: %s\n", Printable(link).c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("COM%d unlinked\n", o.linkNumber);
    return 0;
}

std::string PortProblem(const std::string& name, const std::string& path) {
    const PortDiagnosis d = DiagnosePath(path, true);
    if (d.state == PortState::Usable) return {};
    return name + " (" + path + ") is " + Describe(d);
}

}  // namespace zl::cli
