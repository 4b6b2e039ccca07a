// The Port box and Device box handlers: they stop the search, choose the port,
// remember the choices and release the tick.
#include "app/bootloader_dlg.h"
#include "res/resources.h"

namespace zl {

void CBootloaderZLDlg::OnPortDropDown() {
    m_bPortListOpen = 1;
    m_bSearching = 0;
    m_bPortHold = 1;
    m_progress.SetPos(0);
}

void CBootloaderZLDlg::OnPortCloseUp() {
    m_bPortListOpen = 0;
    m_bPortHold = 0;
    m_bRescanDone = 0;
}

void CBootloaderZLDlg::OnPortSelChange() {
    m_bSearching = 0;
    m_bPortHold = 1;
    m_bRescanDone = 1;
    ClosePort(this);
    int sel = m_cbPort.GetCurSel();
    m_cbPort.SetCurSel(sel);  // puts the entry's own text back into the edit field
    if (sel < 0) {
        if (m_cbPort.GetCount() <= 0) return;
        m_cbPort.SetCurSel(0);
        sel = 0;
    }
    m_strPort.Set(m_astrPortNames[sel]);
    m_strLostPort.Set(u"");  // a port chosen, by the user or by the watch, ends the wait for a lost one
    m_platform.GetProfile().WriteProfileString(u"", u"PrevCOM", m_strPort.Get());
    m_bPortHold = 0;
    m_bRescanDone = 0;
}

void CBootloaderZLDlg::OnDeviceDropDown() {
    m_bDeviceListOpen = 1;
    m_bSearching = 0;
    m_progress.SetPos(0);
}

void CBootloaderZLDlg::OnDeviceCloseUp() {
    m_platform.GetProfile().WriteProfileInt(u"", u"PrevDevice", m_cbDevice.GetCurSel());
    m_bPortHold = 0;
    m_bRescanDone = 0;
    m_bDeviceListOpen = 0;
}

void CBootloaderZLDlg::OnDeviceSelChange() {
    OnPortSelChange();
    OnAutoLoadOff();
}

}  // namespace zl
