// A minimal PIC32 device on a pseudo-terminal for the tests of the tick and the
// buttons: it answers the wake-up with 'l' when switched on, the menu request with a
// self-description, and notes when the reset arrives. (zlsim is the full device.)
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_pair.h"

namespace zl::test {

class PtyDevice {
public:
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        Clock::time_point time;
        std::string bytes;
    };

    PtyDevice();
    ~PtyDevice();
    const std::string& SlavePath() const { return pty_.SlavePath(); }
    void PowerOn() { on_ = true; }
    void PowerOff() { on_ = false; answered_ = false; }
    std::vector<Chunk> Received() const;
    std::string ReceivedBytes() const;
    size_t Count(const std::string& what) const;
    // Time of the first received chunk at or after t that completes `what`.
    bool FindAfter(const std::string& what, Clock::time_point t, Clock::time_point& found) const;

private:
    void Run();

    PtyPair pty_;
    std::atomic<bool> on_{false};
    std::atomic<bool> answered_{false};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Chunk> received_;
    std::thread thread_;
};

}  // namespace zl::test
