// Switching the whole interface between German and English at run time.
#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "res/resources.h"

namespace zl {

void CBootloaderZLDlg::OnLanguageGerman() { SwitchLanguage(false); }

void CBootloaderZLDlg::OnLanguageEnglish() { SwitchLanguage(true); }

void CBootloaderZLDlg::SwitchLanguage(bool english) {
    m_controls.CheckMenuRadioItem(0, 1, english ? 1 : 0);
    m_bEnglish = english ? 1 : 0;
    auto set = [&](int id, TextId key) { m_controls.SetWindowText(id, Text(key, english)); };
    set(IDC_DEVICE_LABEL, TextId::DeviceLabel);
    set(IDC_AUTOLOAD_GROUP, TextId::AutoLoadGroup);
    set(IDC_PATH_LABEL, TextId::PathLabel);
    if (m_strAutoLoadPath.Empty()) set(IDC_AUTOLOAD_PATH, TextId::AutoLoadPathOff);
    set(IDC_AUTOLOAD_ON, TextId::AutoLoadOn);
    set(IDC_AUTOLOAD_OFF, TextId::AutoLoadOff);
    set(IDC_READOUT, TextId::ReadoutButton);
    set(IDC_COMPARE, TextId::CompareButton);
    set(IDC_HELP, TextId::HelpButton);
    set(IDC_QUIT, TextId::QuitButton);
    set(IDC_DISCONNECT, TextId::DisconnectButton);
    if (m_bSearching == 1) set(IDC_STATUS, TextId::StatusSearching);
    if (m_bInfoRunning == 1) set(IDC_STATUS, TextId::StatusConnected);
    set(IDC_FW_LEFT, TextId::NoDevice);
    m_platform.GetProfile().WriteProfileInt(u"", u"PrevLang", english ? 1 : 0);
}

}  // namespace zl
