// The window program's way with the signals that ask it to end: a signal is a Quit.
#pragma once

namespace zl {

class CBootloaderZLDlg;
class QtPlatform;

// The boxes are answered as Esc answers them, a transfer under way is finished (the wait
// text is shown meanwhile) and its record written; then Quit resets the device, releases
// the port and ends the process.
void QuitDialogOnSignals(CBootloaderZLDlg& dlg, QtPlatform& platform);

}  // namespace zl
