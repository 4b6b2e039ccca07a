#include "tests/cli/bzl_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

namespace zl::test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

BzlProcess::BzlProcess(const std::vector<std::string>& args, const std::string& dir, const std::string& input) {
    static std::atomic<int> serial{0};
    const std::string n = std::to_string(serial++);
    outPath_ = dir + "/bzl" + n + ".out";
    errPath_ = dir + "/bzl" + n + ".err";
    const std::string state = dir + "/state";
    pid_ = fork();
    if (pid_ == 0) {
        const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        setenv("XDG_STATE_HOME", state.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(BZL_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(BZL_PATH, argv.data());
        _exit(127);
    }
}

BzlProcess::~BzlProcess() {
    if (pid_ > 0 && code_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void BzlProcess::Signal(int sig) {
    if (pid_ > 0 && code_ < 0) kill(pid_, sig);
}

int BzlProcess::Wait(std::chrono::seconds timeout) {
    if (code_ >= 0) return code_;
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return code_;
        }
        if (std::chrono::steady_clock::now() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string BzlProcess::Out() const { return ReadFile(outPath_); }
std::string BzlProcess::Err() const { return ReadFile(errPath_); }

int BzlProcess::Run(const std::vector<std::string>& args, const std::string& dir, std::string* out, std::string* err) {
    BzlProcess p(args, dir);
    const int code = p.Wait();
    if (out) *out = p.Out();
    if (err) *err = p.Err();
    return code;
}

}  // namespace zl::test
