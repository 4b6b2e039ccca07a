// Serial ports on Win32: "\\.\COMn" opened with share mode 0 (exclusive), overlapped
// reads and writes so that Close() from another thread wakes a blocked call at once,
// the read time-outs of SetCommTimeouts, and writes that return per the line clock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "platform/call_gate.h"
#include "platform/line_clock.h"
#include "platform/serial.h"
#include "platform/text_convert.h"
#include "platform/win32/win_api.h"

namespace zl {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Errors of a line that is gone: a removed adapter, a hung-up pseudo-terminal (Wine).
bool LineGoneError(DWORD code) {
    switch (code) {
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_GEN_FAILURE:
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_BROKEN_PIPE: return true;
        default: return false;
    }
}

class Win32SerialPort : public SerialPort {
public:
    Win32SerialPort(HANDLE handle, HANDLE closed) : h_(handle), closed_(closed) {}
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
        // Bounded also when the driver does not keep its time-outs: the total time-out
        // and a few seconds more, after which the read is cancelled.
        const DWORD bound = totalMs > 0 ? static_cast<DWORD>(std::min<uint64_t>(totalMs + 5000, 0x7FFFFFFF)) : INFINITE;
        const DWORD error = Transfer(false, buf, n, got, bound);
        read = got;
        if (error != ERROR_SUCCESS && error != ERROR_OPERATION_ABORTED) {
            if (LineGoneError(error)) lost_ = true;
            WaitUntil(start + milliseconds(totalMs > 0 ? totalMs : 100));
            return read > 0;
        }
        if (read == 0 && totalMs >= 10 && !IsClosed()) {
            // A read of a serial line without bytes ends at its time-out; one that ends
            // much sooner comes from a line that was hung up (a pseudo-terminal whose
            // other end closed). It takes the time of a quiet line all the same.
            const auto early = start + milliseconds(totalMs - std::max<uint64_t>(5, totalMs / 4));
            if (Clock::now() < early) {
                lost_ = true;
                WaitUntil(start + milliseconds(totalMs));
            }
        }
        return error == ERROR_SUCCESS || read > 0;
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
        const DWORD error = Transfer(true, const_cast<uint8_t*>(buf), n, put, static_cast<DWORD>(lineMs + 10000));
        written = put;
        if (error != ERROR_SUCCESS || put < n) {
            // A failing write: the line is hung up (Wine: error 21 on a pseudo-terminal
            // whose other end closed) or the adapter was removed. Take the time the
            // bytes would take on the line (at least a millisecond), so that a writer
            // in a loop does not spin.
            if (error != ERROR_OPERATION_ABORTED || !IsClosed()) lost_ = true;
            WaitUntil(std::max(until, Clock::now() + milliseconds(1)));
            return false;
        }
        return WaitUntil(until);
    }

    bool LineLost() override {
        if (lost_) return true;
        CallGate::Call call(gate_);
        if (!call) return lost_;
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(h_, &errors, &status) && LineGoneError(GetLastError()) &&
            GetLastError() != ERROR_ACCESS_DENIED)
            lost_ = true;
        return lost_;
    }

    void Close() override {
        if (!gate_.Close()) return;
        SetEvent(closed_);
        CancelIoEx(h_, nullptr);
        gate_.WaitIdle();
        CloseHandle(h_);
        CloseHandle(closed_);
        h_ = closed_ = nullptr;
    }

private:
    bool IsClosed() const { return gate_.Closed(); }

    // One overlapped read or write; waits for it, for Close(), or for bound ms (then
    // cancels it). The error code, ERROR_SUCCESS when it completed.
    DWORD Transfer(bool write, uint8_t* buf, uint32_t n, DWORD& done, DWORD bound) {
        done = 0;
        OVERLAPPED ov{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!ov.hEvent) return GetLastError();
        const BOOL ok = write ? ::WriteFile(h_, buf, n, nullptr, &ov) : ::ReadFile(h_, buf, n, nullptr, &ov);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_IO_PENDING) {
            HANDLE waits[2] = {ov.hEvent, closed_};
            if (WaitForMultipleObjects(2, waits, FALSE, bound) != WAIT_OBJECT_0) CancelIoEx(h_, &ov);
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
    std::atomic<bool> lost_{false};
    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    LineClock line_;  // under mutex_
};

}  // namespace

PortHandle CreatePortHandle(const std::u16string& deviceName) {
    const std::wstring name = win::Wide(deviceName);
    if (name.empty()) return nullptr;
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
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

std::string ResolvePortPath(const std::u16string& deviceName) {
    std::wstring name = win::Wide(deviceName);
    if (name.rfind(L"\\\\.\\", 0) == 0) name = name.substr(4);
    wchar_t target[1024] = {};
    if (!QueryDosDeviceW(name.c_str(), target, 1024)) return {};
    return ToUtf8(win::Narrow16(target));
}

// The port directory and the default table are the Linux way of naming ports; on
// Windows the system names them.
void UseDefaultPortTable(bool) {}
std::string PortDirectory() { return {}; }

}  // namespace zl
