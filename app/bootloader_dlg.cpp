#include "app/bootloader_dlg.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/texts.h"
#include "platform/text_convert.h"
#include "platform/threads.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {

CBootloaderZLDlg::CBootloaderZLDlg(Platform& platform)
    : m_strDeviceInfo(Text(TextId::NoDevice, false)),
      m_platform(platform),
      m_cbPort(m_controls, IDC_PORT),
      m_progress(m_controls, IDC_PROGRESS),
      m_cbDevice(m_controls, IDC_DEVICE) {
    m_controls.Build(MainDialogTemplate(), &MainMenu());
    m_bSearching.OnDrop([this] { m_platform.TickResumes(); });
}

CBootloaderZLDlg::~CBootloaderZLDlg() {
    // Owners call StopWorkers first and keep a dialog whose workers do not end. Should
    // one still run here, freeing the dialog under it would be worse than ending the
    // process.
    if (StopWorkers(std::chrono::seconds(10))) return;
    std::fputs("BootloaderZL: a worker thread did not end; the process ends\n", stderr);
    ReleaseExclusiveMarks();
    std::fflush(nullptr);
    std::_Exit(70);
}

bool CBootloaderZLDlg::StopWorkers(std::chrono::milliseconds timeout) {
    // Tell every worker to end and release the port (which wakes any thread blocked in
    // it), then wait for them, so that no thread touches the dialog after it is gone.
    // The request is repeated, since a thread that was just started sets its own flag.
    // A worker that waits in a box keeps running until the box is answered.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        m_bSearching = 0;
        m_bInfoRunning = 0;
        ClosePort(this);
        if (WaitForWorkers(std::chrono::milliseconds(50))) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

void CBootloaderZLDlg::SetStatus(DialogState state, const std::u16string& text) {
    m_controls.SetWindowText(IDC_STATUS, text);
    m_platform.StateChanged(state, text);
}

void CBootloaderZLDlg::WorkerStarted() {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    ++m_nWorkers;
}

void CBootloaderZLDlg::WorkerEnded() {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    if (--m_nWorkers == 0) m_workersIdle.notify_all();
}

bool CBootloaderZLDlg::WaitForWorkers(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_workersMutex);
    return m_workersIdle.wait_for(lock, timeout, [this] { return m_nWorkers == 0; });
}

bool CBootloaderZLDlg::OnClose() {
    if (m_bTransferRunning == 0) return true;
    // A device half-programmed or a readout half-written is worse than a wait.
    m_platform.MessageBox(Text(TextId::WaitForProcess, English()), u"", MB_OK | MB_ICONINFORMATION);
    return false;
}

int CBootloaderZLDlg::DoModal() {
    const int result = m_platform.DoModal(MainDialogTemplate(), &MainMenu(), m_controls, *this);
    // However the dialog ended, the port is released properly: a pseudo-terminal would
    // otherwise keep its exclusive flag after the process has gone.
    ClosePort(this);
    return result;
}

bool CBootloaderZLDlg::OnInitDialog() {
    const std::u16string about = LoadString(IDS_ABOUTBOX);
    if (!about.empty()) {
        m_controls.AppendSysMenu(0, u"");
        m_controls.AppendSysMenu(IDM_ABOUTBOX, about);
    }
    m_controls.ShowWindow(IDC_READOUT, true);
    m_controls.ShowWindow(IDC_COMPARE, true);
    m_controls.ShowWindow(IDC_STOPSTART, true);
    m_controls.SetWindowText(kWindowId, Text(TextId::WindowTitle, false));
    m_controls.CheckMenuRadioItem(0, 1, 0);
    m_controls.EnableWindow(IDC_AUTOLOAD_OFF, false);
    m_controls.SetFocus(IDC_AUTOLOAD_ON);
    const int prevDevice = m_platform.GetProfile().GetProfileInt(u"", u"PrevDevice", 0);
    m_cbDevice.SetCurSel(prevDevice & 0xFF);
    return false;
}

