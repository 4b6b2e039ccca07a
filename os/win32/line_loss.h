// Whether a Windows serial line is gone (the USB adapter pulled, the device removed),
// decided from what Windows reports, never from how long a call took: the error codes
// of ReadFile, WriteFile, ClearCommError and GetCommModemStatus on a removed device,
// and the Plug and Play notifications for the device behind the open handle.
//
// No Windows header here, so that the decision can be tested on any system; the codes
// are winerror.h's (serial_win32.cpp checks them against it).
#pragma once

#include <atomic>
#include <cstdint>

namespace zl::win {

namespace error {
constexpr uint32_t kFileNotFound = 2;         // STATUS_NO_SUCH_DEVICE
constexpr uint32_t kAccessDenied = 5;         // STATUS_DELETE_PENDING: the device is being removed
constexpr uint32_t kInvalidHandle = 6;        // the handle was invalidated with its device
constexpr uint32_t kNotReady = 21;            // STATUS_DEVICE_NOT_CONNECTED; Wine: a hung-up pseudo-terminal
constexpr uint32_t kBadCommand = 22;          // STATUS_INVALID_DEVICE_STATE: the driver stopped its device
constexpr uint32_t kGenFailure = 31;          // STATUS_UNSUCCESSFUL, as USB serial drivers end I/O on removal
constexpr uint32_t kDevNotExist = 55;         // STATUS_DEVICE_DOES_NOT_EXIST
constexpr uint32_t kNotSupported = 50;        // Wine: no modem lines on a pseudo-terminal
constexpr uint32_t kBrokenPipe = 109;         // STATUS_PIPE_BROKEN; Wine: a read of a hung-up pseudo-terminal
constexpr uint32_t kSemTimeout = 121;
constexpr uint32_t kNoSuchDevice = 433;       // ERROR_NO_SUCH_DEVICE (not in every winerror.h)
constexpr uint32_t kOperationAborted = 995;   // STATUS_CANCELLED: I/O ended by the driver on removal
constexpr uint32_t kIoPending = 997;
constexpr uint32_t kDeviceNotConnected = 1167;
constexpr uint32_t kTimeout = 1460;           // Wine: a read that ended at its time-out
constexpr uint32_t kDeviceRemoved = 1617;
}  // namespace error

// The calls whose failures tell about the line.
enum class PortCall { Read, Write, ClearCommError, ModemStatus };

// What Plug and Play says of the device behind the handle (CM_NOTIFY_ACTION_...).
enum class DeviceNews { QueryRemove, QueryRemoveFailed, RemovePending, RemoveComplete, Other };

// An error code that Windows gives for I/O on a device that is no longer there.
// ERROR_OPERATION_ABORTED only counts when the program did not cancel the call itself.
inline bool RemovalError(uint32_t code, bool cancelledHere) {
    switch (code) {
        case error::kFileNotFound:
        case error::kAccessDenied:
        case error::kInvalidHandle:
        case error::kNotReady:
        case error::kBadCommand:
        case error::kGenFailure:
        case error::kDevNotExist:
        case error::kBrokenPipe:
        case error::kNoSuchDevice:
        case error::kDeviceNotConnected:
        case error::kDeviceRemoved: return true;
        case error::kOperationAborted: return !cancelledHere;
        default: return false;
    }
}

// The line's state, fed by every failing call and every notification; read by
// SerialPort::LineLost(). Safe to use from several threads.
class LineLoss {
public:
    // A call on the port failed with code. cancelledHere: the program cancelled it
    // itself (the port closed, or its own bound on a read or write ran out).
    void Failed(PortCall call, uint32_t code, bool cancelledHere) {
        (void)call;  // the codes mean the same for every call
        if (RemovalError(code, cancelledHere)) Mark(code);
    }

    // A notification for the device behind the handle. A query may still be refused
    // (the handle is held open), so only a removal under way or done counts.
    void Device(DeviceNews news) {
        if (news == DeviceNews::RemovePending || news == DeviceNews::RemoveComplete) Mark(kRemovedNotice);
    }

    bool Lost() const { return cause_.load() != 0; }
    // The error code that decided it, or kRemovedNotice; 0 while the line is there.
    uint32_t Cause() const { return cause_.load(); }

    static constexpr uint32_t kRemovedNotice = 0xFFFFFFFFu;

private:
    void Mark(uint32_t cause) {
        uint32_t none = 0;
        cause_.compare_exchange_strong(none, cause);
    }

    std::atomic<uint32_t> cause_{0};
};

}  // namespace zl::win
