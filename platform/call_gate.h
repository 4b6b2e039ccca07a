// Admits calls into an object that another thread may close at any time (a serial
// port): once closed, no call is admitted, and the closer can wait until the calls
// under way have left before it releases what they use.
#pragma once

#include <condition_variable>
#include <mutex>

namespace zl {

class CallGate {
public:
    // One admitted call, for as long as it lives; false when the gate was closed.
    class Call {
    public:
        explicit Call(CallGate& gate) : gate_(gate), ok_(gate.Enter()) {}
        ~Call() {
            if (ok_) gate_.Leave();
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        explicit operator bool() const { return ok_; }

    private:
        CallGate& gate_;
        bool ok_;
    };

    // Admits no call from now on; false when the gate was closed before.
    bool Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
        closed_ = true;
        return true;
    }
    // Waits until every admitted call has left.
    void WaitIdle() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return active_ == 0; });
    }
    bool Closed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }

private:
    bool Enter() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!closed_) ++active_;
        return !closed_;
    }
    void Leave() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--active_ == 0) idle_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int active_ = 0;
    bool closed_ = false;
};

}  // namespace zl
