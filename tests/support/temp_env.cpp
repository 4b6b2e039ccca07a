#include "tests/support/temp_env.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/serial.h"

namespace zl::test {

TempEnv::TempEnv() {
    char pattern[] = "/tmp/bzl-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    std::filesystem::create_directories(PortDir());
    UseDefaultPortTable(false);
}

TempEnv::~TempEnv() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string TempEnv::PortDir() const { return dir_ + "/Hallwyn/ports"; }

std::string TempEnv::ProfilePath() const { return dir_ + "/Hallwyn/BootloaderZL.conf"; }

void TempEnv::LinkPort(int n, const std::string& path) const {
    const std::string link = PortDir() + "/com" + std::to_string(n);
    unlink(link.c_str());
    if (symlink(path.c_str(), link.c_str()) != 0) throw std::runtime_error("symlink " + link);
}

void TempEnv::UnlinkPort(int n) const { unlink((PortDir() + "/com" + std::to_string(n)).c_str()); }

void TempEnv::WriteProfile(const std::string& iniBody) const {
    std::filesystem::create_directories(dir_ + "/Hallwyn");
    std::ofstream(ProfilePath()) << "[General]\n" << iniBody;
}

std::string TempEnv::ReadProfile() const {
    std::ifstream in(ProfilePath());
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace zl::test
