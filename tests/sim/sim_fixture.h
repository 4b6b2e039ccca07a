// One zlsim per test, in the test's own configuration directory, with a flash file
// and a line log; the test talks to it through the port link as the program does.
#pragma once

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/sim/sim_port.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

namespace zl::simtest {

using zl::test::ZlSim;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

class SimLine : public ::testing::Test {
protected:
    // Starts zlsim of the kind on COM com, switched off, and opens its port.
    void Start(const std::string& kind, int com, std::vector<std::string> args = {}) {
        com_ = com;
        baud_ = kind == "pic32" ? 115200 : 57600;
        flash_ = env.dir() + "/flash.bin";
        args.insert(args.end(), {"--flash", flash_});
        sim = std::make_unique<ZlSim>(kind, com, env.dir() + "/line.jsonl", args);
        ASSERT_TRUE(sim->Ready());
        ASSERT_EQ(LinkTarget(com), sim->SlavePath());
        ASSERT_TRUE(port.Open(PortLink(com), baud_));
    }
    void Power(bool on) { ASSERT_EQ(sim->Command(on ? "power on" : "power off"), on ? "ok power on" : "ok power off"); }
    std::string Status() { return sim->Command("status"); }
    bool WaitStatus(const std::string& status, Ms timeout = 10s) {
        return WaitUntil([&] { return Status() == "ok " + status + " plugged"; }, timeout);
    }
    std::string Path(const std::string& name) const { return env.dir() + "/" + name; }
    std::string Flash() const { return ReadFile(flash_); }
    // A *.spic32 image made by zlfw.
    std::string Pic32Image(size_t length, std::vector<std::string> args = {}) {
        const std::string path = Path("fw" + std::to_string(images_++) + ".spic32");
        std::vector<std::string> a = {"pic32", "--length", std::to_string(length), "-o", path};
        a.insert(a.end(), args.begin(), args.end());
        EXPECT_TRUE(ZlSim::Zlfw(a));
        return ReadFile(path);
    }
    // Switches the PIC32 device on and wakes it as the search does: 'l', then the closing burst.
    void WakePic32() {
        Power(true);
        const std::string answer = port.WakeUntil("l");
        ASSERT_NE(answer.find('l'), std::string::npos) << "no answer to the wake-up";
        for (int i = 0; i < 500; ++i) port.Write("BoOt\r");
        Settle(300ms);
    }
    // Waits until zlsim has taken in every byte written so far, then until the line has
    // been quiet for `silence`: what the device said to those bytes is then read away.
    void Settle(Ms silence) {
        EXPECT_TRUE(WaitUntil([&] { return sim->Received().size() >= port.Written(); }, 20s));
        port.ReadUntilSilent(silence);
    }
    // Switches the HCS device on, wakes it until its answer line is in, and lets the line
    // fall quiet until the device takes commands.
    std::string WakeHcs() {
        Power(true);
        std::string answer = port.WakeUntil("\r\n");
        EXPECT_NE(answer.find("BOOT "), std::string::npos) << "no answer to the wake-up";
        answer += port.ReadUntilSilent(100ms);
        EXPECT_TRUE(WaitStatus("menu"));
        port.ReadUntilSilent(100ms);
        return answer;
    }
    // The menu request; zlsim may still be taking in wake-up strings written before it,
    // so the quiet spell that ends the answer is only looked for once it has the request.
    std::string Menu() {
        port.Command("menu");
        std::string answer;
        WaitUntil([&] {
            answer += port.ReadUntilSilent(0ms, 20ms);
            return sim->Received().size() >= port.Written();
        }, 20s);
        return answer + port.ReadUntilSilent(300ms);
    }
    // The PIC32 load as the program runs it: command, 200 ms, answer, blocks, 50 ms, dots.
    std::string Load(const std::string& image, std::string* startAnswer = nullptr) {
        port.Command("load");
        std::this_thread::sleep_for(200ms);
        const std::string start = port.ReadUntilSilent(300ms);
        if (startAnswer) *startAnswer = start;
        for (size_t at = 0; at + 512 <= image.size(); at += 512) port.Write(image.substr(at, 512));
        std::this_thread::sleep_for(50ms);
        return port.ReadUntilSilent(500ms);
    }
    size_t EventCount(const std::string& event) const {
        size_t n = 0;
        for (const auto& e : sim->Log())
            if (e.event == event) ++n;
        return n;
    }
    bool WaitEvent(const std::string& event, const std::string& name = "", Ms timeout = 10s) {
        return sim->WaitFor([&](const ZlSim& s) { return s.EventTime(event, name) >= 0; }, timeout);
    }

    zl::test::TempEnv env;
    std::unique_ptr<ZlSim> sim;
    SimPort port;
    std::string flash_;
    int com_ = 0;
    unsigned baud_ = 0;
    int images_ = 0;
};

}  // namespace zl::simtest
