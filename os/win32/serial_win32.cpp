// Serial ports on Win32: "\\.\COMn" opened with share mode 0 (exclusive), overlapped
// reads and writes so that Close() from another thread wakes a blocked call at once,
// the read time-outs of SetCommTimeouts, and writes that return per the line clock.
// A line is lost when Windows says so (line_loss.h): a removal error of a call, or the
// Plug and Play notice that the device behind the handle is being removed.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/call_gate.h"
#include "platform/line_clock.h"
#include "platform/serial.h"
#include "platform/text_convert.h"
#include "os/win32/com_ports.h"
#include "os/win32/line_loss.h"
#include "os/win32/win_api.h"

#include <cfgmgr32.h>

namespace zl {
namespace {

using namespace win;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

static_assert(error::kFileNotFound == ERROR_FILE_NOT_FOUND && error::kAccessDenied == ERROR_ACCESS_DENIED &&
              error::kInvalidHandle == ERROR_INVALID_HANDLE && error::kNotReady == ERROR_NOT_READY &&
              error::kBadCommand == ERROR_BAD_COMMAND && error::kGenFailure == ERROR_GEN_FAILURE &&
              error::kDevNotExist == ERROR_DEV_NOT_EXIST && error::kNotSupported == ERROR_NOT_SUPPORTED &&
              error::kBrokenPipe == ERROR_BROKEN_PIPE && error::kSemTimeout == ERROR_SEM_TIMEOUT &&
              error::kOperationAborted == ERROR_OPERATION_ABORTED &&
              error::kIoPending == ERROR_IO_PENDING && error::kDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED &&
              error::kTimeout == ERROR_TIMEOUT && error::kDeviceRemoved == ERROR_DEVICE_REMOVED,
              "line_loss.h's codes are winerror.h's");

// The Plug and Play notifications for the device behind an open handle (Windows 8 and
// later; cfgmgr32 is loaded at run time, so that a system without them still runs).
class RemovalWatch {
public:
    RemovalWatch(HANDLE handle, LineLoss& loss) {
        static const Functions f = Load();
        if (!f.reg || !f.unreg) return;
        unregister_ = f.unreg;
        CM_NOTIFY_FILTER filter{};
        filter.cbSize = sizeof filter;
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEHANDLE;
        filter.u.DeviceHandle.hTarget = handle;
        if (f.reg(&filter, &loss, &RemovalWatch::OnNotice, &notice_) != CR_SUCCESS) notice_ = nullptr;
    }
    // Before the handle is closed: waits for a notification under way.
    void Stop() {
        if (notice_) unregister_(notice_);
        notice_ = nullptr;
    }

private:
    using RegisterFn = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
    using UnregisterFn = CONFIGRET(WINAPI*)(HCMNOTIFICATION);
    struct Functions {
        RegisterFn reg = nullptr;
        UnregisterFn unreg = nullptr;
    };
    static Functions Load() {
        Functions f;
        if (HMODULE cfg = LoadLibraryW(L"cfgmgr32.dll")) {
            f.reg = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(cfg, "CM_Register_Notification")));
            f.unreg = reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(GetProcAddress(cfg, "CM_Unregister_Notification")));
        }
        return f;
    }
    static DWORD CALLBACK OnNotice(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA, DWORD) {
        DeviceNews news = DeviceNews::Other;
        switch (action) {
            case CM_NOTIFY_ACTION_DEVICEQUERYREMOVE: news = DeviceNews::QueryRemove; break;
            case CM_NOTIFY_ACTION_DEVICEQUERYREMOVEFAILED: news = DeviceNews::QueryRemoveFailed; break;
            case CM_NOTIFY_ACTION_DEVICEREMOVEPENDING: news = DeviceNews::RemovePending; break;
            case CM_NOTIFY_ACTION_DEVICEREMOVECOMPLETE: news = DeviceNews::RemoveComplete; break;
            default: break;
        }
        static_cast<LineLoss*>(context)->Device(news);
        return ERROR_SUCCESS;
    }

    HCMNOTIFICATION notice_ = nullptr;
    UnregisterFn unregister_ = nullptr;
};

class Win32SerialPort : public SerialPort {
public:
    Win32SerialPort(HANDLE handle, HANDLE closed) : h_(handle), closed_(closed), watch_(handle, loss_) {}
    ~Win32SerialPort() override { Close(); }

