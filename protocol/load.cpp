// The firmware load: the Auto-Load file into the connected device, in the PIC32 form
// (identification check, whole 512-byte blocks, acknowledgement dots, copy to chip)
// or the HCS form (pieces of up to 512 bytes, each answered, and a closing report).
#include <cctype>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/file.h"
#include "platform/threads.h"
#include "platform/win32.h"
#include "protocol/commands.h"
#include "protocol/transfer_util.h"
#include "protocol/wire_text.h"
#include "res/resources.h"

namespace zl {
namespace {

// The number of errors an HCS device names in its closing report ("Load beendet,
// 0 Fehler aufgetreten"), or -1 when the report names none.
long ReportedErrors(const std::u16string& report) {
    const long p = FindInText(report, u"Load beendet");
    if (p < 0) return -1;
    for (size_t i = static_cast<size_t>(p) + 12; i < report.size() && i < static_cast<size_t>(p) + 40; ++i) {
        if (report[i] < u'0' || report[i] > u'9') continue;
        long n = 0;
        while (i < report.size() && report[i] >= u'0' && report[i] <= u'9' && n < 100000) n = n * 10 + (report[i++] - u'0');
        return n;
    }
    return -1;
}

// The device's copy from flash to chip: 13 steps of 40 ms while its dots are counted,
// then 37 of 100 ms after the copy command.
constexpr int kDotSteps = 13, kDotStepMs = 40, kCopySteps = 37, kCopyStepMs = 100;
constexpr int kProgramMs = kDotSteps * kDotStepMs + kCopySteps * kCopyStepMs;
// How long missing acknowledgement dots are waited for after the first count.
constexpr int kLateDotsMs = 2000;

struct Load {
    CBootloaderZLDlg* dlg;
    File& source;
    DigestReader file;  // reads source, digesting what is sent
    const std::u16string& path;
    PortHandle port;
    TransferRecord& record;
    PhaseMeter meter;
    std::u16string answer;  // every byte received during this load

    void Status(TextId key) { dlg->SetStatus(DialogState::Transferring, Text(key, dlg->English())); }
    void ReadFailed() { FailFile(dlg, record, TextId::FileReadFailed, path, source.LastError()); }
    // The transfer broke off: the line is gone, or the device did not take it.
    void Interrupted() {
        FailTransfer(dlg, record, LineGone(port) ? Cause::DeviceGone : Cause::Length, TextId::LoadFailedLength);
    }

    void Pic32() {
        const int64_t length = source.Length();
        if (length < 0) return ReadFailed();
        // Only whole blocks reach the device, and the copy command puts what it has on
        // the chip: an image that is empty or not a whole number of blocks would leave a
        // truncated firmware there. Such a file is refused before anything is sent.
        if (length == 0 || length % static_cast<int64_t>(kBlockSize) != 0) {
            record.reachedDevice = false;
            return FailTransfer(dlg, record, Cause::Length, TextId::LoadFailedLength);
        }
        std::u16string header;
        for (int i = 0; i < 100; ++i) {
            uint8_t b;
            const long n = file.Read(&b, 1);
            if (n < 0) return ReadFailed();
            if (n == 0) break;
            AppendWidened(header, b);
        }
        if (!file.SeekToBegin()) return ReadFailed();
        if (!IsFileCompatible(dlg, dlg->m_strDeviceInfo.Get(), header)) {
            const bool en = dlg->English();
            const int answerBox = ShowTransferBox(dlg, record, Text(TextId::Incompatible, en),
                                                  Text(TextId::TitleCompatibility, en), MB_OKCANCEL | MB_ICONEXCLAMATION);
            if (answerBox != IDOK) {
                record.outcome = Outcome::Incompatible;
                record.cause = Cause::Incompatible;
                dlg->OnAutoLoadOff();
                return;
            }
        }
        record.reachedDevice = true;
        SendCommand(port, kCmdLoad);
        Sleep(200);
        Status(TextId::StatusLoadToFlash);
        ReadUntilSilent(port, answer);
        if (!TextContains(answer, u"Load gestartet"))
            return FailTransfer(dlg, record, LineGone(port) ? Cause::DeviceGone : Cause::StartRefused, TextId::LoadNotStarted);

        meter.Begin(Phase::Send, length);
        CProgressCtrl& bar = dlg->m_progress;
        bar.SetRange(0, static_cast<int>(length / 2048 + 50));
        bar.SetStep(1);
        bar.SetPos(0);

        // Whole blocks back to back; the acknowledgements wait in the port's input.
        uint8_t block[kBlockSize];
        int counter = 0;
        long n = file.Read(block, kBlockSize);
        while (n == static_cast<long>(kBlockSize)) {
            if (WriteBytes(port, block, kBlockSize) != kBlockSize) break;  // the line is gone
            record.bytes += kBlockSize;
            meter.Progress(record.bytes);
            if (++counter == 4) {
                bar.StepIt();
                counter = 0;
            }
            n = file.Read(block, kBlockSize);
        }
        // An image that could not be read whole, that changed while it was sent, or that
        // did not reach the device whole is never copied to the chip.
        if (n < 0) return ReadFailed();
        if (!source.Unchanged()) return ReadFailed();
        if (record.bytes != static_cast<uint64_t>(length)) return Interrupted();

        Sleep(50);
        int64_t dots = 0;
        uint8_t b;
        auto collectDots = [&] {
            while (ReadByte(port, b)) {
                AppendWidened(answer, b);
                if (b == '.') ++dots;
            }
        };
        collectDots();
        // The last acknowledgements may come late from a device, or through a machine,
        // that is busy: while some are missing they are waited for, bounded, before the
        // copy command. A load whose dots all came in time is not held at all.
        const int64_t blocks = length / static_cast<int64_t>(kBlockSize);
        for (int waited = 0; dots < blocks && waited < kLateDotsMs && !LineGone(port); waited += 50) {
            Sleep(50);
            collectDots();
        }
        record.units = static_cast<uint64_t>(dots);
        meter.Begin(Phase::Program, kProgramMs);
        for (int i = 1; i <= kDotSteps; ++i) {
            Sleep(kDotStepMs);
            bar.StepIt();
            meter.Progress(static_cast<uint64_t>(i * kDotStepMs));
        }
        Status(TextId::StatusFlashToChip);
        SendCommand(port, kCmdProg);
        for (int i = 1; i <= kCopySteps; ++i) {
            Sleep(kCopyStepMs);
            bar.StepIt();
            meter.Progress(static_cast<uint64_t>(kDotSteps * kDotStepMs + i * kCopyStepMs));
        }
        if (length != static_cast<int64_t>(kBlockSize) * dots) Interrupted();
    }

