#include "protocol/transfer_util.h"

#include <chrono>

#include "platform/win32.h"
#include "protocol/commands.h"
#include "protocol/compat.h"
#include "protocol/firmware_id.h"
#include "res/resources.h"

namespace zl {
namespace {

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int ShowTransferBox(CBootloaderZLDlg* dlg, TransferRecord& record, const std::u16string& text,
                    const std::u16string& title, unsigned type) {
    record.boxText = text;
    return dlg->m_platform.MessageBox(text, title, type);
}

void EnterPhase(TransferRecord& record, int phase) {
    const int64_t now = NowUs();
    if (record.runningPhase >= 0) {
        int64_t& spent = record.phaseUs[static_cast<size_t>(record.runningPhase)];
        spent = (spent < 0 ? 0 : spent) + (now - record.phaseBeganUs);
    }
    record.runningPhase = phase;
    record.phaseBeganUs = now;
}

void PhaseMeter::Begin(Phase phase, int64_t total) {
    EnterPhase(record_, static_cast<int>(phase));
    phase_ = phase;
    total_ = total;
    begun_ = std::chrono::steady_clock::now();
    Progress(0);
}

void PhaseMeter::Progress(uint64_t done) {
    TransferProgress p;
    p.operation = record_.operation;
    p.phase = phase_;
    p.done = done;
    p.total = total_;
    p.phaseUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun_).count();
    dlg_->m_platform.TransferProgressed(p);
}

long DigestReader::Read(uint8_t* buf, size_t n) {
    const long got = file_.Read(buf, n);
    if (got < 0) {
        failed_ = true;
    } else if (got > 0) {
        digest_.Update(buf, static_cast<size_t>(got));
        size_ += got;
    }
    return got;
}

bool DigestReader::SeekToBegin() {
    digest_ = Sha256();
    size_ = 0;
    return file_.SeekToBegin();
}

void DigestReader::Finish(TransferRecord& record) {
    uint8_t buf[16 * 1024];
    while (!failed_ && Read(buf, sizeof buf) > 0) {
    }
    if (failed_) return;
    record.fileSize = size_;
    record.fileSha256 = digest_.HexDigest();
}

void FailTransfer(CBootloaderZLDlg* dlg, TransferRecord& record, Cause cause, TextId text) {
    const bool en = dlg->English();
    record.outcome = Outcome::TransferFailed;
    record.cause = cause;
    ShowTransferBox(dlg, record, Text(text, en), Text(TextId::TitleError, en), MB_OK | MB_ICONERROR);
}

std::u16string FileErrorText(const FileError& error, bool english) {
    switch (error.problem) {
        case FileProblem::NotFound: return Text(TextId::ProblemNotFound, english);
        case FileProblem::NoSpace: return Text(TextId::ProblemNoSpace, english);
        case FileProblem::Permission: return Text(TextId::ProblemPermission, english);
        case FileProblem::ReadOnly: return Text(TextId::ProblemReadOnly, english);
        case FileProblem::IsDirectory: return Text(TextId::ProblemIsDirectory, english);
        case FileProblem::NotRegular: return Text(TextId::ProblemNotRegular, english);
        case FileProblem::Busy: return Text(TextId::ProblemBusy, english);
        case FileProblem::Changed: return Text(TextId::ProblemChanged, english);
        case FileProblem::NotWholeBlocks: return Text(TextId::ProblemNotWholeBlocks, english);
        case FileProblem::None:
        case FileProblem::Other: break;
    }
    return error.detail;
}

void FailFile(CBootloaderZLDlg* dlg, TransferRecord& record, TextId what, const std::u16string& path,
              const FileError& error) {
    const bool en = dlg->English();
    record.outcome = Outcome::FileError;
    record.cause = error.problem == FileProblem::Changed ? Cause::FileChanged : Cause::FileError;
    ShowTransferBox(dlg, record, Text(what, en) + path + u"\n\n" + FileErrorText(error, en),
                    Text(TextId::TitleError, en), MB_OK | MB_ICONERROR);
}

std::u16string FormatCounts(const std::u16string& text, long long first, long long second) {
    std::u16string out;
    int used = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u'i' && used < 2) {
            const std::string n = std::to_string(used == 0 ? first : second);
            out.append(n.begin(), n.end());
            ++used;
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void HandBackToInfoThread(CBootloaderZLDlg* dlg, bool afterLoad) {
    if (afterLoad) dlg->m_nInfoCycle = 1;
    if (LineGone(dlg->m_hPort.Get())) {
        dlg->ReleaseLoadRecord(u"");
        dlg->m_bInfoEnded = 1;
        dlg->m_bTransferRunning = 0;
        return;
    }
    dlg->m_bInfoEnded = 0;
    dlg->m_bTransferRunning = 0;
    StartWorker(InfoThread, dlg, THREAD_PRIORITY_NORMAL);
}

TransferRecord CBootloaderZLDlg::BeginRecord(Operation operation, const std::u16string& filePath) {
    TransferRecord r;
    r.operation = operation;
    r.deviceSel = DeviceSel();
    r.device = DeviceTypeName(r.deviceSel);
    r.port = m_strPort.Get();
    if (PortHandle port = m_hPort.Get()) {
        DCB dcb{};
        if (port->GetCommState(dcb)) r.baud = dcb.BaudRate;
    }
    if (r.deviceSel == 0) {
        const DeviceIdentity id = IdentityOf(m_strDeviceInfo.Get(), English());
        r.manufacturer = id.manufacturer;
        r.hardware = id.hardware;
    }
    r.firmwareBefore = m_controls.GetWindowText(IDC_FW_LEFT);
    r.filePath = filePath;
    r.startedUs = NowUs();
    return r;
}

void CBootloaderZLDlg::EndRecord(TransferRecord record) {
    EnterPhase(record, -1);
    record.durationUs = NowUs() - record.startedUs;
    if (m_recordSink) m_recordSink->Keep(record);
    m_platform.TransferEnded(record);
}

void CBootloaderZLDlg::HoldLoadRecord(TransferRecord record) {
    EnterPhase(record, -1);
    record.durationUs = NowUs() - record.startedUs;
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_heldLoadRecord = std::move(record);
}

void CBootloaderZLDlg::ExpectFirmware(std::optional<FirmwareId> firmware) {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_expectedFirmware = std::move(firmware);
}

void CBootloaderZLDlg::PinFileSha256(std::string sha256) {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_pinnedSha256 = std::move(sha256);
}

std::string CBootloaderZLDlg::PinnedFileSha256() {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    return m_pinnedSha256;
}

bool CBootloaderZLDlg::LoadRecordHeld() {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    return m_heldLoadRecord.has_value();
}

void CBootloaderZLDlg::ReleaseLoadRecord(const std::u16string& firmwareAfter) {
    std::optional<TransferRecord> record;
    std::optional<FirmwareId> expected;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        record.swap(m_heldLoadRecord);
        expected = m_expectedFirmware;
    }
    if (!record) return;
    record->firmwareAfter = firmwareAfter;
    // A load whose device does not come back with the firmware expected has failed,
    // however well the image went over.
    if (expected && record->outcome == Outcome::Ok && ParseFirmwareId(firmwareAfter) != expected) {
        record->outcome = Outcome::TransferFailed;
        record->cause = Cause::FirmwareMismatch;
    }
    if (m_recordSink) m_recordSink->Keep(*record);
    m_platform.TransferEnded(*record);
}

}  // namespace zl
