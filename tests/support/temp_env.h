// A temporary configuration directory for one test process: the profile and the
// port directory live in it, and the machine's own serial ports are left out.
#pragma once

#include <string>

namespace zl::test {

class TempEnv {
public:
    TempEnv();
    ~TempEnv();
    const std::string& dir() const { return dir_; }
    std::string PortDir() const;
    std::string ProfilePath() const;  // the QSettings file of the program
    // Links COM n to path in the port directory.
    void LinkPort(int n, const std::string& path) const;
    void UnlinkPort(int n) const;
    // Writes the profile file with the given INI text (in the [General] group).
    void WriteProfile(const std::string& iniBody) const;
    std::string ReadProfile() const;

private:
    std::string dir_;
};

}  // namespace zl::test
