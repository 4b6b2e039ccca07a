#include "os/win32/com_ports.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "os/win32/port_naming.h"
#include "os/win32/win_api.h"

#include <cfgmgr32.h>
#include <setupapi.h>

namespace zl::win {
namespace {

using Clock = std::chrono::steady_clock;

// The Ports (COM & LPT) device class.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::wstring DeviceName(int n) { return L"\\\\.\\COM" + std::to_wstring(n); }

// SERIALCOMM: kernel device name -> COM number.
std::map<std::wstring, int> SerialComm() {
    std::map<std::wstring, int> ports;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        wchar_t data[64] = {};
        DWORD nameLength = 512, dataSize = sizeof data - sizeof(wchar_t), type = 0;
        const LONG r = RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        if (const int n = ComNumberOf(Narrow16(data))) ports[name] = n;
    }
    RegCloseKey(key);
    return ports;
}

// Wine's dosdevices folder as a DOS path, or empty when not under Wine.
std::wstring WineDosDevices() {
    using ToDos = WCHAR*(CDECL*)(const char*);
    const auto toDos =
        reinterpret_cast<ToDos>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!toDos) return {};
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    const std::string unixPath =
        (prefix && *prefix ? std::string(prefix) : std::string(home ? home : "") + "/.wine") + "/dosdevices";
    WCHAR* dos = toDos(unixPath.c_str());
    if (!dos) return {};
    std::wstring folder = dos;
    HeapFree(GetProcessHeap(), 0, dos);
    return folder;
}

std::set<int> WineLinks() {
    static const std::wstring folder = WineDosDevices();
    std::set<int> numbers;
    if (folder.empty()) return numbers;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"\\com*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return numbers;
    do {
        if (const int n = ComNumberOf(Narrow16(found.cFileName))) numbers.insert(n);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return numbers;
}

std::u16string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof(wchar_t), nullptr) ||
        type != REG_SZ)
        return {};
    return Narrow16(text);
}

std::u16string InstanceId(DEVINST instance) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
    return Narrow16(id);
}

// The USB serial number of the device or of the USB device above it (a function of a
// composite device, a port of a bus driver such as FTDIBUS).
std::u16string SerialNumber(DEVINST instance, const std::u16string& id) {
    std::u16string serial = UsbSerial(id);
    for (int up = 0; serial.empty() && up < 3; ++up) {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, instance, 0) != CR_SUCCESS) break;
        instance = parent;
        serial = UsbSerial(InstanceId(instance));
    }
    return serial;
}

std::map<int, PortDevice> ReadDevices() {
    std::map<int, PortDevice> devices;
    for (const auto& [kernelName, n] : SerialComm()) devices[n].kernelName = Narrow16(kernelName);
    const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return devices;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t portName[64] = {};
        DWORD size = sizeof portName - sizeof(wchar_t), type = 0;
        const LONG r = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &size);
        RegCloseKey(key);
        const int n = r == ERROR_SUCCESS && type == REG_SZ ? ComNumberOf(Narrow16(portName)) : 0;
        if (n == 0) continue;  // an LPT port, or a port without a number
        PortDevice& p = devices[n];
        p.friendly = Property(set, device, SPDRP_FRIENDLYNAME);
        p.maker = Property(set, device, SPDRP_MFG);
        p.instanceId = InstanceId(device.DevInst);
        p.serial = SerialNumber(device.DevInst, p.instanceId);
    }
    SetupDiDestroyDeviceInfoList(set);
    for (auto& [n, p] : devices) p.description = PortDescription(p.friendly, p.maker, p.serial);
    return devices;
}

// One open of a port on a thread of its own; the thread closes a handle nobody waits
// for any more.
struct Attempt {
    std::mutex mutex;
    bool finished = false;
    bool abandoned = false;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD code = 0;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Attempt() {
        if (done) CloseHandle(done);
    }
};

std::mutex g_attemptsMutex;
std::map<int, std::shared_ptr<Attempt>> g_attempts;  // the opens under way, by COM number

// Starts an open of COMn; null when one is still under way from before.
std::shared_ptr<Attempt> StartOpen(int n) {
    std::lock_guard<std::mutex> lock(g_attemptsMutex);
    if (g_attempts.count(n)) return nullptr;
    auto attempt = std::make_shared<Attempt>();
    g_attempts[n] = attempt;
    std::thread([attempt, n] {
        const HANDLE h = CreateFileW(DeviceName(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED, nullptr);
        const DWORD code = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        {
            std::lock_guard<std::mutex> lock(attempt->mutex);
            attempt->finished = true;
            if (attempt->abandoned) {
                if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            } else {
                attempt->handle = h;
                attempt->code = code;
            }
        }
        {
            std::lock_guard<std::mutex> lock(g_attemptsMutex);
            g_attempts.erase(n);
        }
        SetEvent(attempt->done);
    }).detach();
    return attempt;
}

// Waits for the event until deadline; the calling thread's windows are painted meanwhile
// and messages sent to them are handled, so that a window waiting here stays drawn and
// does not count as hung. Input waits in the queue.
void WaitDrawing(HANDLE event, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, left > 0 ? static_cast<DWORD>(left) : 0,
                                                  QS_PAINT | QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) return;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageW(&msg);
        if (left <= 0) return;
    }
}

