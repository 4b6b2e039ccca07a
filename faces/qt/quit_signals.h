// The signals that ask a window program to end (SIGTERM: logout, shutdown, kill;
// SIGHUP: the terminal it was started from closed; SIGINT: Ctrl-C there) delivered as
// a call on the Qt main thread, so that the program can end as its Quit does. A signal
// the caller had ignored (nohup) stays ignored.
#pragma once

#include <functional>

namespace zl {

class CBootloaderZLDlg;
class QtPlatform;

// Installs the handlers once; onSignal runs on the main thread with the signal's number.
void QuitOnSignals(std::function<void(int)> onSignal);

// The window's way: a signal is a Quit. The boxes are answered as Esc answers them, a
// transfer under way is finished (the wait text is shown meanwhile) and its record
// written; then Quit resets the device, releases the port and ends the process.
void QuitDialogOnSignals(CBootloaderZLDlg& dlg, QtPlatform& platform);

}  // namespace zl
