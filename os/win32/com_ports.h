// The COM ports of a Windows machine: which exist (without opening any), what Device
// Manager calls them, and whether each can be opened now, found without ever waiting
// long on one port (a Bluetooth port can hold CreateFile for seconds).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace zl::win {

// How long one open may take before the port is given up on as not answering.
constexpr std::chrono::milliseconds kPortAnswerBound{1500};

// The COM numbers the system lists, ascending: the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, the COM names among the DOS device names, and
// under Wine the comN links of the prefix's dosdevices folder (Wine lists a link made
// after its start in neither).
std::vector<int> PresentPorts();

struct PortDevice {
    std::u16string kernelName;   // "\Device\VCP0", SERIALCOMM's name for it
    std::u16string friendly;     // "USB Serial Port (COM5)" (SPDRP_FRIENDLYNAME)
    std::u16string maker;        // "FTDI" (SPDRP_MFG)
    std::u16string instanceId;   // "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"
    std::u16string serial;       // the USB serial number, of the device or its USB parent
    std::u16string description;  // "USB Serial Port (FTDI), serial A50285BI"
};

// What the system says of the port COMn (SetupAPI's Ports class, SERIALCOMM); read
// anew at most every two seconds.
PortDevice DescribePort(int number);

// The text that names the port to the user: the description, else the kernel's device
// name, else (a Wine link) "Wine dosdevices link"; empty when the system knows no COMn.
std::u16string PortLabel(int number);

enum class PortState { Usable, Busy, Missing, NotSerial, NoAnswer, Unusable };

struct PortProbe {
    int number = 0;
    PortState state = PortState::Missing;
    unsigned long code = 0;  // the Win32 error of the open, where it failed
    bool stillTrying = false;  // NoAnswer: an open from an earlier probe is still under way
};

// Opens each port exclusively for a moment, all at once, and closes it again. A port
// whose open has not returned within bound is NoAnswer (an open of it still under way
// from before is not started again); the wait keeps the calling thread's windows drawn.
std::vector<PortProbe> ProbePorts(const std::vector<int>& numbers, std::chrono::milliseconds bound = kPortAnswerBound);

// One exclusive, overlapped open of "\\.\COMn" within bound: the handle (a HANDLE), or
// null with code set (ERROR_TIMEOUT when it did not answer in time).
void* OpenPortWithin(int number, unsigned long& code, std::chrono::milliseconds bound = kPortAnswerBound);

// The COM number of "\\.\COMn" or "COMn" (1 to 256), else 0.
int ComNumberOf(const std::u16string& name);

}  // namespace zl::win
