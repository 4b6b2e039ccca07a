// Serial ports on termios. Exclusive like a Windows COM handle (TIOCEXCL for other
// users, flock for root and for our own second instance, UUCP lock files of other
// programs honoured), raw lines, read time-outs by poll(), and a Close() that wakes
// every thread blocked in the port at once.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/call_gate.h"
#include "platform/line_clock.h"
#include "os/posix/quiet_line.h"
#include "ports/com_name.h"
#include "os/posix/serial_slot.h"
#include "platform/serial.h"

namespace zl {
namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedFor(uint32_t baud) {
    switch (baud) {
        case 110: return B110;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return 0;
    }
}

// A lock file /var/lock/LCK..name of another program that still runs.
bool UucpLockHeld(const std::string& devicePath) {
    char real[PATH_MAX];
    if (!realpath(devicePath.c_str(), real)) return false;
    std::string dev = real;
    if (dev.rfind("/dev/", 0) == 0) dev = dev.substr(5);
    std::string flat = dev;
    for (char& c : flat)
        if (c == '/') c = '_';
    std::string base = dev.substr(dev.find_last_of('/') + 1);
    for (const std::string& name : {flat, base}) {
        std::string lock = "/var/lock/LCK.." + name;
        FILE* f = std::fopen(lock.c_str(), "r");
        if (!f) continue;
        char buf[64] = {};
        size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        long pid = 0;
        if (n == sizeof(int) && (buf[0] < '0' || buf[0] > '9')) {
            int binary;
            std::memcpy(&binary, buf, sizeof binary);  // the old binary form
            pid = binary;
        } else {
            pid = std::strtol(buf, nullptr, 10);
        }
        if (pid > 0 && pid != getpid() && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) return true;
    }
    return false;
}

// The descriptors of the ports this process holds, so that a process that must end
// while a thread still uses one can take its exclusive marks off first.
class HeldPortSet {
public:
    void Add(int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        fds_.insert(fd);
    }
    void Remove(int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        fds_.erase(fd);
    }
    void ClearExclusiveMarks() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : fds_) ioctl(fd, TIOCNXCL);
    }

private:
    std::mutex mutex_;
    std::set<int> fds_;
};

HeldPortSet& HeldPorts() {
    static HeldPortSet* set = new HeldPortSet;  // never destroyed: used up to _Exit
    return *set;
}

class PosixSerialPort : public SerialPort {
public:
    PosixSerialPort(int fd, int wake) : fd_(fd), wake_(wake), pty_(IsPseudoTerminal(fd)) { HeldPorts().Add(fd); }
    ~PosixSerialPort() override { Close(); }

    bool SetCommState(const DCB& dcb) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        speed_t speed = SpeedFor(dcb.BaudRate);
        if (speed == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
        termios t;
        if (tcgetattr(fd_, &t) != 0) return false;
        cfmakeraw(&t);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        t.c_cflag |= CREAD | CLOCAL;
        static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= sizes[dcb.ByteSize - 5];
        switch (dcb.Parity) {
            case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
            case EVENPARITY: t.c_cflag |= PARENB; break;
            case MARKPARITY: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
            case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
            default: break;
        }
        if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
        if (dcb.fOutxCtsFlow) t.c_cflag |= CRTSCTS;
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        if (dcb.fOutX) t.c_iflag |= IXON;
        if (dcb.fInX) t.c_iflag |= IXOFF;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
        // tcsetattr succeeds when any part was taken: a driver that cannot do the speed
        // or the character size keeps its own. Such a line is not the one asked for.
        termios set;
        const tcflag_t frame = CSIZE | PARENB | PARODD | CSTOPB;
        if (tcgetattr(fd_, &set) != 0 || cfgetospeed(&set) != speed || cfgetispeed(&set) != speed ||
            (set.c_cflag & frame) != (t.c_cflag & frame))
            return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            line_.Reset();
        }
        // Modem lines: pseudo-terminals have none (ENOTTY), which is fine.
        int dtr = TIOCM_DTR, rts = TIOCM_RTS;
        ioctl(fd_, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
        ioctl(fd_, dcb.fRtsControl == RTS_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &rts);
        std::lock_guard<std::mutex> lock(mutex_);
        dcb_ = dcb;
        return true;
    }

