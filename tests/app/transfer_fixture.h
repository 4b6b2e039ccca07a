// Shared set-up of the transfer tests: a dialog without a window, an in-memory
// device on its port, files in a temporary folder.
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/bootloader_dlg.h"
#include "tests/support/script_platform.h"
#include "platform/text_convert.h"
#include "platform/threads.h"
#include "res/resources.h"
#include "tests/support/fake_port.h"
#include "tests/support/temp_env.h"

namespace zl::test {

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (dlg) TearDown();
        platform = std::make_unique<ScriptPlatform>();
        dlg = std::make_unique<CBootloaderZLDlg>(*platform);
        port = std::make_shared<FakePort>(std::chrono::milliseconds(10));
        dlg->m_hPort.Set(port);
        // Every change with the thread that made it: the worker runs on this thread, the
        // InfoThread it hands over to on another, and may already have redrawn the controls.
        Controls* controls = &dlg->m_controls;
        controls->SetListener([this, controls](int id) {
            const ControlState state = controls->Get(id);
            std::lock_guard<std::mutex> lock(historyMutex_);
            history_.push_back({std::this_thread::get_id(), id, state});
        });
    }
    // The state in which the worker run by Run() left a control.
    ControlState Left(int id) {
        std::lock_guard<std::mutex> lock(historyMutex_);
        for (auto it = history_.rbegin(); it != history_.rend(); ++it)
            if (it->thread == std::this_thread::get_id() && it->id == id) return it->state;
        return dlg->m_controls.Get(id);
    }
    void TearDown() override {
        if (dlg) dlg->m_controls.SetListener(nullptr);
        dlg.reset();  // ends the InfoThread the transfer handed over to
        platform.reset();
    }
    // The device: answer(all bytes written so far, the latest write) gives its reply.
    void Device(std::function<std::string(const std::string& all, const std::string& last)> answer) {
        auto all = std::make_shared<std::string>();
        port->SetResponder([all, answer](const std::string& bytes) {
            *all += bytes;
            return answer(*all, bytes);
        });
    }
    static bool EndsWith(const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    }
    std::string MakeFile(const std::string& name, const std::string& content) {
        const std::string path = env.dir() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string Pattern(size_t n, unsigned seed = 1) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 9)) & 0xFF);
        return s;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Runs a worker on this thread and waits until the InfoThread it hands over to runs.
    void Run(unsigned (*proc)(CBootloaderZLDlg*)) { proc(dlg.get()); }
    std::u16string U(const std::string& s) { return FromUtf8(s); }

    struct Change {
        std::thread::id thread;
        int id;
        ControlState state;
    };
    std::mutex historyMutex_;
    std::vector<Change> history_;

    TempEnv env;
    std::unique_ptr<ScriptPlatform> platform;
    std::unique_ptr<CBootloaderZLDlg> dlg;
    std::shared_ptr<FakePort> port;
};

}  // namespace zl::test
