// A dialog running on the scripted face's user-interface thread, with its own
// profile and port directory: what the end-to-end scenarios drive.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/bootloader_dlg.h"
#include "tests/support/script_platform.h"
#include "tests/support/temp_env.h"

namespace zl::test {

class DialogHarness {
public:
    // The profile lines are written before the dialog starts (INI, [General]).
    explicit DialogHarness(TempEnv& env, const std::string& profile = "");
    ~DialogHarness();

    // Runs the start-up (initialisation and first show) and the 50 ms timer.
    void Start();
    // Ends the dialog (Esc) and waits for its threads.
    void Stop();

    // A click as a user makes it: ignored when the control is disabled or hidden.
    bool Click(int id);
    // A combo box as a user works it: the list opens, an entry is chosen, it closes.
    void ChooseInList(int id, int index);
    void OpenList(int id);
    void CloseList(int id);
    void Menu(int command);
    // Runs fn on the user-interface thread and returns its duration.
    std::chrono::milliseconds OnUi(const std::function<void()>& fn);

    bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool WaitForText(int id, const std::u16string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::u16string Text(int id) const { return dlg->m_controls.GetWindowText(id); }
    bool Enabled(int id) const { return dlg->m_controls.IsWindowEnabled(id); }

    ScriptPlatform platform;
    std::unique_ptr<CBootloaderZLDlg> dlg;

private:
    bool started_ = false;
};

}  // namespace zl::test