    void Hcs() {
        record.reachedDevice = true;
        SendCommand(port, kCmdLoad);
        Sleep(200);
        Status(TextId::StatusLoadHcs);
        ReadUntilSilent(port, answer);
        if (!TextContains(answer, u"Load gestartet")) {
            FailTransfer(dlg, record, LineGone(port) ? Cause::DeviceGone : Cause::StartRefused, TextId::LoadNotStarted);
        } else if (!SendPieces() || !source.Unchanged()) {
            ReadFailed();
        } else if (LineGone(port)) {
            Interrupted();
        } else if (ReportedErrors(answer) != 0) {
            // No report, or errors named in it: the panel shows what the device said.
            record.outcome = Outcome::TransferFailed;
            record.cause = ReportedErrors(answer) < 0 ? Cause::NoReport : Cause::DeviceErrors;
        }
        const long p = FindInText(answer, u"Load beendet");
        if (p > 0) answer.erase(0, static_cast<size_t>(p));
        ShowDeviceInfo(dlg, answer);
    }

    // Sends the file in pieces of up to 512 bytes, each followed by reading until
    // the device is silent. false when the file could not be read.
    bool SendPieces() {
        const int64_t length = source.Length();
        if (length < 0) return false;
        meter.Begin(Phase::Send, length);
        CProgressCtrl& bar = dlg->m_progress;
        bar.SetRange(0, static_cast<int>(length / static_cast<int64_t>(kBlockSize)));
        bar.SetStep(1);
        bar.SetPos(0);
        uint8_t piece[kBlockSize];
        long n = file.Read(piece, kBlockSize);
        while (n >= 1) {
            if (WriteBytes(port, piece, static_cast<size_t>(n)) != static_cast<uint32_t>(n)) break;  // the line is gone
            record.bytes += static_cast<uint64_t>(n);
            ++record.units;
            bar.StepIt();
            meter.Progress(record.bytes);
            ReadUntilSilent(port, answer);
            n = file.Read(piece, kBlockSize);
        }
        Sleep(200);
        ReadUntilSilent(port, answer);
        return n >= 0;
    }
};

// True when the open file's bytes have the SHA-256 pinned (or none is pinned); the file
// is read whole and set back to its beginning.
bool MatchesPin(File& file, const std::string& pinned) {
    if (pinned.empty()) return true;
    Sha256 digest;
    uint8_t buf[16 * 1024];
    long n;
    while ((n = file.Read(buf, sizeof buf)) > 0) digest.Update(buf, static_cast<size_t>(n));
    return n == 0 && file.SeekToBegin() && digest.HexDigest() == pinned;
}

}  // namespace

unsigned LoadThread(CBootloaderZLDlg* dlg) {
    Controls& c = dlg->m_controls;
    c.EnableWindow(IDC_READOUT, false);
    c.EnableWindow(IDC_COMPARE, false);
    c.EnableWindow(IDC_PORT, false);
    c.EnableWindow(IDC_DEVICE, false);

    const std::u16string path = dlg->m_strAutoLoadPath.Get();
    // An empty path means Auto-Load was switched off after the load was asked for.
    if (!path.empty()) {
        TransferRecord record = dlg->BeginRecord(Operation::Load, path);
        FileError error;
        std::unique_ptr<File> file = OpenFileForRead(path, error);
        if (!file) {
            FailFile(dlg, record, TextId::FileOpenFailed, path, error);
        } else if (!MatchesPin(*file, dlg->PinnedFileSha256())) {
            FailFile(dlg, record, TextId::FileReadFailed, path, FileError{FileProblem::Changed, {}});
            file->Close();
        } else {
            Load load{dlg, *file, DigestReader(*file), path, dlg->m_hPort.Get(), record, PhaseMeter(dlg, record), {}};
            if (dlg->DeviceSel() == 0)
                load.Pic32();
            else
                load.Hcs();
            if (record.reachedDevice) load.file.Finish(record);
            file->Close();
        }
        // A PIC32 device names its new firmware at its next answer: the record waits for it.
        if (record.deviceSel == 0 && record.reachedDevice)
            dlg->HoldLoadRecord(std::move(record));
        else
            dlg->EndRecord(std::move(record));
    }
    HandBackToInfoThread(dlg, true);
    return 0;
}

}  // namespace zl
