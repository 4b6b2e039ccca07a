// The connected state: InfoThread asks a PIC32 device for its self-description every
// cycle, notices when the device has gone, and asks for the Auto-Load.
#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/threads.h"
#include "protocol/commands.h"
#include "protocol/wire_text.h"
#include "res/resources.h"

namespace zl {
namespace {

void EndInfoThread(CBootloaderZLDlg* dlg) {
    --dlg->m_nInfoThreads;
    dlg->WriteThreadIndicator();
    dlg->m_controls.EnableWindow(IDC_DISCONNECT, false);
}

}  // namespace

unsigned InfoThread(CBootloaderZLDlg* dlg) {
    // No device stands behind a line hung up since it answered (the adapter pulled during
    // a transfer, or right after the search): no connection is shown, and the tick opens
    // the port anew.
    if (LineGone(dlg->m_hPort.Get())) {
        dlg->ReleaseLoadRecord(u"");
        dlg->m_bInfoEnded = 1;
        return 0;
    }
    dlg->m_bInfoRunning = 1;
    dlg->m_bInfoEnded = 0;
    ++dlg->m_nInfoThreads;
    dlg->WriteThreadIndicator();
    Controls& c = dlg->m_controls;
    c.EnableWindow(IDC_READOUT, true);
    c.EnableWindow(IDC_COMPARE, true);
    c.EnableWindow(IDC_PORT, false);
    c.EnableWindow(IDC_DEVICE, false);
    c.EnableWindow(IDC_STOPSTART, false);
    c.EnableWindow(IDC_DISCONNECT, !dlg->m_bDisconnecting);
    dlg->SetStatus(DialogState::Connected, Text(TextId::StatusConnected, dlg->English()));
    dlg->m_progress.SetRange(0, 200);
    dlg->m_progress.SetPos(200);

    const PortHandle port = dlg->m_hPort.Get();
    while (dlg->m_bInfoRunning == 1) {
        std::u16string cycle;
        bool found = false;
        Sleep(500);
        // A line that has been hung up ends the connected state at once, for either kind.
        if (LineGone(port)) {
            dlg->m_bInfoRunning = 0;
            break;
        }
        const int sel = dlg->DeviceSel();
        if (sel == 0) {
            DrainUntilSilent(port);
            SendCommand(port, kCmdMenu);
            Sleep(500);
            ReadUntilSilent(port, cycle);
            const long p = FindInText(cycle, u"Bootloader");
            if (p >= 1 && dlg->m_bInfoRunning == 1) {
                found = true;
                cycle.erase(0, static_cast<size_t>(p));
            } else if (dlg->m_nInfoCycle >= 2 || LineGone(port)) {
                dlg->m_bInfoRunning = 0;  // the device is taken as gone
            }
            dlg->m_strDeviceInfo.Set(cycle);
            ShowDeviceInfo(dlg, cycle);
            // The record of a load just made names what the device now runs.
            if (found) dlg->ReleaseLoadRecord(c.GetWindowText(IDC_FW_LEFT));
        }
        if (dlg->m_nInfoCycle == 0 && !dlg->m_strAutoLoadPath.Empty() && dlg->m_bInfoRunning == 1 &&
            (found || sel != 0)) {
            --dlg->m_nInfoThreads;
            dlg->m_bInfoRunning = 0;
            dlg->WriteThreadIndicator();
            c.EnableWindow(IDC_DISCONNECT, false);
            // The tick acts as soon as m_bInfoEnded is set: the load request must come first.
            dlg->m_bLoadPending = 1;
            dlg->m_bInfoEnded = 1;
            return 1;
        }
        if (dlg->m_nInfoCycle != 255) ++dlg->m_nInfoCycle;
    }
    dlg->ReleaseLoadRecord(u"");
    EndInfoThread(dlg);
    dlg->m_bInfoEnded = 1;
    return 0;
}

}  // namespace zl
