// The 50 ms tick that schedules the worker threads, and the buttons that act on the
// protocol directly: Stop/Start, Disconnect, Quit.
#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/threads.h"
#include "platform/win32.h"
#include "ports/com_name.h"
#include "protocol/commands.h"
#include "res/resources.h"

namespace zl {

void CBootloaderZLDlg::OnTimer(unsigned id) {
    if (m_bTickBusy || m_bSearching || m_bTransferRunning || m_bDisconnecting || m_bDeviceListOpen || m_bStopped)
        return;
    const bool portChosen = m_strPort.Get().size() >= 4;
    if (!portChosen && m_strLostPort.Empty()) return;
    m_bTickBusy = 1;
    if (id == 1 && m_bInfoEnded && m_bInfoRunning == 0) {
        if (m_bLoadPending) {
            m_bLoadPending = 0;
            m_bTransferRunning = 1;
            StartWorker(LoadThread, this, THREAD_PRIORITY_NORMAL);
        } else if (m_bReadoutPending) {
            if (!m_bReadoutStarted) StartReadout();
        } else if (m_bBootAnswered) {
            m_bBootAnswered = 0;
            StartInfoThread(this);
        } else if (m_bPortHold) {
            if (!m_bRescanDone) {
                OnShowWindow(false, 2);
                m_bRescanDone = 1;
            } else {
                WatchLostPort();
            }
        } else if (!portChosen) {
            WatchLostPort();
        } else {
            ClosePort(this);
            Sleep(500);
            if (OpenPortForSearch(m_strPort.Get(), this) == 1) {
                m_bSearching = 1;
                StartWorker(SearchThread, this, THREAD_PRIORITY_NORMAL);
                StartWorker(WakeUpThread, this, THREAD_PRIORITY_TIME_CRITICAL);
            } else {
                m_bSearching = 0;
                m_bPortHold = 1;
            }
        }
    }
    m_bTickBusy = 0;
}

// While a lost port is remembered: every half second, whether it can be opened again
// (the adapter plugged back, the other program gone). If so, the port list is made
// anew, the port selected again, and the next tick searches on it.
void CBootloaderZLDlg::WatchLostPort() {
    const std::u16string lost = m_strLostPort.Get();
    if (lost.empty() || m_bPortListOpen) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastPortProbe < std::chrono::milliseconds(500)) return;
    m_lastPortProbe = now;
    if (!CanOpenPort(lost)) return;
    OnShowWindow(false, 2);
    for (int i = 0; i < m_cbPort.GetCount(); ++i) {
        if (m_astrPortNames[i] == lost) {
            m_cbPort.SetCurSel(i);
            OnPortSelChange();
            return;
        }
    }
}

void CBootloaderZLDlg::ShowPortLost() {
    SetStatus(DialogState::PortLost, Text(TextId::StatusPortLost, English()) + ShortPortName(m_strLostPort.Get()));
    m_progress.SetPos(0);
    m_controls.EnableWindow(IDC_READOUT, false);
    m_controls.EnableWindow(IDC_COMPARE, false);
    m_controls.EnableWindow(IDC_DISCONNECT, false);
    m_controls.EnableWindow(IDC_PORT, true);
    m_controls.EnableWindow(IDC_DEVICE, true);
    m_controls.EnableWindow(IDC_STOPSTART, true);
    ShowDeviceInfo(this, u"");
}

void CBootloaderZLDlg::OnStopStart() {
    if (!m_bStopped) {
        m_bSearching = 0;
        m_bStopped = 1;
        m_controls.EnableWindow(IDC_AUTOLOAD_ON, false);
        m_controls.EnableWindow(IDC_AUTOLOAD_OFF, false);
        m_controls.EnableWindow(IDC_PORT, false);
        m_controls.EnableWindow(IDC_DEVICE, false);
        ClosePort(this);
        m_progress.SetPos(0);
        m_controls.SetWindowText(IDC_STOPSTART, Text(TextId::StartButton, English()));
        SetStatus(DialogState::Stopped, Text(TextId::StatusStopped, English()));
    } else {
        m_bStopped = 0;
        EnableAutoLoadButton();
        m_controls.EnableWindow(IDC_PORT, true);
        m_controls.EnableWindow(IDC_DEVICE, true);
        m_controls.SetWindowText(IDC_STOPSTART, Text(TextId::StopButton, English()));
    }
}

void CBootloaderZLDlg::OnDisconnect() {
    if (m_bInfoRunning == 0) return;
    m_bDisconnecting = 1;
    m_bInfoRunning = 0;
    Sleep(1000);
    PortHandle port = m_hPort.Get();
    // A device that keeps sending must not hold the window: the drain ends after 2 s.
    DrainUntilSilent(port, {std::chrono::milliseconds(2000)});
    SendCommand(port, kCmdReset);
    Sleep(50);
    m_bSearching = 0;
    m_bPortHold = 1;
    m_progress.SetPos(0);
    Sleep(DeviceSel() == 0 ? 2500 : 1500);
    m_bDisconnecting = 0;
    m_bPortHold = 0;
    m_bRescanDone = 0;
}

void CBootloaderZLDlg::OnQuit() {
    if (m_bTransferRunning == 0) {
        SendCommand(m_hPort.Get(), kCmdReset);
        ClosePort(this);
        // A load's record that still waits for the device's answer is written as it is.
        ReleaseLoadRecord(u"");
        m_platform.EndProgram(0);
    }
    m_platform.MessageBox(Text(TextId::WaitForProcess, English()), u"", MB_OK | MB_ICONINFORMATION);
}

}  // namespace zl
