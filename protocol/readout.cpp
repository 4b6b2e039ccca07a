// The readout: the image in a PIC32 device's flash into a file. The button asks
// InfoThread to end, the tick calls StartReadout (file dialog, port reopened with the
// readout settings), and ReadoutThread runs the exchange.
#include <chrono>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "files/file_filter.h"
#include "platform/file.h"
#include "platform/threads.h"
#include "platform/win32.h"
#include "protocol/commands.h"
#include "protocol/transfer_util.h"
#include "protocol/wire_text.h"
#include "res/resources.h"

namespace zl {
namespace {

// How long the device may take to prepare the readout before the program gives up.
constexpr auto kMakeLimit = std::chrono::seconds(30);

// Sends "\rSmake\r" and collects answers until "Make beendet" has come; false when
// it has not come within the limit.
bool PrepareReadout(const PortHandle& port) {
    SendCommand(port, kCmdMake);
    std::u16string answer;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        Sleep(100);
        ReadUntilSilent(port, answer);
        if (TextContains(answer, u"Make beendet")) return true;
        if (std::chrono::steady_clock::now() - start > kMakeLimit) return false;
    }
}

void Report(CBootloaderZLDlg* dlg, const std::u16string& path, int64_t length) {
    const bool en = dlg->English();
    const long long packets = static_cast<uint16_t>(length / static_cast<int64_t>(kBlockSize));
    const long long rest = static_cast<uint16_t>(length % static_cast<int64_t>(kBlockSize));
    if (rest != 0)
        dlg->m_platform.MessageBox(FormatCounts(Text(TextId::ReadoutIncomplete, en), packets, rest) + path,
                                   Text(TextId::TitleError, en), MB_OK | MB_ICONERROR);
    else
        dlg->m_platform.MessageBox(FormatCounts(Text(TextId::ReadoutDone, en), packets) + path, u"",
                                   MB_OK | MB_ICONINFORMATION);
}

// Receives the image until the line is silent; every byte goes to the file at once.
// false (with the reason) when the file could not take it; the line is read to its
// end all the same.
bool ReceiveImage(CBootloaderZLDlg* dlg, const PortHandle& port, File& file, std::u16string& reason) {
    bool ok = true;
    uint8_t attempts = 0;
    for (;;) {
        uint8_t b;
        const bool got = ReadByte(port, b);
        if (got && ok && !file.Write(&b, 1)) {
            ok = false;
            reason = file.LastError();
        }
        if (++attempts == 100) {
            dlg->m_progress.StepIt();
            attempts = 0;
        }
        if (!got) return ok;
    }
}

}  // namespace

void CBootloaderZLDlg::OnReadoutButton() {
    if (DeviceSel() != 0) return;
    m_bReadoutPending = 1;
    m_bInfoRunning = 0;
}

void CBootloaderZLDlg::StartReadout() {
    m_bReadoutStarted = 1;
    const FileFilter f = SingleFilter(DeviceSel());
    std::optional<std::u16string> path =
        m_platform.FileDialog(false, f.filter, f.defExt, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    if (!path) {
        // Cancel withdraws the request: the device is queried again as before.
        m_bReadoutPending = 0;
        m_bBootAnswered = 1;
    } else {
        m_strReadoutPath.Set(*path);
        ClosePort(this);
        if (OpenPortForReadout(m_strPort.Get(), this) == 1) {
            m_bTransferRunning = 1;
            m_bReadoutStarted = 0;
            StartWorker(ReadoutThread, this, THREAD_PRIORITY_NORMAL);
        } else {
            // The port is gone or busy (its box has been shown): withdraw the request
            // and hold the port as after a failed search opening.
            m_bReadoutPending = 0;
            m_bPortHold = 1;
        }
    }
    m_bReadoutStarted = 0;
}

unsigned ReadoutThread(CBootloaderZLDlg* dlg) {
    Controls& c = dlg->m_controls;
    c.EnableWindow(IDC_READOUT, false);
    c.EnableWindow(IDC_COMPARE, false);
    c.EnableWindow(IDC_AUTOLOAD_ON, false);
    c.EnableWindow(IDC_AUTOLOAD_OFF, false);
    c.SetWindowText(IDC_STATUS, Text(TextId::StatusReadout, dlg->English()));
    dlg->m_progress.SetRange(0, 1000);
    dlg->m_progress.SetPos(0);
    dlg->m_progress.SetStep(3);

    const PortHandle port = dlg->m_hPort.Get();
    const std::u16string path = dlg->m_strReadoutPath.Get();
    if (!PrepareReadout(port)) {
        ShowTransferError(dlg, TextId::MakeTimeout);
    } else {
        std::u16string reason;
        std::unique_ptr<File> file = CreateFileForWrite(path, reason);
        if (!file) {
            ShowFileError(dlg, TextId::FileWriteFailed, path, reason);
        } else {
            SendCommand(port, kCmdRead);
            bool ok = ReceiveImage(dlg, port, *file, reason);
            dlg->m_progress.SetPos(1000);
            Sleep(200);
            const int64_t length = file->Length();
            // Closed before the report, so that data the disk could not take is
            // reported as a failure and never as a good readout.
            if (!file->Close() && ok) {
                ok = false;
                reason = file->LastError();
            }
            if (!ok || length < 0)
                ShowFileError(dlg, TextId::FileWriteFailed, path, reason);
            else
                Report(dlg, path, length);
        }
    }

    c.EnableWindow(IDC_READOUT, true);
    c.EnableWindow(IDC_COMPARE, true);
    dlg->EnableAutoLoadButton();
    dlg->m_bReadoutPending = 0;
    dlg->m_bTransferRunning = 0;
    dlg->m_bBootAnswered = 1;
    return 0;
}

}  // namespace zl