void CBootloaderZLDlg::OnShowWindow(bool /*show*/, int status) {
    // Port-list refresh.
    if (m_hPort.IsOpen()) ClosePort(this);
    Sleep(200);
    std::u16string previous = m_strPort.Get();
    std::array<std::u16string, 256> slots = ScanPorts();
    int k = 0;
    if (status == 0 || slots != m_astrFoundPorts) {
        for (int n = m_cbPort.GetCount(); n > 0; --n) m_cbPort.DeleteString(0);
        m_astrFoundPorts = slots;
        for (const std::u16string& slot : slots) {
            if (slot.empty()) continue;
            m_astrPortNames[k] = slot;
            const int index = m_cbPort.AddString(slot.substr(4));
            m_controls.SetItemTip(IDC_PORT, index, FromUtf8(ResolvePortPath(slot)));
            if (status == 0 && k == 0) m_strPort.Set(slot);
            ++k;
        }
    }
    if (status == 2) {
        previous.erase(0, 4);
        const int index = m_cbPort.FindStringExact(-1, previous);
        if (index != CB_ERR) {
            m_cbPort.SetCurSel(index);
        } else {
            m_cbPort.SetCurSel(-1);
            m_strPort.Set(u"");
        }
    }
    if (status != 0) return;

    // Start-up.
    OnTimer(1);
    const std::u16string prevCom = m_platform.GetProfile().GetProfileString(u"", u"PrevCOM", u"");
    m_cbPort.SetCurSel(0);
    for (int i = 0; i < k; ++i)
        if (prevCom == m_astrPortNames[i]) m_cbPort.SetCurSel(i);
    OnPortSelChange();
    m_bPortHold = 0;
    m_bRescanDone = 0;
    if (m_platform.GetProfile().GetProfileInt(u"", u"PrevLang", 0) != 0) OnLanguageEnglish();
    m_platform.SetTimer(1, 50);
}

void CBootloaderZLDlg::OnCommand(int id, int code) {
    switch (id) {
        case ID_CHOOSE_AUTOLOAD_FILE: OnChooseAutoLoadFile(); return;
        case ID_LANGUAGE_GERMAN: OnLanguageGerman(); return;
        case ID_LANGUAGE_ENGLISH: OnLanguageEnglish(); return;
        case IDC_PORT:
            if (code == CBN_DROPDOWN) OnPortDropDown();
            else if (code == CBN_CLOSEUP) OnPortCloseUp();
            else if (code == CBN_SELCHANGE) OnPortSelChange();
            return;
        case IDC_DEVICE:
            if (code == CBN_DROPDOWN) OnDeviceDropDown();
            else if (code == CBN_CLOSEUP) OnDeviceCloseUp();
            else if (code == CBN_SELCHANGE) OnDeviceSelChange();
            return;
        default: break;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_AUTOLOAD_ON: OnAutoLoadOn(); break;
        case IDC_AUTOLOAD_OFF: OnAutoLoadOff(); break;
        case IDC_READOUT: OnReadoutButton(); break;
        case IDC_COMPARE: OnCompareButton(); break;
        case IDC_HELP: OnHelpButton(); break;
        case IDC_INFO: OnInfoButton(); break;
        case IDC_QUIT: OnQuit(); break;
        case IDC_DISCONNECT: OnDisconnect(); break;
        case IDC_STOPSTART: OnStopStart(); break;
        default: break;
    }
}

void CBootloaderZLDlg::WriteThreadIndicator() {
    const std::string text =
        "b" + std::to_string(unsigned(m_nWakeThreads.load())) + " i" + std::to_string(unsigned(m_nInfoThreads.load()));
    m_controls.SetWindowText(IDC_THREADS, std::u16string(text.begin(), text.end()));
}

void CBootloaderZLDlg::EnableAutoLoadButton() {
    if (m_strAutoLoadPath.Empty())
        m_controls.EnableWindow(IDC_AUTOLOAD_ON, true);
    else
        m_controls.EnableWindow(IDC_AUTOLOAD_OFF, true);
}

void StartWorker(unsigned (*proc)(CBootloaderZLDlg*), CBootloaderZLDlg* dlg, int priority) {
    dlg->WorkerStarted();
    StartThread(
        [proc, dlg] {
            // Counted out however the worker ends, also when the face ends its thread
            // (ThreadEnd: the process was asked to end from this thread).
            struct Ended {
                CBootloaderZLDlg* dlg;
                ~Ended() { dlg->WorkerEnded(); }
            } ended{dlg};
            try {
                proc(dlg);
            } catch (const ThreadEnd&) {
            }
        },
        priority);
}

void StartInfoThread(CBootloaderZLDlg* dlg) {
    dlg->m_bInfoEnded = 0;
    StartWorker(InfoThread, dlg, THREAD_PRIORITY_NORMAL);
}

bool CBootloaderZLApp::InitInstance() {
    auto* dlg = new CBootloaderZLDlg(platform_);
    dlg->m_recordSink = records_;
    dlg->DoModal();
    // Worker threads may still run: the process ends here rather than let them meet a
    // destroyed dialog.
    platform_.EndProgram(0);
    return false;
}

}  // namespace zl
