// A pseudo-terminal for tests that play the device's side of the line themselves.
#pragma once

#include <chrono>
#include <string>

namespace zl::test {

class PtyPair {
public:
    PtyPair();   // raw, with the slave kept open here so the master never hangs up
    ~PtyPair();
    const std::string& SlavePath() const { return slavePath_; }
    int master() const { return master_; }
    // Writes bytes to the program's side.
    void Send(const std::string& bytes) const;
    // Reads what the program sent, for up to timeout after the first byte's silence.
    std::string Receive(std::chrono::milliseconds quiet = std::chrono::milliseconds(50)) const;
    // Hangs up the line: the program's reads then fail.
    void HangUp();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace zl::test