    bool SetCommState(const DCB& dcb) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        ::DCB d{};
        d.DCBlength = sizeof d;
        if (!::GetCommState(h_, &d)) {
            d = ::DCB{};
            d.DCBlength = sizeof d;
        }
        d.BaudRate = dcb.BaudRate;
        d.fBinary = TRUE;
        d.fParity = dcb.fParity;
        d.fOutxCtsFlow = dcb.fOutxCtsFlow;
        d.fOutxDsrFlow = dcb.fOutxDsrFlow;
        d.fDtrControl = dcb.fDtrControl;
        d.fDsrSensitivity = FALSE;
        d.fTXContinueOnXoff = TRUE;
        d.fOutX = dcb.fOutX;
        d.fInX = dcb.fInX;
        d.fErrorChar = FALSE;
        d.fNull = FALSE;
        d.fRtsControl = dcb.fRtsControl;
        d.fAbortOnError = FALSE;
        d.ByteSize = dcb.ByteSize;
        d.Parity = dcb.Parity;
        d.StopBits = dcb.StopBits;
        if (d.XonChar == d.XoffChar) {
            d.XonChar = 0x11;
            d.XoffChar = 0x13;
        }
        if (!::SetCommState(h_, &d)) {
            // A line without modem lines (a pseudo-terminal under Wine) refuses the DTR
            // and RTS part after the rate and the character format have been set: that
            // is a working line, as long as those took.
            if (GetLastError() != ERROR_NOT_SUPPORTED) return false;
            ::DCB now{};
            now.DCBlength = sizeof now;
            if (::GetCommState(h_, &now) &&
                (now.BaudRate != d.BaudRate || now.ByteSize != d.ByteSize || now.Parity != d.Parity ||
                 now.StopBits != d.StopBits))
                return false;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        line_.Reset();
        dcb_ = dcb;
        return true;
    }

    bool GetCommState(DCB& dcb) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        dcb = dcb_;
        return true;
    }

    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        ::COMMTIMEOUTS t{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                         timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                         timeouts.WriteTotalTimeoutConstant};
        if (!::SetCommTimeouts(h_, &t)) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts_ = timeouts;
        return true;
    }

    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts = timeouts_;
        return true;
    }

    bool ReadFile(uint8_t* buf, uint32_t n, uint32_t& read) override {
        read = 0;
        CallGate::Call call(gate_);
        if (!call) return false;
        if (n == 0) return true;
        COMMTIMEOUTS to;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            to = timeouts_;
        }
        const uint64_t totalMs = static_cast<uint64_t>(to.ReadTotalTimeoutMultiplier) * n + to.ReadTotalTimeoutConstant;
        const auto start = Clock::now();
        DWORD got = 0;
        bool cancelled = false;
        // Bounded also when the driver does not keep its time-outs: the total time-out
        // and a few seconds more, after which the read is cancelled.
        const DWORD bound = totalMs > 0 ? static_cast<DWORD>(std::min<uint64_t>(totalMs + 5000, 0x7FFFFFFF)) : INFINITE;
        const DWORD error = Transfer(false, buf, n, got, bound, cancelled);
        read = got;
        if (error == ERROR_SUCCESS) return true;
        loss_.Failed(PortCall::Read, error, cancelled);
        // A failing read takes the time of a quiet line, so that a reader in a loop
        // does not spin (Wine ends a read at its time-out with ERROR_TIMEOUT).
        if (!cancelled) WaitUntil(start + milliseconds(totalMs > 0 ? totalMs : 100));
        return read > 0;
    }

    // Returns once the bytes are on their way out: all but a FIFO's worth gone out on
    // the line by the line clock. A real port's write completes about then anyway; a
    // pseudo-terminal under Wine takes the bytes at once, and the clock waits.
    bool WriteFile(const uint8_t* buf, uint32_t n, uint32_t& written) override {
        written = 0;
        CallGate::Call call(gate_);
        if (!call) return false;
        const auto until = Send(n);
        DCB dcb;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dcb = dcb_;
        }
        const auto lineMs = std::chrono::duration_cast<milliseconds>(LineClock::Time(dcb, n)).count();
        DWORD put = 0;
        bool cancelled = false;
        const DWORD error =
            Transfer(true, const_cast<uint8_t*>(buf), n, put, static_cast<DWORD>(lineMs + 10000), cancelled);
        written = put;
        if (error != ERROR_SUCCESS || put < n) {
            if (error != ERROR_SUCCESS) loss_.Failed(PortCall::Write, error, cancelled);
            // Take the time the bytes would take on the line (at least a millisecond),
            // so that a writer in a loop does not spin.
            WaitUntil(std::max(until, Clock::now() + milliseconds(1)));
            return false;
        }
        return WaitUntil(until);
    }

    bool LineLost() override {
        if (loss_.Lost()) return true;
        CallGate::Call call(gate_);
        if (!call) return loss_.Lost();
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(h_, &errors, &status)) loss_.Failed(PortCall::ClearCommError, GetLastError(), false);
        return loss_.Lost();
    }

    void Close() override {
        if (!gate_.Close()) return;
        SetEvent(closed_);
        CancelIoEx(h_, nullptr);
        gate_.WaitIdle();
        watch_.Stop();
        CloseHandle(h_);
        CloseHandle(closed_);
        h_ = closed_ = nullptr;
    }

