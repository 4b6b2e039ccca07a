// bzl as a child process of a test: its arguments, its exit code, what it printed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace zl::test {

class BzlProcess {
public:
    // Starts bzl with args; its standard output and error go to files in dir. It
    // inherits the test's environment (XDG_CONFIG_HOME of TempEnv) with XDG_STATE_HOME
    // set to dir/state.
    // Standard input is input when given (a file or a FIFO), else /dev/null.
    BzlProcess(const std::vector<std::string>& args, const std::string& dir, const std::string& input = "");
    ~BzlProcess();
    void Signal(int sig);
    pid_t Pid() const { return pid_; }
    // Waits for the end; the exit code, 128 + n after signal n, -1 on time-out.
    int Wait(std::chrono::seconds timeout = std::chrono::seconds(120));
    std::string Out() const;
    std::string Err() const;

    // Runs bzl to its end.
    static int Run(const std::vector<std::string>& args, const std::string& dir, std::string* out = nullptr,
                   std::string* err = nullptr);

private:
    pid_t pid_ = -1;
    int code_ = -1;
    std::string outPath_, errPath_;
};

std::string ReadFile(const std::string& path);

}  // namespace zl::test
