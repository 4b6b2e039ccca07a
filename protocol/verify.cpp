// The verify: the device compares a file sent in 512-byte blocks with its flash and
// answers with a mark per block, "?" for a block that differs.
#include <vector>

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

// The part of the device's final answer that decides: the text before its first
// "Verify", or its last character alone when "Verify" is missing or comes first.
std::u16string DecisionText(const std::u16string& answer) {
    const long p = FindInText(answer, u"Verify");
    if (p >= 1) return answer.substr(0, static_cast<size_t>(p));
    if (!answer.empty()) return answer.substr(answer.size() - 1);
    return {};
}

// The blocks the device marked as different: one mark per block, "?" for a mismatch.
std::vector<uint32_t> MismatchBlocks(const std::u16string& decision) {
    std::vector<uint32_t> blocks;
    uint32_t block = 0;
    for (char16_t c : decision) {
        if (c != u'.' && c != u'?') continue;
        if (c == u'?') blocks.push_back(block);
        ++block;
    }
    return blocks;
}

void Compare(CBootloaderZLDlg* dlg, TransferRecord& record, File& source, const std::u16string& path) {
    const PortHandle port = dlg->m_hPort.Get();
    // Only whole blocks reach the device: a file with a shorter tail (or none at all)
    // would be reported as identical after comparing part of it. Such a file is refused
    // before anything is sent.
    const int64_t length = source.Length();
    if (length < 0) return FailFile(dlg, record, TextId::FileReadFailed, path, source.LastError());
    if (length == 0 || length % static_cast<int64_t>(kBlockSize) != 0) {
        FailFile(dlg, record, TextId::FileReadFailed, path, FileError{FileProblem::NotWholeBlocks, {}});
        record.cause = Cause::Length;
        return;
    }
    DigestReader file(source);
    PhaseMeter meter(dlg, record);
    record.reachedDevice = true;
    std::u16string answer;
    SendCommand(port, kCmdVerify);
    Sleep(200);
    ReadUntilSilent(port, answer);
    if (!TextContains(answer, u"Verify gestartet")) {
        // A device that refuses the verify ends it without a word; a lost line is said.
        if (LineGone(port)) return FailTransfer(dlg, record, Cause::DeviceGone, TextId::LineLost);
        record.outcome = Outcome::TransferFailed;
        record.cause = Cause::StartRefused;
        return;
    }
    answer.clear();

    meter.Begin(Phase::Compare, length);
    CProgressCtrl& bar = dlg->m_progress;
    bar.SetRange(0, static_cast<int>(length / static_cast<int64_t>(kBlockSize)));
    bar.SetStep(1);
    bar.SetPos(0);
    uint8_t block[kBlockSize];
    long n = file.Read(block, kBlockSize);
    while (n == static_cast<long>(kBlockSize)) {
        if (WriteBytes(port, block, kBlockSize) != kBlockSize) break;  // the line is gone
        record.bytes += kBlockSize;
        ++record.units;
        bar.StepIt();
        meter.Progress(record.bytes);
        n = file.Read(block, kBlockSize);
    }
    file.Finish(record);
    Sleep(500);
    ReadUntilSilent(port, answer);
    // A file that could not be read whole or changed meanwhile, a lost line, or a device
    // that did not answer, is never reported as a match.
    if (n < 0 || !source.Unchanged()) return FailFile(dlg, record, TextId::FileReadFailed, path, source.LastError());
    if (LineGone(port)) return FailTransfer(dlg, record, Cause::DeviceGone, TextId::LineLost);
    if (answer.empty()) return FailTransfer(dlg, record, Cause::NoAnswer, TextId::VerifyNoAnswer);

    const std::u16string decision = DecisionText(answer);
    const bool en = dlg->English();
    if (TextContains(decision, u"?")) {
        record.outcome = Outcome::VerifyMismatch;
        record.cause = Cause::VerifyMismatch;
        record.mismatchBlocks = MismatchBlocks(decision);
        ShowTransferBox(dlg, record,
                        Text(TextId::VerifyFailedPre, en) + path + Text(TextId::VerifyFailedPost, en) + decision,
                        Text(TextId::TitleComparison, en), MB_OK | MB_ICONEXCLAMATION);
    } else {
        ShowTransferBox(dlg, record, Text(TextId::VerifyPassedPre, en) + path + Text(TextId::VerifyPassedPost, en),
                        Text(TextId::TitleComparison, en), MB_OK | MB_ICONINFORMATION);
    }
}

}  // namespace

void CBootloaderZLDlg::OnCompareButton() {
    if (DeviceSel() != 0) return;
    const FileFilter f = SingleFilter(DeviceSel());
    std::optional<std::u16string> path =
        m_platform.FileDialog(true, f.filter, f.defExt, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    if (!path) return;
    m_strVerifyPath.Set(*path);
    if (m_bInfoRunning && !path->empty()) {
        m_bInfoRunning = 0;
        Sleep(2500);
        // Claimed before the thread starts, so that a tick that comes in between sees the
        // verify and does not close the port for a new search.
        m_bTransferRunning = 1;
        StartWorker(VerifyThread, this, THREAD_PRIORITY_NORMAL);
    }
}

unsigned VerifyThread(CBootloaderZLDlg* dlg) {
    dlg->m_bTransferRunning = 1;
    Controls& c = dlg->m_controls;
    c.EnableWindow(IDC_READOUT, false);
    c.EnableWindow(IDC_COMPARE, false);
    c.EnableWindow(IDC_AUTOLOAD_ON, false);
    c.EnableWindow(IDC_AUTOLOAD_OFF, false);
    dlg->SetStatus(DialogState::Transferring, Text(TextId::StatusVerify, dlg->English()));

    const std::u16string path = dlg->m_strVerifyPath.Get();
    TransferRecord record = dlg->BeginRecord(Operation::Verify, path);
    FileError error;
    std::unique_ptr<File> file = OpenFileForRead(path, error);
    if (!file)
        FailFile(dlg, record, TextId::FileOpenFailed, path, error);
    else
        Compare(dlg, record, *file, path);
    dlg->EndRecord(std::move(record));

    c.EnableWindow(IDC_READOUT, true);
    c.EnableWindow(IDC_COMPARE, true);
    dlg->EnableAutoLoadButton();
    if (file) file->Close();
    HandBackToInfoThread(dlg, false);
    return 0;
}

}  // namespace zl
