// The Help box and the two About boxes.
#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {
namespace {

// The About box of the Info button: shows the bootloader summary of the device.
class AboutBox {
public:
    explicit AboutBox(CBootloaderZLDlg* parent) : m_pParent(parent) { controls_.Build(AboutDialogTemplate()); }

    int DoModal() {
        return m_pParent->m_platform.RunSubDialog(AboutDialogTemplate(), controls_, [this] { OnShowWindow(); });
    }

private:
    void OnShowWindow() {
        std::u16string text = m_pParent->m_strBootloaderSummary.Get();
        const std::u16string& de = Text(TextId::NoDevice, false);
        const std::u16string& en = Text(TextId::NoDevice, true);
        if (m_pParent->English() && text == de) text = en;
        if (!m_pParent->English() && text == en) text = de;
        controls_.SetWindowText(IDC_ABOUT_SUMMARY, text);
    }

    CBootloaderZLDlg* m_pParent;
    Controls controls_;
};

// The About box of the system menu: the fixed texts only.
class CAboutDlg {
public:
    explicit CAboutDlg(Platform& platform) : platform_(platform) { controls_.Build(AboutDialogTemplate()); }
    int DoModal() { return platform_.RunSubDialog(AboutDialogTemplate(), controls_, [] {}); }

private:
    Platform& platform_;
    Controls controls_;
};

}  // namespace

void CBootloaderZLDlg::OnHelpButton() {
    const bool en = English();
    m_platform.MessageBox(Text(TextId::HelpText, en), Text(TextId::TitleHelp, en), MB_OK | MB_ICONINFORMATION);
}

void CBootloaderZLDlg::OnInfoButton() {
    AboutBox box(this);
    if (box.DoModal() != IDOK) m_controls.ShowWindow(IDC_THREADS, true);
}

void CBootloaderZLDlg::OnSysCommand(unsigned command) {
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(m_platform);
        about.DoModal();
    }
}

}  // namespace zl
