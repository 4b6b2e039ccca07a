#include "sim/line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zlsim {

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
    if (lockFd_ >= 0) close(lockFd_);
    if (log_) std::fclose(log_);
}

bool Line::Open(std::string& error) {
    const std::string dir = PortDirectory();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    linkPath_ = dir + "/com" + std::to_string(com_);
    if (lockFd_ < 0) {
        // The lock lives as long as this simulator: a second one on the same number refuses.
        const std::string lock = linkPath_ + ".lock";
        lockFd_ = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockFd_ < 0 || flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
            error = "COM" + std::to_string(com_) + " is already published by another zlsim (" + lock + ")";
            if (lockFd_ >= 0) close(lockFd_);
            lockFd_ = -1;
            return false;
        }
    }
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
    cfsetspeed(&t, baud_ == 57600 ? B57600 : B115200);
    tcsetattr(slave_, TCSANOW, &t);
    unlink(linkPath_.c_str());  // a stale link of a simulator that is gone
    if (symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) {
        error = "cannot create " + linkPath_ + ": " + std::strerror(errno);
        return false;
    }
    inClock_ = outClock_ = lastInput_ = Clock::now();
    return true;
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
        if (inClock_ < floor) inClock_ = floor;
        const double ms = std::chrono::duration<double, std::milli>(now - inClock_).count();
        allowed = std::min<size_t>(4096, static_cast<size_t>(ms * BytesPerMs()));
        if (allowed == 0) return {};
    }
    char buf[4096];
    const ssize_t n = read(master_, buf, allowed);
    if (n <= 0) return {};
    if (paced_) inClock_ += std::chrono::microseconds(static_cast<int64_t>(n / BytesPerMs() * 1000.0));
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
        if (p.at > now) return;
        size_t allowed = p.bytes.size();
        if (paced_) {
            const auto floor = now - std::chrono::milliseconds(3);
            if (outClock_ < floor) outClock_ = floor;
            const double ms = std::chrono::duration<double, std::milli>(now - outClock_).count();
            allowed = std::min(allowed, static_cast<size_t>(ms * BytesPerMs()));
            if (allowed == 0) return;
        }
        const ssize_t n = write(master_, p.bytes.data(), allowed);
        if (n <= 0) return;
        if (paced_) outClock_ += std::chrono::microseconds(static_cast<int64_t>(n / BytesPerMs() * 1000.0));
        Log("tx", p.bytes.substr(0, static_cast<size_t>(n)));
        p.bytes.erase(0, static_cast<size_t>(n));
        if (p.bytes.empty()) out_.pop_front();
    }
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