private:
    bool IsClosed() const { return gate_.Closed(); }

    // One overlapped read or write; waits for it, for Close(), or for bound ms (then
    // cancels it: cancelled). The error code, ERROR_SUCCESS when it completed.
    DWORD Transfer(bool write, uint8_t* buf, uint32_t n, DWORD& done, DWORD bound, bool& cancelled) {
        done = 0;
        cancelled = false;
        OVERLAPPED ov{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!ov.hEvent) return GetLastError();
        const BOOL ok = write ? ::WriteFile(h_, buf, n, nullptr, &ov) : ::ReadFile(h_, buf, n, nullptr, &ov);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        cancelled = IsClosed();  // Close() cancels every call under way
        if (error == ERROR_IO_PENDING) {
            HANDLE waits[2] = {ov.hEvent, closed_};
            if (WaitForMultipleObjects(2, waits, FALSE, bound) != WAIT_OBJECT_0) {
                cancelled = true;
                CancelIoEx(h_, &ov);
            }
            error = ERROR_SUCCESS;
        }
        if (error == ERROR_SUCCESS && !GetOverlappedResult(h_, &ov, &done, TRUE)) error = GetLastError();
        CloseHandle(ov.hEvent);
        return error;
    }

    // Waits until then; false when the port was closed meanwhile.
    bool WaitUntil(Clock::time_point then) {
        for (;;) {
            const auto left = then - Clock::now();
            if (left <= Clock::duration::zero()) return true;
            const auto ms = std::chrono::duration_cast<milliseconds>(left + std::chrono::microseconds(999)).count();
            if (WaitForSingleObject(closed_, static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF))) == WAIT_OBJECT_0)
                return false;
        }
    }

    // Notes n characters handed to the line now; when the write may return.
    Clock::time_point Send(uint64_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        return line_.Send(dcb_, n, Clock::now());
    }

    HANDLE h_;
    HANDLE closed_;  // set by Close(): wakes every waiting call
    CallGate gate_;
    std::mutex mutex_;  // the settings and the line clock
    LineLoss loss_;
    RemovalWatch watch_;  // after loss_, which it feeds
    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    LineClock line_;  // under mutex_
};

}  // namespace

PortHandle CreatePortHandle(const std::u16string& deviceName) {
    const int number = ComNumberOf(deviceName);
    if (number == 0) return nullptr;
    // Opened on a thread of its own and given up on after a bound, so that a port that
    // holds CreateFile (a Bluetooth link) cannot hold the window.
    unsigned long code = 0;
    const HANDLE h = static_cast<HANDLE>(OpenPortWithin(number, code));
    if (!h) return nullptr;
    COMMPROP properties{};
    if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommProperties(h, &properties)) {
        CloseHandle(h);
        return nullptr;
    }
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!closed) {
        CloseHandle(h);
        return nullptr;
    }
    return std::make_shared<Win32SerialPort>(h, closed);
}

void ReleaseExclusiveMarks() {}  // Windows ends a handle's exclusive use with the process

std::vector<std::u16string> OpenablePorts() {
    std::vector<std::u16string> names;
    for (const PortProbe& probe : ProbePorts(PresentPorts())) {
        const std::u16string name = u"\\\\.\\COM" + FromUtf8(std::to_string(probe.number));
        if (probe.state == PortState::Usable) {
            names.push_back(name);
        } else if (probe.state == PortState::NoAnswer && !probe.stillTrying) {
            // Said once for each time the port stops answering; a window's standard
            // error is seen when it is started from a console or a debugger.
            const std::wstring line = L"BootloaderZL: COM" + std::to_wstring(probe.number) + L" (" +
                                      Wide(PortLabel(probe.number)) + L") gave no answer within " +
                                      std::to_wstring(kPortAnswerBound.count()) + L" ms and is left out\n";
            OutputDebugStringW(line.c_str());
            std::fputs(ToUtf8(Narrow16(line)).c_str(), stderr);
        }
    }
    return names;
}

// What the user knows the port by: Device Manager's name for its device.
std::string ResolvePortPath(const std::u16string& deviceName) {
    const int number = ComNumberOf(deviceName);
    return number ? ToUtf8(PortLabel(number)) : std::string();
}

// The port directory and the default table are the Linux way of naming ports; on
// Windows the system names them.
void UseDefaultPortTable(bool) {}
std::string PortDirectory() { return {}; }

}  // namespace zl