    bool GetCommState(DCB& dcb) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        dcb = dcb_;
        return true;
    }

    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts_ = timeouts;
        return true;
    }

    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
        CallGate::Call call(gate_);
        if (!call) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts = timeouts_;
        return true;
    }

    bool ReadFile(uint8_t* buf, uint32_t n, uint32_t& read) override {
        read = 0;
        CallGate::Call call(gate_);
        if (!call) return false;
        if (n == 0) return true;
        COMMTIMEOUTS to;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            to = timeouts_;
        }
        // Total time-out = multiplier x n + constant. Without any time-out a read waits
        // until all bytes are there; an interval of MAXDWORD with no totals returns what
        // is there at once; an interval alone applies between bytes.
        const uint64_t totalMs = static_cast<uint64_t>(to.ReadTotalTimeoutMultiplier) * n + to.ReadTotalTimeoutConstant;
        const bool immediate = to.ReadIntervalTimeout == UINT32_MAX && totalMs == 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
        while (read < n) {
            int waitMs;
            if (immediate) {
                waitMs = 0;
            } else if (totalMs > 0) {
                // Rounded up: a poll of whole milliseconds must not end before the deadline.
                long long left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) break;
                waitMs = static_cast<int>(std::min<long long>(left, INT_MAX));
                if (read > 0 && to.ReadIntervalTimeout > 0 && to.ReadIntervalTimeout != UINT32_MAX)
                    waitMs = std::min<int>(waitMs, static_cast<int>(std::min<uint32_t>(to.ReadIntervalTimeout, INT_MAX)));
            } else if (to.ReadIntervalTimeout == 0 || read == 0) {
                waitMs = -1;
            } else {
                waitMs = static_cast<int>(std::min<uint32_t>(to.ReadIntervalTimeout, INT_MAX));
            }
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
            int r = poll(fds, 2, waitMs);
            if (r < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (fds[1].revents) return read > 0;  // closed meanwhile
            if (r == 0) break;                     // time-out
            if (fds[0].revents & POLLIN) {
                ssize_t got = ::read(fd_, buf + read, n - read);
                if (got > 0) {
                    read += static_cast<uint32_t>(got);
                    continue;
                }
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            }
            // The line is hung up: nothing more arrives. The read fails, and takes the
            // time of a quiet line, so that a caller that does not look at LineLost()
            // does not spin.
            lost_ = true;
            long long left = totalMs > 0
                                 ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()
                                 : 100;
            WaitQuietly(static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
            return read > 0;
        }
        return true;
    }

    // Returns once the bytes are on their way out (all but a FIFO's worth gone out on
    // the line), as a synchronous write to a serial port does on Windows (there are no
    // write time-outs).
    bool WriteFile(const uint8_t* buf, uint32_t n, uint32_t& written) override {
        written = 0;
        CallGate::Call call(gate_);
        if (!call) return false;
        bool ready = true;  // the descriptor is tried first: it mostly takes the bytes at once
        while (written < n) {
            if (!ready) {
                pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_, POLLIN, 0}};
                const int r = poll(fds, 2, -1);
                if (r < 0) {
                    if (errno == EINTR) continue;
                    return false;
                }
                if (fds[1].revents) return false;
                if (!(fds[0].revents & POLLOUT)) break;  // hung up
                ready = true;
            }
            const ssize_t put = ::write(fd_, buf + written, n - written);
            if (put > 0) {
                written += static_cast<uint32_t>(put);
            } else if (put < 0 && errno == EAGAIN) {
                ready = false;
            } else if (!(put < 0 && errno == EINTR)) {
                break;  // hung up
            }
        }
        if (written < n) {
            // Hung up: the bytes go nowhere. Take the time they would take on the
            // line (at least a millisecond), so that a writer in a loop does not spin.
            lost_ = true;
            WaitUntil(std::max(Send(n - written), Clock::now() + std::chrono::milliseconds(1)));
            return false;
        }
        return WaitUntil(Send(n)) && (pty_ || Drain());
    }

    bool LineLost() override {
        if (lost_) return true;
        CallGate::Call call(gate_);
        if (!call) return lost_;
        pollfd fd = {fd_, 0, 0};
        if (poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL))) lost_ = true;
        return lost_;
    }

    void Close() override {
        if (!gate_.Close()) return;
        uint64_t one = 1;
        if (::write(wake_, &one, sizeof one) < 0) {
            // An eventfd write only fails on overflow; the closed gate still stops new calls.
        }
        gate_.WaitIdle();
        // A pseudo-terminal keeps TIOCEXCL after close: clear it first.
        HeldPorts().Remove(fd_);
        ioctl(fd_, TIOCNXCL);
        flock(fd_, LOCK_UN);
        ::close(fd_);
        ::close(wake_);
        fd_ = wake_ = -1;
    }

