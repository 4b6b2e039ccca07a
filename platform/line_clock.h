// The time that written bytes take on a serial line. A synchronous write to a serial
// port returns once its bytes are on their way out, and the protocol counts on that:
// the device's acknowledgements of a long load are all in soon after the last block
// has been written, and a command follows the wake-up strings without a backlog in
// front of it. The kernel holds written bytes back only on a real UART (a pseudo-
// terminal takes tens of kilobytes at once), so the port keeps the line's time itself.
// Like the transmit buffer of a USB serial adapter (256 bytes on the common FTDI
// chips), the line may hold some characters that have not gone out yet: a write
// returns at once while the line holds at most kFifoHigh characters, and otherwise
// when no more than kFifoLow are left. The line stays busy between back-to-back
// writes: a writer may hand over a slice of short strings at once and sleep while it
// goes out, and a writer that waits for the line is back before the line runs dry.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/comm_dcb.h"

namespace zl {

class LineClock {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint64_t kFifoHigh = 256;
    static constexpr uint64_t kFifoLow = 32;

    // Bits on the line for one character: start bit, data bits, parity bit, stop bits.
    // In tenths of a bit, for one and a half stop bits.
    static uint32_t TenthBitsPerChar(const DCB& dcb);
    // The line time of n characters at these settings (none for a block without a baud rate).
    static Clock::duration Time(const DCB& dcb, uint64_t n);

    // Notes n characters handed to the line at `now` (they follow what is still on the
    // line, or start at once on an idle line); returns when the write may return.
    Clock::time_point Send(const DCB& dcb, uint64_t n, Clock::time_point now);
    // When the last character handed to the line will have gone out.
    Clock::time_point Free() const { return free_; }
    // Forgets what is on the line (a new configuration).
    void Reset() { free_ = {}; }

private:
    Clock::time_point free_{};  // the line is busy until then
};

}  // namespace zl
