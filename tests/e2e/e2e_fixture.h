// An end-to-end scenario: the dialog on its user-interface thread, zlsim on a real
// pseudo-terminal, a profile that selects zlsim's port and the device type.
#pragma once

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text_convert.h"
#include "res/resources.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

namespace zl::test {

class Scenario : public ::testing::Test {
protected:
    static constexpr int kCom = 42;

    void Launch(const std::string& kind, int device, std::vector<std::string> simArgs = {"--no-pacing"}) {
        flash = env.dir() + "/flash.bin";
        simArgs.insert(simArgs.end(), {"--flash", flash});
        sim = std::make_unique<ZlSim>(kind, kCom, env.dir() + "/line.jsonl", simArgs);
        ASSERT_TRUE(sim->Ready());
        ui = std::make_unique<DialogHarness>(
            env, "PrevCOM=\\\\\\\\.\\\\COM" + std::to_string(kCom) + "\nPrevDevice=" + std::to_string(device) + "\n");
        ui->Start();
    }
    void TearDown() override {
        if (HasFailure()) Report();
        ui.reset();
        sim.reset();
    }
    // What a failed scenario saw: the window's state and the end of zlsim's line log.
    void Report() const {
        if (ui) {
            std::printf("status \"%s\", threads \"%s\", %zu box(es)\n", ToUtf8(ui->Text(IDC_STATUS)).c_str(),
                        ToUtf8(ui->Text(IDC_THREADS)).c_str(), ui->platform.Boxes().size());
            for (const auto& box : ui->platform.Boxes())
                std::printf("box \"%s\": %s\n", ToUtf8(box.title).c_str(), ToUtf8(box.text).c_str());
        }
        if (!sim) return;
        const auto log = sim->Log();
        const int64_t t0 = log.empty() ? 0 : log.front().t_us;
        std::printf("zlsim's log, %zu entries; the last ones (ms since the first):\n", log.size());
        for (size_t i = log.size() > 40 ? log.size() - 40 : 0; i < log.size(); ++i) {
            const auto& e = log[i];
            std::string what = e.dir.empty() ? e.event + " " + e.name : e.dir + " " + std::to_string(e.bytes.size()) + " B ";
            for (char c : e.bytes.substr(0, 24)) what += (c >= 0x20 && c < 0x7f) ? c : '.';
            std::printf("  %9.1f %s\n", (e.t_us - t0) / 1000.0, what.c_str());
        }
    }
    void Power(bool on) { ASSERT_EQ(sim->Command(on ? "power on" : "power off").substr(0, 2), "ok"); }
    std::string File(const std::string& name) const { return env.dir() + "/" + name; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Switches Auto-Load on with the given file, as the user does with the button.
    void AutoLoad(const std::string& path) {
        ui->platform.QueueFileAnswer(FromUtf8(path));
        ASSERT_TRUE(ui->Click(IDC_AUTOLOAD_ON));
        ASSERT_EQ(ui->dlg->m_strAutoLoadPath.Get(), FromUtf8(path));
    }
    size_t Loads() const {
        size_t n = 0;
        for (const auto& e : sim->Log())
            if (e.event == "loaded") ++n;
        return n;
    }
    bool Connected(std::chrono::seconds timeout = std::chrono::seconds(20)) {
        return ui->WaitForText(IDC_STATUS, u"Ger\u00e4t angeschlossen und bereit", timeout);
    }

    TempEnv env;
    std::string flash;
    std::unique_ptr<ZlSim> sim;
    std::unique_ptr<DialogHarness> ui;
};

}  // namespace zl::test