private:
    // Waits ms, or less when the port is closed meanwhile.
    void WaitQuietly(int ms) { WaitUntil(Clock::now() + std::chrono::milliseconds(ms)); }

    // Waits until then; false when the port was closed meanwhile.
    bool WaitUntil(Clock::time_point then) {
        for (;;) {
            const auto left = then - Clock::now();
            if (left <= Clock::duration::zero()) return true;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            const timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
            pollfd fd = {wake_, POLLIN, 0};
            const int r = ppoll(&fd, 1, &ts, nullptr);
            if (r > 0) return false;
            if (r < 0 && errno != EINTR) return true;
        }
    }

    // Notes n characters handed to the line; when the write may return.
    Clock::time_point Send(uint64_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        return line_.Send(dcb_, n, Clock::now());
    }

    // On a real UART the kernel may hold more than the line clock allows for (a slower
    // line than set, a driver buffer): wait until its output queue is down to the
    // clock's FIFO, for at most a second. A pseudo-terminal holds nothing back (its
    // queue always reads empty), so it is not asked: the flood writes some 60 times a second.
    bool Drain() {
        const auto limit = Clock::now() + std::chrono::seconds(1);
        int queued = 0;
        while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && static_cast<uint64_t>(queued) > LineClock::kFifoHigh &&
               Clock::now() < limit) {
            DCB dcb;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                dcb = dcb_;
            }
            const auto wait = LineClock::Time(dcb, static_cast<uint64_t>(queued) - LineClock::kFifoLow);
            if (!WaitUntil(std::min(Clock::now() + std::max<Clock::duration>(wait, std::chrono::microseconds(200)), limit)))
                return false;
        }
        return true;
    }

    // The far end of a pseudo-terminal (zlsim, a bridge): a Unix98 pty slave, majors 136-143.
    static bool IsPseudoTerminal(int fd) {
        struct stat st;
        return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    }

    int fd_;
    int wake_;
    const bool pty_;  // a pseudo-terminal: no kernel queue to drain
    CallGate gate_;
    std::mutex mutex_;  // the settings and the line clock
    std::atomic<bool> lost_{false};
    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    LineClock line_;  // under mutex_
};

}  // namespace

PortHandle CreatePortHandle(const std::u16string& deviceName) {
    const std::string path = ResolvePortPath(deviceName);
    if (path.empty()) return nullptr;
    // Non-blocking, so that a modem line waiting for carrier cannot hang the open.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto fail = [fd]() -> PortHandle {
        ::close(fd);
        return nullptr;
    };
    // A built-in serial slot with no UART behind it (many PCs have /dev/ttyS0-3 whether
    // or not there is a chip) opens like any port but carries nothing: leave it out.
    if (IsEmptySerialSlot(fd) || !isatty(fd)) return fail();
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) return fail();  // another opener holds it
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail();
    if (UucpLockHeld(path)) return fail();
    if (ioctl(fd, TIOCEXCL) != 0) return fail();
    QuietLine(fd);
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ioctl(fd, TIOCNXCL);
        return fail();
    }
    return std::make_shared<PosixSerialPort>(fd, wake);
}

void ReleaseExclusiveMarks() { HeldPorts().ClearExclusiveMarks(); }

std::vector<std::u16string> OpenablePorts() {
    std::vector<std::u16string> names;
    for (int n = 1; n <= kComCount; ++n) {
        const std::u16string device = ComDeviceName(n);
        if (PortHandle port = CreatePortHandle(device)) {
            port->Close();
            names.push_back(device);
        }
    }
    return names;
}

}  // namespace zl
