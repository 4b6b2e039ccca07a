// bzl against zlsim: a temporary configuration, zlsim published as COM kCom, bzl run
// as a child process that the test watches through its output.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/bzl_process.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

namespace zl::test {

class BzlScenario : public ::testing::Test {
protected:
    void Sim(const std::string& kind, int com, std::vector<std::string> args = {"--no-pacing"}) {
        com_ = com;
        flash = env.dir() + "/flash.bin";
        args.insert(args.end(), {"--flash", flash});
        sim = std::make_unique<ZlSim>(kind, com, env.dir() + "/line.jsonl", args);
        ASSERT_TRUE(sim->Ready());
    }
    std::string Port() const { return "COM" + std::to_string(com_); }
    std::string File(const std::string& name) const { return env.dir() + "/" + name; }
    std::string Image(const std::string& name, size_t length, std::vector<std::string> extra = {}) {
        const std::string path = File(name);
        std::vector<std::string> args = {"pic32", "--length", std::to_string(length), "-o", path};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_TRUE(ZlSim::Zlfw(args));
        return path;
    }
    void Command(const std::string& line) { ASSERT_EQ(sim->Command(line).substr(0, 2), "ok") << line; }
    // Starts bzl and switches the device on once bzl searches for it.
    std::unique_ptr<BzlProcess> StartAndSwitchOn(const std::vector<std::string>& args) {
        auto p = std::make_unique<BzlProcess>(args, env.dir());
        EXPECT_TRUE(WaitFor([&] { return Searching(*p); })) << p->Out() << p->Err();
        Command("power on");
        return p;
    }
    // Runs bzl on a device switched on while it searches, and switches it off at the end.
    int RunOnDevice(const std::vector<std::string>& args, std::string* out = nullptr) {
        auto p = StartAndSwitchOn(args);
        const int code = p->Wait();
        if (out) *out = p->Out() + p->Err();
        Command("power off");
        return code;
    }
    static bool Searching(const BzlProcess& p) {
        const std::string out = p.Out();
        return out.find("Suche nach Ger") != std::string::npos || out.find("searching for device") != std::string::npos;
    }
    static bool WaitFor(const std::function<bool()>& pred, std::chrono::seconds timeout = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // The lines of the record file of this test.
    std::vector<std::string> Records(const std::string& path = "") const {
        std::vector<std::string> lines;
        const std::string text = ReadFile(path.empty() ? env.dir() + "/state/Hallwyn/BootloaderZL/records.ndjson" : path);
        for (size_t p = 0, e; (e = text.find('\n', p)) != std::string::npos; p = e + 1) lines.push_back(text.substr(p, e - p));
        return lines;
    }

    TempEnv env;
    std::string flash;
    std::unique_ptr<ZlSim> sim;
    int com_ = 0;
};

}  // namespace zl::test
