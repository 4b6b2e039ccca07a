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
    auto set = [&](int id, T key) { m_controls.SetWindowText(id, Text(key, english)); };
    set(IDC_DEVICE_LABEL, T::DeviceLabel);
    set(IDC_AUTOLOAD_GROUP, T::AutoLoadGroup);
    set(IDC_PATH_LABEL, T::PathLabel);
    if (m_strAutoLoadPath.Empty()) set(IDC_AUTOLOAD_PATH, T::AutoLoadPathOff);
    set(IDC_AUTOLOAD_ON, T::AutoLoadOn);
    set(IDC_AUTOLOAD_OFF, T::AutoLoadOff);
    set(IDC_READOUT, T::ReadoutButton);
    set(IDC_COMPARE, T::CompareButton);
    set(IDC_HELP, T::HelpButton);
    set(IDC_QUIT, T::QuitButton);
    set(IDC_DISCONNECT, T::DisconnectButton);
    if (m_bSearching == 1) set(IDC_STATUS, T::StatusSearching);
    if (m_bInfoRunning == 1) set(IDC_STATUS, T::StatusConnected);
    set(IDC_FW_LEFT, T::NoDevice);
    m_platform.GetProfile().WriteProfileInt(u"", u"PrevLang", english ? 1 : 0);
}

}  // namespace zl
