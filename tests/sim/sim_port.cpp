#include "tests/sim/sim_port.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <thread>

namespace zl::simtest {
namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<Ms>(end - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

speed_t Speed(unsigned baud) { return baud == 57600 ? B57600 : baud == 9600 ? B9600 : B115200; }

}  // namespace

std::string PortLink(int com) {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    return std::string(xdg ? xdg : "") + "/Hallwyn/ports/com" + std::to_string(com);
}

bool LinkExists(int com) {
    char buf[PATH_MAX];
    return readlink(PortLink(com).c_str(), buf, sizeof buf) >= 0;
}

std::string LinkTarget(int com) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(PortLink(com).c_str(), buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

bool WaitUntilFn(bool (*pred)(void*), void* arg, Ms timeout) {
    const auto end = Clock::now() + timeout;
    while (!pred(arg)) {
        if (Clock::now() >= end) return pred(arg);
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

SimPort::~SimPort() { Close(); }

bool SimPort::Open(const std::string& path, unsigned baud) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return Close(), false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, Speed(baud));
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return Close(), false;
    tcflush(fd_, TCIOFLUSH);
    hangup_ = false;
    return true;
}

void SimPort::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void SimPort::Write(const std::string& bytes) {
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            hangup_ = true;
            return;
        }
        done += static_cast<size_t>(n);
        written_ += static_cast<size_t>(n);
    }
}

void SimPort::WriteBytewise(const std::string& bytes) {
    for (char c : bytes) Write(std::string(1, c));
}

std::string SimPort::ReadSome(Ms wait) {
    if (fd_ < 0) return {};
    pollfd p{fd_, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(wait.count()));
    if (r <= 0) return {};
    if (p.revents & POLLIN) {
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) return std::string(buf, static_cast<size_t>(n));
        if (n == 0 || errno == EIO) hangup_ = true;
        return {};
    }
    if (p.revents & (POLLHUP | POLLERR)) {
        hangup_ = true;
        std::this_thread::sleep_for(wait);  // a dead line stays quiet; do not spin
    }
    return {};
}

std::string SimPort::ReadUntilSilent(Ms silence, Ms limit) {
    std::string all;
    const auto end = Clock::now() + limit;
    for (;;) {
        const std::string got = ReadSome(std::min(silence, Ms(LeftMs(end))));
        if (got.empty()) return all;
        all += got;
        if (Clock::now() >= end) return all;
    }
}

std::string SimPort::ReadUntil(const std::string& text, Ms timeout) {
    std::string all;
    const auto end = Clock::now() + timeout;
    while (all.find(text) == std::string::npos && LeftMs(end) > 0 && !hangup_) all += ReadSome(Ms(LeftMs(end)));
    return all;
}

std::string SimPort::ReadCount(size_t n, Ms timeout) {
    std::string all;
    const auto end = Clock::now() + timeout;
    while (all.size() < n && LeftMs(end) > 0 && !hangup_) all += ReadSome(Ms(LeftMs(end)));
    return all;
}

std::string SimPort::WakeUntil(const std::string& text, Ms timeout) {
    std::string all;
    const auto end = Clock::now() + timeout;
    while (all.find(text) == std::string::npos && Clock::now() < end && !hangup_) {
        for (int i = 0; i < 8; ++i) Write("BoOt\r");
        all += ReadSome(0ms);
    }
    return all;
}

std::string SimPort::WakeFor(Ms duration) {
    std::string all;
    const auto end = Clock::now() + duration;
    while (Clock::now() < end && !hangup_) {
        for (int i = 0; i < 8; ++i) Write("BoOt\r");
        all += ReadSome(0ms);
    }
    return all;
}

bool SimPort::HungUp() {
    if (!hangup_ && fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) > 0) {
            if (p.revents & (POLLHUP | POLLERR)) hangup_ = true;
            else if (p.revents & POLLIN) {
                char c;
                const ssize_t n = read(fd_, &c, 1);
                if (n == 0 || (n < 0 && errno == EIO)) hangup_ = true;
            }
        }
    }
    return hangup_;
}

SimProcess::SimProcess(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(ZLSIM_PATH));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(ZLSIM_PATH, argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGTERM);
        if (!Wait(5s)) {
            kill(pid_, SIGKILL);
            Wait(5s);
        }
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0) close(fd);
}

std::string SimProcess::ReadLine(Ms timeout) {
    const auto end = Clock::now() + timeout;
    for (;;) {
        const size_t nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        if (out_ < 0) return {};
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, LeftMs(end)) <= 0) return {};
        char buf[512];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return {};
        buffer_.append(buf, static_cast<size_t>(n));
    }
}

std::string SimProcess::WaitReady(Ms timeout) {
    const std::string line = ReadLine(timeout);
    return line.rfind("ready ", 0) == 0 ? line : std::string();
}

std::string SimProcess::Command(const std::string& line, Ms timeout) {
    if (in_ < 0) return {};
    const std::string l = line + "\n";
    if (write(in_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return {};
    return ReadLine(timeout);
}

void SimProcess::CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

void SimProcess::Signal(int sig) {
    if (pid_ > 0 && !status_) kill(pid_, sig);
}

std::optional<int> SimProcess::Wait(Ms timeout) {
    if (status_ || pid_ <= 0) return status_;
    const auto end = Clock::now() + timeout;
    for (;;) {
        int st = 0;
        const pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) return status_ = st;
        if (r < 0 || Clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

std::string SimProcess::Stderr() {
    std::string all;
    if (err_ < 0) return all;
    for (;;) {
        pollfd p{err_, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) return all;
        char buf[512];
        const ssize_t n = read(err_, buf, sizeof buf);
        if (n <= 0) return all;
        all.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace zl::simtest
