#include "tests/support/dialog_harness.h"

#include "platform/threads.h"
#include "platform/win32.h"

namespace zl::test {

namespace {
void WriteProfileFirst(TempEnv& env, const std::string& profile) {
    if (!profile.empty()) env.WriteProfile(profile);
}
}  // namespace

DialogHarness::DialogHarness(TempEnv& env, const std::string& profile)
    : platform((WriteProfileFirst(env, profile), ScriptPlatform())) {
    dlg = std::make_unique<CBootloaderZLDlg>(platform);
}

DialogHarness::~DialogHarness() { Stop(); }

void DialogHarness::Start() {
    started_ = true;
    platform.StartUi([this] { dlg->DoModal(); });
    WaitFor([this] { return platform.TimerCount() > 0 || !platform.UiRunning(); });
}

void DialogHarness::Stop() {
    if (!started_) return;
    started_ = false;
    platform.EndUi();
    dlg.reset();  // tells the workers to end and waits for them
}

bool DialogHarness::Click(int id) {
    bool done = false;
    platform.Call([&] {
        if (!dlg->m_controls.IsWindowEnabled(id) || !dlg->m_controls.IsWindowVisible(id)) return;
        dlg->OnCommand(id, BN_CLICKED);
        done = true;
    });
    return done;
}

void DialogHarness::OpenList(int id) {
    platform.Call([&] { dlg->OnCommand(id, CBN_DROPDOWN); });
}

void DialogHarness::CloseList(int id) {
    platform.Call([&] { dlg->OnCommand(id, CBN_CLOSEUP); });
}

void DialogHarness::ChooseInList(int id, int index) {
    platform.Call([&] {
        dlg->OnCommand(id, CBN_DROPDOWN);
        if (dlg->m_controls.GetCurSel(id) != index) {
            dlg->m_controls.SetCurSel(id, index);
            dlg->OnCommand(id, CBN_SELCHANGE);
        }
        dlg->OnCommand(id, CBN_CLOSEUP);
    });
}

void DialogHarness::Menu(int command) {
    platform.Call([&] { dlg->OnCommand(command, 0); });
}

std::chrono::milliseconds DialogHarness::OnUi(const std::function<void()>& fn) {
    const auto t0 = std::chrono::steady_clock::now();
    platform.Call(fn);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
}

bool DialogHarness::WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    return ScriptPlatform::WaitUntil(pred, timeout);
}

bool DialogHarness::WaitForText(int id, const std::u16string& text, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return Text(id) == text; }, timeout);
}

}  // namespace zl::test
