// The simulator's side of the serial line: a pseudo-terminal published as COM N in
// the port directory, paced at the line rate, with a log of every byte.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

namespace zlsim {

using Clock = std::chrono::steady_clock;

class Line {
public:
    Line(int com, unsigned baud, bool paced, const std::string& logPath);
    ~Line();

    // Creates the pseudo-terminal and the link comN; false with a message when the
    // number belongs to another live simulator or the link cannot be made.
    bool Open(std::string& error);
    // Hangs up: the program sees the line go dead; the link is removed.
    void Unplug();
    bool Plugged() const { return master_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    int PollFd() const { return master_; }

    // Whether the pacing lets a byte in now.
    bool CanReceive() const;
    // Reads what the pacing allows; returns the bytes (empty when none).
    std::string Receive();
    // Queues bytes to send after delay.
    void Send(const std::string& bytes, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Writes what the pacing allows of the queue.
    void Flush();
    bool SendPending() const { return !out_.empty(); }
    // Milliseconds until Receive or Flush can make progress (for poll).
    int WaitHintMs() const;

    void LogEvent(const std::string& event, const std::string& name = "");
    Clock::time_point LastInput() const { return lastInput_; }
    uint64_t ReceivedTotal() const { return receivedTotal_; }

private:
    void StartLinkGuard(const std::string& link);
    void Log(const char* dir, const std::string& bytes);
    double BytesPerMs() const { return baud_ / 10.0 / 1000.0; }

    int com_;
    unsigned baud_;
    bool paced_;
    int master_ = -1;
    int slave_ = -1;
    int lockFd_ = -1;
    int guardFd_ = -1;
    int guardPid_ = -1;  // its closing tells the link guard that this simulator has ended
    std::string slavePath_;
    std::string linkPath_;
    std::FILE* log_ = nullptr;
    struct Pending {
        Clock::time_point at;
        std::string bytes;
    };
    std::deque<Pending> out_;
    Clock::time_point inClock_, outClock_;
    // Whether the last read or write left the line idle. Only an idle line loses its
    // credit: while bytes keep coming, a late pass of the loop must not slow the line.
    bool inIdle_ = true, outIdle_ = true;
    Clock::time_point lastInput_;
    uint64_t receivedTotal_ = 0;
};

std::string PortDirectory();
int64_t MonotonicMicros();

}  // namespace zlsim
