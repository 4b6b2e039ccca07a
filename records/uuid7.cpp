#include "records/uuid7.h"

#include <cstdio>
#include <mutex>
#include <random>

namespace zl {

std::string NewUuid7(int64_t unixMs) {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}() ^ (static_cast<uint64_t>(std::random_device{}()) << 32)};
    static int64_t lastMs = -1;
    static uint32_t counter = 0;  // 12 bits: rand_a
    uint64_t ms, tail;
    uint32_t seq;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // A clock that steps back, or a counter that runs over, keeps the last millisecond.
        if (unixMs > lastMs) {
            lastMs = unixMs;
            counter = static_cast<uint32_t>(random() & 0x1FF);  // room left to count up
        } else if (++counter > 0xFFF) {
            ++lastMs;
            counter = 0;
        }
        ms = static_cast<uint64_t>(lastMs);
        seq = counter;
        tail = random();
    }
    const uint64_t hi = (ms & 0xFFFFFFFFFFFFull) << 16 | 0x7000u | seq;
    const uint64_t lo = (tail & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(hi >> 32),
                  static_cast<unsigned>(hi >> 16 & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                  static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
    return buf;
}

}  // namespace zl
