// The readout: the image in a PIC32 device's flash into a file. The button asks
// InfoThread to end, the tick calls StartReadout (file dialog, port reopened with the
// readout settings), and ReadoutThread runs the exchange.
#include <algorithm>
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
// The largest image the program takes: beyond it the readout stops as incomplete.
constexpr int64_t kMaxImage = 64ll * 1024 * 1024;

// Sends "\rSmake\r" and collects answers until "Make beendet" has come; false when
// it has not come within the limit (a device that keeps talking included).
bool PrepareReadout(const PortHandle& port) {
    SendCommand(port, kCmdMake);
    std::u16string answer;
    const auto end = std::chrono::steady_clock::now() + kMakeLimit;
    for (;;) {
        Sleep(100);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        ReadUntilSilent(port, answer, {std::max(left, std::chrono::milliseconds(1)), 1u << 16});
        if (TextContains(answer, u"Make beendet")) return true;
        if (std::chrono::steady_clock::now() >= end || answer.size() >= (1u << 16) || LineGone(port)) return false;
    }
}

// Receives the image until the line is silent; every byte goes to the file at once.
// false (with the reason) when the file could not take it; the line is read to its
// end all the same. Stops after kMaxImage + 1 bytes.
bool ReceiveImage(CBootloaderZLDlg* dlg, const PortHandle& port, File& file, int64_t& length, FileError& error) {
    bool ok = true;
    uint8_t attempts = 0;
    for (;;) {
        uint8_t b;
        const bool got = ReadByte(port, b);
        if (got) {
            if (ok && !file.Write(&b, 1)) {
                ok = false;
                error = file.LastError();
            }
            if (++length > kMaxImage) return ok;
        }
        if (++attempts == 100) {
            dlg->m_progress.StepIt();
            attempts = 0;
        }
        if (!got) return ok;
    }
}

// Keeps a complete image as the target and an incomplete one beside it as
// "<target>.part"; the older target is never touched by an incomplete readout.
void Finish(CBootloaderZLDlg* dlg, TransferRecord& record, const std::u16string& temp, const std::u16string& path,
            int64_t length) {
    const bool en = dlg->English();
    const long long packets = length / static_cast<int64_t>(kBlockSize);
    const long long rest = length % static_cast<int64_t>(kBlockSize);
    record.units = static_cast<uint64_t>(packets);
    FileError error;
    if (length == 0) {
        RemoveFile(temp);
        return FailTransfer(dlg, record, LineGone(dlg->m_hPort.Get()) ? "device-gone" : "no-data",
                            TextId::ReadoutNoData);
    }
    if (rest != 0 || length > kMaxImage) {
        const std::u16string part = path + u".part";
        if (!ReplaceFile(temp, part, error)) {
            RemoveFile(temp);
            return FailFile(dlg, record, TextId::FileWriteFailed, part, error);
        }
        record.outcome = Outcome::TransferFailed;
        record.failure = LineGone(dlg->m_hPort.Get()) ? "device-gone" : "incomplete";
        ShowTransferBox(dlg, record, FormatCounts(Text(TextId::ReadoutIncomplete, en), packets, rest) + part,
                        Text(TextId::TitleError, en), MB_OK | MB_ICONERROR);
        return;
    }
    if (!ReplaceFile(temp, path, error)) {
        RemoveFile(temp);
        return FailFile(dlg, record, TextId::FileWriteFailed, path, error);
    }
    ShowTransferBox(dlg, record, FormatCounts(Text(TextId::ReadoutDone, en), packets) + path, u"",
                    MB_OK | MB_ICONINFORMATION);
}

void Readout(CBootloaderZLDlg* dlg, TransferRecord& record, const PortHandle& port, const std::u16string& path) {
    if (!PrepareReadout(port)) {
        return LineGone(port) ? FailTransfer(dlg, record, "device-gone", TextId::LineLost)
                              : FailTransfer(dlg, record, "make-timeout", TextId::MakeTimeout);
    }
    // The image goes into a new file beside the target; the target itself changes only
    // when the image is complete.
    FileError error;
    std::u16string temp;
    std::unique_ptr<File> file = CreateFileBeside(path, temp, error);
    if (!file) return FailFile(dlg, record, TextId::FileWriteFailed, path, error);
    SendCommand(port, kCmdRead);
    int64_t length = 0;
    bool ok = ReceiveImage(dlg, port, *file, length, error);
    record.bytes = static_cast<uint64_t>(length);
    dlg->m_progress.SetPos(1000);
    Sleep(200);
    // Closed before the report, so that data the disk could not take is reported as a
    // failure and never as a good readout.
    if (!file->Close() && ok) {
        ok = false;
        error = file->LastError();
    }
    if (!ok) {
        RemoveFile(temp);  // a write failure leaves no partial file behind
        return FailFile(dlg, record, TextId::FileWriteFailed, path, error);
    }
    Finish(dlg, record, temp, path, length);
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
    TransferRecord record = dlg->BeginRecord(Operation::Readout, path);
    record.reachedDevice = true;
    Readout(dlg, record, port, path);
    dlg->EndRecord(std::move(record));

    c.EnableWindow(IDC_READOUT, true);
    c.EnableWindow(IDC_COMPARE, true);
    dlg->EnableAutoLoadButton();
    dlg->m_bReadoutPending = 0;
    // What comes next is said before the tick may act: the information thread again, or,
    // on a line that has been hung up, nothing (the tick then reopens the port).
    if (!LineGone(port)) dlg->m_bBootAnswered = 1;
    dlg->m_bTransferRunning = 0;
    return 0;
}

}  // namespace zl
