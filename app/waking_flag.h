// A flag shared between threads, like Flag, whose drop to 0 wakes the threads that
// wait on it: the search flag, so that the flood's pauses between its slices end as
// soon as the search ends, wherever it is ended, and the tick that slept through the
// search comes back.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace zl {

class WakingFlag {
public:
    explicit WakingFlag(uint8_t value) : value_(value) {}
    WakingFlag(const WakingFlag&) = delete;
    WakingFlag& operator=(const WakingFlag&) = delete;

    WakingFlag& operator=(uint8_t value) {
        store(value);
        return *this;
    }
    operator uint8_t() const { return load(); }
    uint8_t load() const { return value_.load(); }
    void store(uint8_t value) {
        {
            // Under the lock, so that a waiter between its test and its wait is not missed.
            std::lock_guard<std::mutex> lock(mutex_);
            value_.store(value);
        }
        if (value == 0) {
            dropped_.notify_all();
            if (onDrop_) onDrop_();
        }
    }

    // Called on every drop to 0, on the thread that drops it; set before any thread runs.
    void OnDrop(std::function<void()> onDrop) { onDrop_ = std::move(onDrop); }

    // Waits until then, or less once the flag is 0; true while the flag is set.
    bool WaitWhileSetUntil(std::chrono::steady_clock::time_point then) const {
        std::unique_lock<std::mutex> lock(mutex_);
        dropped_.wait_until(lock, then, [this] { return value_.load() == 0; });
        return value_.load() != 0;
    }

private:
    std::atomic<uint8_t> value_;
    mutable std::mutex mutex_;
    mutable std::condition_variable dropped_;
    std::function<void()> onDrop_;
};

}  // namespace zl
