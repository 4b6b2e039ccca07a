// An in-memory serial port for tests of the worker threads: it records every write
// with the writing thread and the time, and serves reads from what the test feeds in,
// with the read time-out of a real port.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial.h"

namespace zl::test {

class FakePort : public SerialPort {
public:
    struct Write {
        std::thread::id thread;
        std::chrono::steady_clock::time_point time;
        std::string bytes;
    };

    explicit FakePort(std::chrono::milliseconds readTimeout = std::chrono::milliseconds(10))
        : timeout_(readTimeout) {}

    // Bytes the device sends; they become readable at once.
    void Feed(const std::string& bytes);
    // Called with every write; what it returns is fed as the device's answer.
    void SetResponder(std::function<std::string(const std::string& written)> responder);
    std::vector<Write> Writes() const;
    std::string Written() const;  // all written bytes in order
    // The writes of these bytes (by that thread): a write of k copies of them counts k,
    // as a writer may send several in one call.
    size_t CountWrites(const std::string& bytes, std::thread::id thread = {}) const;
    bool IsClosed() const;

    bool SetCommState(const DCB&) override { return !IsClosed(); }
    bool GetCommState(DCB&) override { return !IsClosed(); }
    bool SetCommTimeouts(const COMMTIMEOUTS& t) override;
    bool GetCommTimeouts(COMMTIMEOUTS& t) override;
    bool ReadFile(uint8_t* buf, uint32_t n, uint32_t& read) override;
    bool WriteFile(const uint8_t* buf, uint32_t n, uint32_t& written) override;
    void Close() override;
    bool LineLost() override { return lost_; }
    // The adapter pulled: LineLost() from now on.
    void HangUp() { lost_ = true; }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<uint8_t> input_;
    std::vector<Write> writes_;
    std::chrono::milliseconds timeout_;
    bool closed_ = false;
    std::atomic<bool> lost_{false};
    std::function<std::string(const std::string&)> responder_;
};

}  // namespace zl::test
