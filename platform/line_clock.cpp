#include "platform/line_clock.h"

#include <algorithm>

namespace zl {

uint32_t LineClock::TenthBitsPerChar(const DCB& dcb) {
    const uint32_t stop = dcb.StopBits == ONE5STOPBITS ? 15 : dcb.StopBits == TWOSTOPBITS ? 20 : 10;
    const uint32_t parity = dcb.Parity == NOPARITY ? 0 : 10;
    return 10 + 10u * dcb.ByteSize + parity + stop;
}

LineClock::Clock::duration LineClock::Time(const DCB& dcb, uint64_t n) {
    if (dcb.BaudRate == 0) return Clock::duration::zero();
    const unsigned __int128 tenthBits = static_cast<unsigned __int128>(n) * TenthBitsPerChar(dcb);
    const auto ns = static_cast<int64_t>(tenthBits * 100'000'000u / dcb.BaudRate);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

LineClock::Clock::time_point LineClock::Send(const DCB& dcb, uint64_t n, Clock::time_point now) {
    free_ = std::max(free_, now) + Time(dcb, n);
    if (free_ - now <= Time(dcb, kFifoHigh)) return now;
    return free_ - Time(dcb, kFifoLow);
}

}  // namespace zl
