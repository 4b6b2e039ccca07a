// The program's end of zlsim's line, opened the way the program opens a port: the
// pseudo-terminal behind COM N, raw, at the device's line rate. Plus a zlsim started
// by hand, for what the shared client does not reach (its pid, its standard error,
// closing its input).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zl::simtest {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// $XDG_CONFIG_HOME/Hallwyn/ports/comN
std::string PortLink(int com);
bool LinkExists(int com);
// Where the link points, or "" without one.
std::string LinkTarget(int com);
// Waits until pred holds or timeout has passed; the last result of pred.
template <class Pred>
bool WaitUntil(Pred pred, Ms timeout = 10s);
bool WaitUntilFn(bool (*)(void*), void*, Ms);

class SimPort {
public:
    SimPort() = default;
    ~SimPort();
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    // Opens path (the port link or the slave itself), raw 8N1 at baud.
    bool Open(const std::string& path, unsigned baud);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // One write call with all the bytes (blocks while the line is full).
    void Write(const std::string& bytes);
    // One write call per byte, as the program sends its commands.
    void WriteBytewise(const std::string& bytes);
    // "\rS" word "\r", byte by byte.
    void Command(const std::string& word) { WriteBytewise("\rS" + word + "\r"); }
    // Bytes written since the port was opened.
    size_t Written() const { return written_; }

    // Reads until the line has been quiet for `silence`, or `limit` has passed.
    std::string ReadUntilSilent(Ms silence, Ms limit = 20s);
    // Reads until what was read contains text, or timeout; everything read.
    std::string ReadUntil(const std::string& text, Ms timeout = 10s);
    // Reads until n bytes have come, or timeout.
    std::string ReadCount(size_t n, Ms timeout = 20s);
    // Sends the wake-up string over and over until a read brings text (or timeout).
    std::string WakeUntil(const std::string& text, Ms timeout = 10s);
    // Sends the wake-up string for the given time and returns what came back.
    std::string WakeFor(Ms duration);
    // True once the far end has hung up (read gives EOF/EIO or poll reports POLLHUP).
    bool HungUp();

private:
    // One read pass: what arrives within wait; sets hangup_ on EOF/EIO.
    std::string ReadSome(Ms wait);
    int fd_ = -1;
    bool hangup_ = false;
    size_t written_ = 0;
};

// A zlsim child with pipes on all three standard streams.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // The "ready COMn /dev/pts/x" line; "" when zlsim ended or said nothing in time.
    std::string WaitReady(Ms timeout = 10s);
    // Sends a command line and returns the reply line ("" on time-out).
    std::string Command(const std::string& line, Ms timeout = 10s);
    void CloseInput();
    void Signal(int sig);
    // The wait status once the process has ended within timeout.
    std::optional<int> Wait(Ms timeout = 10s);
    // What zlsim wrote to its standard error (read after it ended).
    std::string Stderr();

private:
    std::string ReadLine(Ms timeout);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string buffer_;
    std::optional<int> status_;
};

template <class Pred>
bool WaitUntil(Pred pred, Ms timeout) {
    return WaitUntilFn([](void* p) { return (*static_cast<Pred*>(p))(); }, &pred, timeout);
}

}  // namespace zl::simtest
