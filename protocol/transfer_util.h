// Pieces the transfers share: their failure boxes, the record of each transfer, and
// the end of a transfer.
#pragma once

#include <string>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/file.h"
#include "records/transfer_record.h"

namespace zl {

// A box of a transfer: shown, and its text kept in the record.
int ShowTransferBox(CBootloaderZLDlg* dlg, TransferRecord& record, const std::u16string& text,
                    const std::u16string& title, unsigned type);
// A failed transfer: the error box with the error icon, and the failure in the record.
void FailTransfer(CBootloaderZLDlg* dlg, TransferRecord& record, const char* failure, TextId text);
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
