// The Windows port's decision whether the line is gone (os/win32/line_loss.h): a
// port that fails its calls the way Windows (and Wine) report a removed device, and the
// ways a healthy line fails that must never count.
#include "os/win32/line_loss.h"

#include <gtest/gtest.h>

#include <vector>

namespace zl::win {
namespace {

// A port whose every call fails with one code, as the Windows port meets its line.
struct FailingPort {
    explicit FailingPort(uint32_t failure, bool cancelled = false) : code(failure), cancelledHere(cancelled) {}
    uint32_t code;
    bool cancelledHere;
    LineLoss loss;

    bool Read() { return Fail(PortCall::Read); }
    bool Write() { return Fail(PortCall::Write); }
    bool Poll() { return Fail(PortCall::ClearCommError); }
    bool Modem() { return Fail(PortCall::ModemStatus); }

private:
    bool Fail(PortCall call) {
        loss.Failed(call, code, cancelledHere);
        return loss.Lost();
    }
};

const std::vector<uint32_t> kRemoved = {
    error::kFileNotFound, error::kAccessDenied,  error::kInvalidHandle,  error::kNotReady,
    error::kBadCommand,   error::kGenFailure,    error::kDevNotExist,    error::kBrokenPipe,
    error::kNoSuchDevice, error::kDeviceNotConnected, error::kDeviceRemoved, error::kOperationAborted};

TEST(LineLossWin32, EveryRemovalErrorOfEveryCallLosesTheLine) {
    for (uint32_t code : kRemoved) {
        SCOPED_TRACE(code);
        FailingPort read{code}, write{code}, poll{code}, modem{code};
        EXPECT_TRUE(read.Read());
        EXPECT_TRUE(write.Write());
        EXPECT_TRUE(poll.Poll());
        EXPECT_TRUE(modem.Modem());
        EXPECT_EQ(read.loss.Cause(), code);
    }
}

TEST(LineLossWin32, AHealthyLineNeverLooksLost) {
    // A read time-out (Windows: success with no bytes; Wine: ERROR_TIMEOUT or
    // ERROR_SEM_TIMEOUT), no modem lines on Wine's pseudo-terminal, an I/O still
    // pending, and the program's own cancel (Close, its bound on a read).
    for (uint32_t code : {error::kTimeout, error::kSemTimeout, error::kNotSupported, error::kIoPending}) {
        SCOPED_TRACE(code);
        FailingPort port{code};
        for (int i = 0; i < 100; ++i) EXPECT_FALSE(port.Read() || port.Write() || port.Poll() || port.Modem());
    }
    FailingPort cancelled{error::kOperationAborted, true};
    EXPECT_FALSE(cancelled.Read() || cancelled.Write());
}

TEST(LineLossWin32, WineHangUpIsSeenOnTheFirstFailingCall) {
    // Wine on a hung-up pseudo-terminal: reads end with ERROR_BROKEN_PIPE, writes,
    // ClearCommError and GetCommModemStatus fail with ERROR_NOT_READY.
    FailingPort read{error::kBrokenPipe}, poll{error::kNotReady};
    EXPECT_TRUE(read.Read());
    EXPECT_TRUE(poll.Poll());
}

TEST(LineLossWin32, RemovalNoticesOfTheDevice) {
    LineLoss queried;
    queried.Device(DeviceNews::QueryRemove);  // may still be refused: the handle is open
    queried.Device(DeviceNews::QueryRemoveFailed);
    queried.Device(DeviceNews::Other);
    EXPECT_FALSE(queried.Lost());
    for (DeviceNews news : {DeviceNews::RemovePending, DeviceNews::RemoveComplete}) {
        LineLoss loss;
        loss.Device(news);
        EXPECT_TRUE(loss.Lost());
        EXPECT_EQ(loss.Cause(), LineLoss::kRemovedNotice);
    }
}

TEST(LineLossWin32, TheFirstCauseStaysAndTheLossIsFinal) {
    LineLoss loss;
    loss.Failed(PortCall::Write, error::kGenFailure, false);
    loss.Failed(PortCall::Read, error::kDeviceRemoved, false);
    loss.Failed(PortCall::Read, error::kTimeout, false);
    EXPECT_TRUE(loss.Lost());
    EXPECT_EQ(loss.Cause(), error::kGenFailure);
}

}  // namespace
}  // namespace zl::win
