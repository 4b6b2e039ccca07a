// Pieces the transfers share: their failure boxes, the record of each transfer, and
// the end of a transfer.
#pragma once

#include <chrono>
#include <string>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/file.h"
#include "platform/transfer.h"
#include "records/sha256.h"

namespace zl {

// Publishes a transfer's phases and their progress (Platform::TransferProgressed).
class PhaseMeter {
public:
    PhaseMeter(CBootloaderZLDlg* dlg, TransferRecord& record) : dlg_(dlg), record_(record) {}
    // A new phase begins with nothing done; total -1 when unknown. The record counts the
    // time of each phase.
    void Begin(Phase phase, int64_t total);
    void Progress(uint64_t done);

private:
    CBootloaderZLDlg* dlg_;
    TransferRecord& record_;
    Phase phase_ = Phase::Send;
    int64_t total_ = -1;
    std::chrono::steady_clock::time_point begun_{};
};

// A file read for a transfer: every byte read is digested, so that the record names
// the bytes the device got, not what the file holds later. Starting over (the PIC32
// header check reads the beginning twice) starts the digest over.
class DigestReader {
public:
    explicit DigestReader(File& file) : file_(file) {}
    long Read(uint8_t* buf, size_t n);  // as File::Read
    bool SeekToBegin();
    // Digests what is left of the open file (a transfer that stopped early still names
    // the whole image it was given) and puts size and SHA-256 into the record; nothing
    // when a read failed.
    void Finish(TransferRecord& record);

private:
    File& file_;
    Sha256 digest_;
    int64_t size_ = 0;
    bool failed_ = false;
};

// Ends the phase under way in the record's phase times (at the transfer's end), and
// begins phase (-1: none).
void EnterPhase(TransferRecord& record, int phase);

// A box of a transfer: shown, and its text kept in the record.
int ShowTransferBox(CBootloaderZLDlg* dlg, TransferRecord& record, const std::u16string& text,
                    const std::u16string& title, unsigned type);
// A failed transfer: the error box with the error icon, and the failure in the record.
void FailTransfer(CBootloaderZLDlg* dlg, TransferRecord& record, Cause cause, TextId text);
// A file that could not be used: the error box names the file and the reason.
void FailFile(CBootloaderZLDlg* dlg, TransferRecord& record, TextId what, const std::u16string& path,
              const FileError& error);
// The reason of a file failure in the interface language.
std::u16string FileErrorText(const FileError& error, bool english);
// Replaces the "%i" marks of a text, in order, by the numbers given.
std::u16string FormatCounts(const std::u16string& text, long long first, long long second = 0);
// Hands the port back to a new InfoThread at the end of a load or verify. The
// connected state is claimed before the transfer flag is cleared, so that no tick in
// between starts a search. After a load the cycle counter is set to 1, so that the
// same device is not loaded again. A line that has been hung up is not handed on: the
// tick then closes the port and tries to open it again.
void HandBackToInfoThread(CBootloaderZLDlg* dlg, bool afterLoad);

}  // namespace zl
