// The platform layer on the Win32 dialog manager: the dialogs, boxes owned by the
// main dialog, the file dialogs, text measurement, the timer and the registry profile.
#pragma once

#include <atomic>
#include <memory>

#include "platform/platform.h"

namespace zl::win {

class DialogWindow;

class Win32Platform : public Platform {
public:
    Win32Platform();
    ~Win32Platform() override;

    int DoModal(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                DialogCallbacks& callbacks) override;
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

private:
    // Runs fn on the main dialog's thread and waits for it (at once when there is no
    // main dialog, or on that thread).
    void OnUiThread(const std::function<void()>& fn);
    void* MainHandle() const;

    std::atomic<DialogWindow*> main_{nullptr};
    std::unique_ptr<Profile> profile_;
};

}  // namespace zl::win