// The attempt's result, or abandons it when it has not finished.
bool Take(Attempt& attempt, HANDLE& handle, DWORD& code) {
    std::lock_guard<std::mutex> lock(attempt.mutex);
    if (!attempt.finished) {
        attempt.abandoned = true;
        return false;
    }
    handle = attempt.handle;
    code = attempt.code;
    return true;
}

PortState StateOfFailedOpen(DWORD code) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return PortState::Busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return PortState::Missing;
        default: return PortState::Unusable;
    }
}

}  // namespace

int ComNumberOf(const std::u16string& name) {
    std::u16string s = name;
    if (s.rfind(u"\\\\.\\", 0) == 0) s = s.substr(4);
    if (s.size() < 4 || s.size() > 6) return 0;
    for (int i = 0; i < 3; ++i)
        if ((s[i] | 0x20) != u"com"[i]) return 0;
    if (s[3] == u'0') return 0;
    int n = 0;
    for (size_t i = 3; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9') return 0;
        n = n * 10 + (s[i] - u'0');
    }
    return n >= 1 && n <= 256 ? n : 0;
}

std::vector<int> PresentPorts() {
    std::set<int> numbers;
    for (const auto& entry : SerialComm()) numbers.insert(entry.second);
    std::vector<wchar_t> names(1 << 16);
    DWORD n = 0;
    while ((n = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 22))
        names.resize(names.size() * 2);
    for (const wchar_t* p = names.data(); n > 0 && *p; p += wcslen(p) + 1)
        if (const int number = ComNumberOf(Narrow16(p))) numbers.insert(number);
    for (int number : WineLinks()) numbers.insert(number);
    return {numbers.begin(), numbers.end()};
}

PortDevice DescribePort(int number) {
    static std::mutex mutex;
    static std::map<int, PortDevice> devices;
    static Clock::time_point read{};
    std::lock_guard<std::mutex> lock(mutex);
    if (read == Clock::time_point{} || Clock::now() - read > std::chrono::seconds(2)) {
        devices = ReadDevices();
        read = Clock::now();
    }
    const auto it = devices.find(number);
    return it == devices.end() ? PortDevice{} : it->second;
}

std::u16string PortLabel(int number) {
    const PortDevice device = DescribePort(number);
    if (!device.description.empty()) return device.description;
    if (!device.kernelName.empty()) return device.kernelName;
    wchar_t target[1024] = {};
    if (QueryDosDeviceW((L"COM" + std::to_wstring(number)).c_str(), target, 1024)) return Narrow16(target);
    if (WineLinks().count(number)) return u"Wine dosdevices link";
    return {};
}

std::vector<PortProbe> ProbePorts(const std::vector<int>& numbers, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::vector<std::shared_ptr<Attempt>> attempts;
    for (int n : numbers) attempts.push_back(StartOpen(n));
    for (const auto& attempt : attempts)
        if (attempt) WaitDrawing(attempt->done, deadline);
    std::vector<PortProbe> probes;
    for (size_t i = 0; i < numbers.size(); ++i) {
        PortProbe probe;
        probe.number = numbers[i];
        HANDLE h = INVALID_HANDLE_VALUE;
        DWORD code = 0;
        if (!attempts[i]) {
            probe.state = PortState::NoAnswer;
            probe.stillTrying = true;
        } else if (!Take(*attempts[i], h, code)) {
            probe.state = PortState::NoAnswer;
        } else if (h == INVALID_HANDLE_VALUE) {
            probe.state = StateOfFailedOpen(code);
            probe.code = code;
        } else {
            COMMPROP properties{};
            probe.state = GetFileType(h) == FILE_TYPE_CHAR && GetCommProperties(h, &properties) ? PortState::Usable
                                                                                                  : PortState::NotSerial;
            CloseHandle(h);
        }
        probes.push_back(probe);
    }
    return probes;
}

void* OpenPortWithin(int number, unsigned long& code, std::chrono::milliseconds bound) {
    const std::shared_ptr<Attempt> attempt = StartOpen(number);
    code = ERROR_TIMEOUT;
    if (!attempt) return nullptr;
    WaitDrawing(attempt->done, Clock::now() + bound);
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_TIMEOUT;
    if (!Take(*attempt, h, error)) return nullptr;
    code = error;
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

}  // namespace zl::win
