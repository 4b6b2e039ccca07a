#include "tests/support/zlsim_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace zl::test {
namespace {

pid_t Spawn(const std::string& path, const std::vector<std::string>& args, int* in, int* out) {
    int toChild[2] = {-1, -1}, fromChild[2] = {-1, -1};
    if (in && pipe2(toChild, O_CLOEXEC) != 0) return -1;
    if (out && pipe2(fromChild, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        // Moved above the standard descriptors first: a test run with its own standard
        // input or output closed gets pipe ends 0 or 1, which dup2 would leave close-on-exec.
        const int childIn = in ? fcntl(toChild[0], F_DUPFD, 3) : -1;
        const int childOut = out ? fcntl(fromChild[1], F_DUPFD, 3) : -1;
        if (childIn >= 0) dup2(childIn, STDIN_FILENO);
        if (childOut >= 0) dup2(childOut, STDOUT_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    if (in) {
        close(toChild[0]);
        *in = toChild[1];
    }
    if (out) {
        close(fromChild[1]);
        *out = fromChild[0];
    }
    return pid;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    auto v = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(v(hex[i]) * 16 + v(hex[i + 1])));
    return out;
}

std::string Field(const std::string& line, const std::string& key) {
    const std::string k = "\"" + key + "\": ";
    size_t p = line.find(k);
    if (p == std::string::npos) return {};
    p += k.size();
    if (line[p] == '"') {
        const size_t e = line.find('"', p + 1);
        return line.substr(p + 1, e - p - 1);
    }
    const size_t e = line.find_first_of(",}", p);
    return line.substr(p, e - p);
}

}  // namespace

ZlSim::ZlSim(const std::string& kind, int com, const std::string& logPath, std::vector<std::string> extraArgs)
    : logPath_(logPath) {
    // A zlsim that has ended makes a command fail instead of ending the test process.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args = {"--kind", kind, "--com", std::to_string(com), "--log", logPath};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    pid_ = Spawn(ZLSIM_PATH, args, &in_, &out_);
    const std::string line = ReadLine(std::chrono::seconds(10));
    if (line.rfind("ready ", 0) == 0) {
        ready_ = true;
        slave_ = line.substr(line.rfind(' ') + 1);
    }
}

ZlSim::~ZlSim() { Stop(); }

int ZlSim::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    in_ = out_ = -1;
    return status;
}

std::string ZlSim::ReadLine(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return {};
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) return {};
        char buf[512];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return {};
        buffer_.append(buf, static_cast<size_t>(n));
    }
}

std::string ZlSim::Command(const std::string& line) {
    if (in_ < 0) return {};
    const std::string l = line + "\n";
    if (write(in_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return {};
    return ReadLine(std::chrono::seconds(10));
}

std::vector<ZlSim::Entry> ZlSim::Log() const {
    uint64_t offset = 0;
    return LogFrom(offset);
}

std::vector<ZlSim::Entry> ZlSim::LogFrom(uint64_t& offset) const {
    std::vector<Entry> entries;
    std::ifstream in(logPath_);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof() || (!line.empty() && line.back() != '}')) break;  // a line still being written
        offset += line.size() + 1;
        if (line.empty()) continue;
        Entry e;
        e.t_us = std::atoll(Field(line, "t_us").c_str());
        e.dir = Field(line, "dir");
        e.bytes = Unhex(Field(line, "hex"));
        e.event = Field(line, "ev");
        e.name = Field(line, "name");
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string ZlSim::Received() const {
    std::string all;
    for (const Entry& e : Log())
        if (e.dir == "rx") all += e.bytes;
    return all;
}

std::string ZlSim::Sent() const {
    std::string all;
    for (const Entry& e : Log())
        if (e.dir == "tx") all += e.bytes;
    return all;
}

size_t ZlSim::Count(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + needle.size())) ++n;
    return n;
}

int64_t ZlSim::EventTime(const std::string& event, const std::string& name) const {
    for (const Entry& e : Log())
        if (e.event == event && (name.empty() || e.name == name)) return e.t_us;
    return -1;
}

bool ZlSim::WaitFor(const std::function<bool(const ZlSim&)>& pred, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred(*this)) {
        if (std::chrono::steady_clock::now() > end) return pred(*this);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool ZlSim::Zlfw(const std::vector<std::string>& args) {
    const pid_t pid = Spawn(ZLFW_PATH, args, nullptr, nullptr);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace zl::test
