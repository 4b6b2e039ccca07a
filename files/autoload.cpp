// The Auto-Load panel: choosing the file, switching Auto-Load on and off, and the
// path line that shows the chosen file shortened to its width.
#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "files/file_filter.h"
#include "files/fit_path.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {

void CBootloaderZLDlg::OnChooseAutoLoadFile() {
    const FileFilter f = AutoLoadFilter(English(), DeviceSel());
    std::optional<std::u16string> path =
        m_platform.FileDialog(true, f.filter, f.defExt, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    if (!path) return;
    m_strAutoLoadPath.Set(*path);
    std::u16string shown = *path;
    FitPathToControl(IDC_AUTOLOAD_PATH, this, shown);
    m_controls.SetWindowText(IDC_AUTOLOAD_PATH, shown);
    m_controls.EnableWindow(IDC_AUTOLOAD_OFF, true);
    m_controls.EnableWindow(IDC_AUTOLOAD_ON, false);
}

void CBootloaderZLDlg::OnAutoLoadOn() {
    if (m_strAutoLoadPath.Empty()) OnChooseAutoLoadFile();
    m_nInfoCycle = 0;
}

void CBootloaderZLDlg::OnAutoLoadOff() {
    m_strAutoLoadPath.Set(u"");
    m_controls.SetWindowText(IDC_AUTOLOAD_PATH, Text(TextId::AutoLoadPathOff, English()));
    m_controls.EnableWindow(IDC_AUTOLOAD_OFF, false);
    m_controls.EnableWindow(IDC_AUTOLOAD_ON, true);
}

void FitPathToControl(int controlId, CBootloaderZLDlg* dlg, std::u16string& path) {
    Platform& p = dlg->m_platform;
    FitPath(path, p.ControlWidth(controlId), [&p, controlId](const std::u16string& text) {
        return p.TextWidth(controlId, text);
    });
}

}  // namespace zl
