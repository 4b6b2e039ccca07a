#include "sim/line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zlsim {

namespace {

speed_t SpeedConstant(unsigned baud) {
    switch (baud) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 230400: return B230400;
        default: return B115200;
    }
}

}  // namespace

int64_t MonotonicMicros() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::string PortDirectory() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    std::string base = (xdg && *xdg) ? std::string(xdg) : std::string(getenv("HOME") ? getenv("HOME") : "") + "/.config";
    return base + "/Hallwyn/ports";
}

Line::Line(int com, unsigned baud, bool paced, const std::string& logPath) : com_(com), baud_(baud), paced_(paced) {
    if (!logPath.empty()) log_ = std::fopen(logPath.c_str(), "a");
    inClock_ = outClock_ = lastInput_ = Clock::now();
}

Line::~Line() {
    Unplug();
    if (guardFd_ >= 0) {
        // A clean end waits for the guard, so that the number is free when this process is gone.
        close(guardFd_);
        waitpid(guardPid_, nullptr, 0);
    }
    if (lockFd_ >= 0) close(lockFd_);
    if (log_) std::fclose(log_);
}

bool Line::Open(std::string& error) {
    const std::string dir = PortDirectory();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string link = dir + "/com" + std::to_string(com_);
    if (lockFd_ < 0) {
        // The lock lives as long as this simulator: a second one on the same number refuses,
        // and leaves the link of the first alone.
        const std::string lock = link + ".lock";
        lockFd_ = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        // The guard of a simulator that was just killed may hold the lock a moment longer.
        bool locked = false;
        for (int i = 0; lockFd_ >= 0 && i < 20 && !(locked = flock(lockFd_, LOCK_EX | LOCK_NB) == 0); ++i)
            usleep(50000);
        if (!locked) {
            error = "COM" + std::to_string(com_) + " is already published by another zlsim (" + lock + ")";
            if (lockFd_ >= 0) close(lockFd_);
            lockFd_ = -1;
            return false;
        }
        StartLinkGuard(link);
    }
    linkPath_ = link;
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = ptsname(master_);
    // Kept open here, so that the master never sees a hang-up while the program has
    // the port closed; raw, so that nothing is echoed.
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = "cannot open " + slavePath_;
        return false;
    }
    termios t;
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, SpeedConstant(baud_));
    tcsetattr(slave_, TCSANOW, &t);
    unlink(linkPath_.c_str());  // a stale link of a simulator that is gone
    if (symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) {
        error = "cannot create " + linkPath_ + ": " + std::strerror(errno);
        return false;
    }
    inClock_ = outClock_ = lastInput_ = Clock::now();
    return true;
}

// A small child process that outlives this one by a moment: when the simulator ends in
// any way, SIGKILL included, the child sees its pipe close, removes the link and only then
// lets go of the lock (it shares the lock's open file), so no link to a dead pseudo-terminal
// is left for a port scan to find, and a new simulator on the number never races with it.
void Line::StartLinkGuard(const std::string& link) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return;
    const pid_t pid = fork();
    if (pid < 0) {
        close(p[0]);
        close(p[1]);
        return;
    }
    if (pid == 0) {
        signal(SIGINT, SIG_IGN);
        signal(SIGTERM, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
        const int keep[] = {p[0], lockFd_};
        for (int fd = 0; fd < 1024; ++fd)
            if (fd != keep[0] && fd != keep[1]) close(fd);
        for (char c;;) {
            const ssize_t n = read(p[0], &c, 1);
            if (n == 0 || (n < 0 && errno != EINTR)) break;
        }
        unlink(link.c_str());
        _exit(0);
    }
    close(p[0]);
    guardFd_ = p[1];
    guardPid_ = pid;
}

void Line::Unplug() {
    if (!linkPath_.empty()) unlink(linkPath_.c_str());
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
    out_.clear();
}

bool Line::CanReceive() const {
    if (!paced_) return true;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - inClock_).count();
    return ms * BytesPerMs() >= 1.0;
}

std::string Line::Receive() {
    if (master_ < 0) return {};
    const auto now = Clock::now();
    size_t allowed = 4096;
    if (paced_) {
        // At most a few bytes of credit build up on a quiet line.
        const auto floor = now - std::chrono::milliseconds(3);
        if (inIdle_ && inClock_ < floor) inClock_ = floor;
        const double ms = std::chrono::duration<double, std::milli>(now - inClock_).count();
        allowed = std::min<size_t>(4096, static_cast<size_t>(ms * BytesPerMs()));
        if (allowed == 0) return {};
    }
    char buf[4096];
    const ssize_t n = read(master_, buf, allowed);
    inIdle_ = n < static_cast<ssize_t>(allowed);  // nothing more was waiting
    if (n <= 0) return {};
    if (paced_) inClock_ += std::chrono::nanoseconds(static_cast<int64_t>(n / BytesPerMs() * 1e6));
    lastInput_ = now;
    receivedTotal_ += static_cast<uint64_t>(n);
    std::string bytes(buf, static_cast<size_t>(n));
    Log("rx", bytes);
    return bytes;
}

void Line::Send(const std::string& bytes, std::chrono::milliseconds delay) {
    if (bytes.empty() || master_ < 0) return;
    Clock::time_point at = Clock::now() + delay;
    if (!out_.empty()) at = std::max(at, out_.back().at);
    out_.push_back({at, bytes});
}

void Line::Flush() {
    while (master_ >= 0 && !out_.empty()) {
        const auto now = Clock::now();
        Pending& p = out_.front();
        if (p.at > now) {
            outIdle_ = true;
            return;
        }
        size_t allowed = p.bytes.size();
        if (paced_) {
            const auto floor = now - std::chrono::milliseconds(3);
            if (outIdle_ && outClock_ < floor) outClock_ = floor;
            outIdle_ = false;
            const double ms = std::chrono::duration<double, std::milli>(now - outClock_).count();
            allowed = std::min(allowed, static_cast<size_t>(ms * BytesPerMs()));
            if (allowed == 0) return;
        }
        const ssize_t n = write(master_, p.bytes.data(), allowed);
        if (n <= 0) return;
        if (paced_) outClock_ += std::chrono::nanoseconds(static_cast<int64_t>(n / BytesPerMs() * 1e6));
        Log("tx", p.bytes.substr(0, static_cast<size_t>(n)));
        p.bytes.erase(0, static_cast<size_t>(n));
        if (p.bytes.empty()) out_.pop_front();
    }
    outIdle_ = true;
}

int Line::WaitHintMs() const {
    if (out_.empty()) return 100;
    const auto now = Clock::now();
    if (out_.front().at > now)
        return std::max<int>(1, static_cast<int>(
                                    std::chrono::duration_cast<std::chrono::milliseconds>(out_.front().at - now).count()));
    return 1;
}

void Line::Log(const char* dir, const std::string& bytes) {
    if (!log_) return;
    static const char* hex = "0123456789abcdef";
    std::string h;
    h.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        h.push_back(hex[c >> 4]);
        h.push_back(hex[c & 15]);
    }
    std::fprintf(log_, "{\"t_us\": %lld, \"dir\": \"%s\", \"hex\": \"%s\"}\n", static_cast<long long>(MonotonicMicros()),
                 dir, h.c_str());
    std::fflush(log_);
}

void Line::LogEvent(const std::string& event, const std::string& name) {
    if (!log_) return;
    std::fprintf(log_, "{\"t_us\": %lld, \"ev\": \"%s\", \"name\": \"%s\"}\n", static_cast<long long>(MonotonicMicros()),
                 event.c_str(), name.c_str());
    std::fflush(log_);
}

}  // namespace zlsim
