// Why a serial port can or cannot be used, on Linux: the state of the device behind
// each COM number, who holds a busy one, and the fix for a missing permission. Used by
// `bzl ports` and by the window's start-up notice.
#pragma once

#include <string>
#include <vector>

namespace zl {

enum class PortState {
    Usable,            // opens exclusively: the program can take it
    Busy,              // another program holds it
    PermissionDenied,  // the user may not open it
    NotSerial,         // opens, but is no terminal line
    NoUart,            // a built-in serial slot (ttyS, 8250) with no UART behind it
    Missing,           // nothing there (a link that leads nowhere, an adapter that is gone)
};

struct PortDiagnosis {
    int number = 0;           // n of COMn, 0 when diagnosed by path alone
    std::string path;         // the path COMn resolves to (a link, or the default table's name)
    std::string device;       // the device the path leads to, links followed; empty when none
    bool fromLink = false;    // COMn comes from a link in the port directory
    PortState state = PortState::Missing;
    int holderPid = 0;        // Busy: the holder, when /proc or a lock file names it
    std::string holderName;
    std::string lockFile;     // Busy: the UUCP lock file that names the holder
    bool staleExclusive = false;  // Busy: marked exclusive, but nobody holds a lock on it
    std::string group;        // PermissionDenied: the group that owns the device
    std::string detail;       // the system's words, where they say more
    std::string fix;          // PermissionDenied: what to do
};

const char* PortStateName(PortState state);  // "usable", "busy", "permission-denied", ...

// The diagnosis of one path (the port is opened for a moment and released at once).
// findHolder: look for the holder of a busy port in /proc (slower).
PortDiagnosis DiagnosePath(const std::string& path, bool findHolder = true);
// Every COM number that resolves to something: each link in the port directory, and the
// default table's names whose device node exists.
std::vector<PortDiagnosis> DiagnoseAllPorts(bool findHolder = true);
// The link comN in the port directory for a device: its /dev/serial/by-id name when it
// has one, else its by-path name, else the path as given.
std::string StableDeviceName(const std::string& device);
// True when a ModemManager process runs on this machine.
bool ModemManagerRunning();

}  // namespace zl
