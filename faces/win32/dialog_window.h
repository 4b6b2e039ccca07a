// A dialog of the Win32 dialog manager, built at run time from a template of res/
// (an in-memory DLGTEMPLATE), that mirrors a controls model. The model may change on
// any thread; the changes are posted to the dialog's thread and applied there.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/controls.h"
#include "platform/dialog_template.h"
#include "platform/platform.h"

namespace zl::win {

struct ComboTips;

// Private messages of the dialogs.
constexpr unsigned kMsgFlush = 0x8000 + 1;  // WM_APP + 1: apply the model's changes
constexpr unsigned kMsgRun = 0x8000 + 2;    // WM_APP + 2: run the std::function at lParam

// The DLGTEMPLATE (with its DLGITEMTEMPLATEs) of a template, as DialogBoxIndirect reads it.
std::vector<uint16_t> BuildDialogTemplate(const DialogTemplate& dlg, bool mainWindow);

class DialogWindow {
public:
    // callbacks may be null (the About box); onShow runs each time the dialog is shown.
    DialogWindow(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls, DialogCallbacks* callbacks,
                 std::function<void()> onShow);
    ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Runs the dialog modally, owned by owner (an HWND, may be null); the value it
    // ended with (IDOK, IDCANCEL).
    intptr_t Run(void* owner);
    // The dialog's HWND while it runs, else null.
    void* Handle() const;

    // Called by the dialog procedure.
    intptr_t Message(void* hwnd, unsigned msg, uintptr_t wParam, intptr_t lParam);

private:
    void Init();
    void MarkDirty(int id);
    void Flush();
    void Apply(int id);
    void ApplyAll();
    void Command(int id, int code, void* control);
    void Close(int result);
    // The tooltips of a combo box's entries (ControlState's tips).
    void ApplyTips(int id, void* combo, const ControlState& st);

    const DialogTemplate& dlg_;
    const MenuTemplate* menuTemplate_;
    Controls& controls_;
    DialogCallbacks* callbacks_;
    std::function<void()> onShow_;
    void* hwnd_ = nullptr;  // under mutex_ for other threads
    void* menu_ = nullptr;
    bool applying_ = false;
    int focus_ = -1;
    std::vector<unsigned> sysCommands_;
    std::map<int, std::unique_ptr<ComboTips>> comboTips_;

    mutable std::mutex mutex_;
    std::set<int> dirty_;
    bool flushQueued_ = false;
};

}  // namespace zl::win
