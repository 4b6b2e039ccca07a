// What the dialog logic needs from the window system and the process: the stand-in
// for the Windows dialog manager, message and file boxes, the timer and the profile.
// Two faces implement it: the Qt window for users, a scripted one for tests.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/controls.h"
#include "platform/dialog_template.h"
#include "platform/profile.h"
#include "platform/transfer.h"

namespace zl {

// The handlers a modal dialog's window routes to its owner. All run on the
// user-interface thread.
class DialogCallbacks {
public:
    virtual ~DialogCallbacks() = default;
    virtual bool OnInitDialog() = 0;
    virtual void OnShowWindow(bool show, int status) = 0;
    virtual void OnCommand(int id, int code) = 0;  // buttons, combo notifications, menu
    virtual void OnTimer(unsigned id) = 0;
    // True while a tick would do nothing (the search runs). A face may then sleep through
    // its ticks until Platform::TickResumes, and goes on with them on the same schedule.
    virtual bool TickIsIdle() const { return false; }
    virtual void OnSysCommand(unsigned command) = 0;
    // Enter, Esc or the window's Close: true when the dialog may end now. While a
    // transfer runs the dialog answers false (after telling the user to wait).
    virtual bool OnClose() = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Runs the main dialog modally: builds its window from the template, calls
    // OnInitDialog, then OnShowWindow(true, 0) when it is first shown, and routes
    // commands and timer expiries until the dialog ends (Enter, Esc, Close).
    virtual int DoModal(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                        DialogCallbacks& callbacks) = 0;
    // Runs a small modal dialog (the About boxes). onShow runs each time the dialog is
    // shown; the result is IDOK for its OK button, IDCANCEL otherwise.
    virtual int RunSubDialog(const DialogTemplate& dlg, Controls& controls, const std::function<void()>& onShow) = 0;
    // Starts the periodic timer of the running main dialog.
    virtual void SetTimer(unsigned id, unsigned ms) = 0;

    // A modal box owned by the main window, callable from any thread; waits for the user.
    // An empty title stands for the application name.
    virtual int MessageBox(const std::u16string& text, const std::u16string& title, unsigned type) = 0;
    // The open (open = true) or save file dialog with a pipe-separated filter; the chosen
    // full path, or nothing when the user cancels.
    virtual std::optional<std::u16string> FileDialog(bool open, const std::u16string& filter,
                                                     const std::u16string& defExt, unsigned flags) = 0;

    // Width in pixels of a control's window rectangle, and of a text in its font.
    virtual int ControlWidth(int id) = 0;
    virtual int TextWidth(int id, const std::u16string& text) = 0;

    virtual Profile& GetProfile() = 0;
    virtual std::u16string AppName() = 0;

    // The dialog's ticks do something again (the search has ended): a face that sleeps
    // through idle ticks wakes for the next one. Any thread.
    virtual void TickResumes() {}

    // Ends the program this dialog is, at once, without the dialog's shutdown code. A
    // window face ends the process. The headless face, where one process runs many
    // dialogs, ends this dialog's loop, and the calling thread when it is a worker.
    [[noreturn]] virtual void EndProgram(int code) = 0;

    // What the core publishes as it works, on the thread where it happens (a worker or
    // the user-interface thread); a face that shows only the controls ignores it.
    // The dialog's state changed; status is the status line's new text.
    virtual void StateChanged(DialogState state, const std::u16string& status) { (void)state, (void)status; }
    // The panels show the connected device anew.
    virtual void DeviceShownChanged(const DeviceShown& device) { (void)device; }
    // A transfer's phase moved on (at most every block or piece).
    virtual void TransferProgressed(const TransferProgress& progress) { (void)progress; }
    // A load, readout or verify has ended (before the connected state resumes).
    virtual void TransferEnded(const TransferRecord& record) { (void)record; }
};

}  // namespace zl
