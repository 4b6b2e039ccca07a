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

// What the readout receives goes to the file in pieces of this size.
constexpr size_t kWriteChunk = 4096;

// Receives the image until the line is silent, into the file and the digest. false
// (with the reason) when the file could not take it; the line is read to its end all
// the same. Stops after kMaxImage + 1 bytes.
bool ReceiveImage(CBootloaderZLDlg* dlg, TransferRecord& record, const PortHandle& port, File& file, Sha256& digest, int64_t& length,
                  FileError& error) {
    PhaseMeter meter(dlg, record);
    meter.Begin(Phase::Receive, -1);
    bool ok = true;
    uint8_t buffer[kWriteChunk];
    size_t held = 0;
    auto flush = [&] {
        if (ok && held > 0 && !file.Write(buffer, held)) {
            ok = false;
            error = file.LastError();
        }
        held = 0;
    };
    uint8_t attempts = 0;
    for (;;) {
        uint8_t b;
        const bool got = ReadByte(port, b);
        if (got) {
            digest.Update(&b, 1);
            buffer[held++] = b;
            if (held == kWriteChunk) flush();
            if (++length > kMaxImage) break;
        }
        if (++attempts == 100) {
            dlg->m_progress.StepIt();
            meter.Progress(static_cast<uint64_t>(length));
            attempts = 0;
        }
        if (!got) break;
    }
    flush();
    meter.Progress(static_cast<uint64_t>(length));
    return ok;
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
        return FailTransfer(dlg, record, LineGone(dlg->m_hPort.Get()) ? Cause::DeviceGone : Cause::NoData,
                            TextId::ReadoutNoData);
    }
    // The image ends where the line falls silent; a line that was hung up (the adapter
    // pulled) ended it early, even on a packet boundary.
    const bool lineGone = LineGone(dlg->m_hPort.Get());
    if (rest != 0 || length > kMaxImage || lineGone) {
        const std::u16string part = path + u".part";
        if (!ReplaceFile(temp, part, error)) {
            RemoveFile(temp);
            return FailFile(dlg, record, TextId::FileWriteFailed, part, error);
        }
        record.outcome = Outcome::TransferFailed;
        record.cause = lineGone ? Cause::DeviceGone : Cause::Incomplete;
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
        return LineGone(port) ? FailTransfer(dlg, record, Cause::DeviceGone, TextId::LineLost)
                              : FailTransfer(dlg, record, Cause::MakeTimeout, TextId::MakeTimeout);
    }
    // The image goes into a new file beside the target; the target itself changes only
    // when the image is complete.
    FileError error;
    std::u16string temp;
    std::unique_ptr<File> file = CreateFileBeside(path, temp, error);
    if (!file) return FailFile(dlg, record, TextId::FileWriteFailed, path, error);
    SendCommand(port, kCmdRead);
    int64_t length = 0;
    Sha256 digest;
    bool ok = ReceiveImage(dlg, record, port, *file, digest, length, error);
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
    // The file kept (the target, or the .part beside it) holds exactly what came.
    if (length > 0) {
        record.fileSize = length;
        record.fileSha256 = digest.HexDigest();
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
    dlg->SetStatus(DialogState::Transferring, Text(TextId::StatusReadout, dlg->English()));
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
