// Starting and steering zlsim from a test: the simulator runs as a child process
// with the test's environment (its XDG_CONFIG_HOME), takes commands on its standard
// input, and logs the line to a file that the test reads back.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zl::test {

class ZlSim {
public:
    struct Entry {
        int64_t t_us = 0;       // CLOCK_MONOTONIC, as std::chrono::steady_clock
        std::string dir;        // "rx" (from the program) or "tx" (to it); empty for events
        std::string bytes;
        std::string event;      // "power_on", "cmd", "answered", "loaded", "prog", ...
        std::string name;
    };

    // kind "pic32" or "hcs"; the log goes to logPath (required for the log helpers).
    ZlSim(const std::string& kind, int com, const std::string& logPath, std::vector<std::string> extraArgs = {});
    ~ZlSim();
    ZlSim(const ZlSim&) = delete;
    ZlSim& operator=(const ZlSim&) = delete;

    bool Ready() const { return ready_; }
    pid_t Pid() const { return pid_; }
    const std::string& SlavePath() const { return slave_; }
    // Sends one command line and returns zlsim's reply ("ok ..." / "error ..."), or "" on time-out.
    std::string Command(const std::string& line);
    // Ends zlsim (SIGTERM) and waits for it; its exit status.
    int Stop();

    std::vector<Entry> Log() const;
    // The entries logged from byte offset on (a long run reads only what is new);
    // offset moves past the last whole line read.
    std::vector<Entry> LogFrom(uint64_t& offset) const;
    std::string Received() const;  // everything the program sent, in order
    std::string Sent() const;      // everything zlsim sent
    static size_t Count(const std::string& haystack, const std::string& needle);
    // Time of the first event of that name (and name), or -1.
    int64_t EventTime(const std::string& event, const std::string& name = "") const;
    bool WaitFor(const std::function<bool(const ZlSim&)>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Runs zlfw with the arguments; true on success.
    static bool Zlfw(const std::vector<std::string>& args);

private:
    std::string ReadLine(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int in_ = -1;   // zlsim's standard input
    int out_ = -1;  // zlsim's standard output
    std::string buffer_;
    std::string logPath_;
    std::string slave_;
    bool ready_ = false;
};

}  // namespace zl::test
