// The platform layer on Qt Widgets: the dialog windows, boxes, file dialogs, text
// measurement, the timer and the profile.
#pragma once

#include <atomic>
#include <memory>

#include "platform/platform.h"

namespace zl {

class DialogWindow;

class QtPlatform : public Platform {
public:
    QtPlatform();
    ~QtPlatform() override;

    int DoModal(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                DialogCallbacks& callbacks) override;
    // The first half of DoModal: builds the main window, makes it the owner of boxes and
    // file dialogs and runs OnInitDialog. The window is not shown yet; showing it runs
    // OnShowWindow. DoModal then runs it modally; tests show it themselves.
    std::unique_ptr<DialogWindow> OpenMainWindow(const DialogTemplate& dlg, const MenuTemplate* menu,
                                                 Controls& controls, DialogCallbacks& callbacks);
    int RunSubDialog(const DialogTemplate& dlg, Controls& controls, const std::function<void()>& onShow) override;
    void SetTimer(unsigned id, unsigned ms) override;
    int MessageBox(const std::u16string& text, const std::u16string& title, unsigned type) override;
    std::optional<std::u16string> FileDialog(bool open, const std::u16string& filter, const std::u16string& defExt,
                                             unsigned flags) override;
    int ControlWidth(int id) override;
    int TextWidth(int id, const std::u16string& text) override;
    Profile& GetProfile() override;
    std::u16string AppName() override;
    [[noreturn]] void EndProgram(int code) override;

    DialogWindow* MainWindow() const { return main_; }
    // The program is ending: the open boxes and dialogs are answered as Esc answers
    // them, and every later one at once, unshown. Main thread only.
    void EndBoxes();

private:
    // Runs fn on the user-interface thread and waits for it.
    void OnUiThread(const std::function<void()>& fn);

    DialogWindow* main_ = nullptr;
    std::atomic<bool> boxesEnded_{false};
    std::unique_ptr<Profile> profile_;
};

}  // namespace zl
