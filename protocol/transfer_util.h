// Pieces the transfers share: their error boxes and the end of a transfer.
#pragma once

#include <string>

#include "app/bootloader_dlg.h"
#include "app/texts.h"

namespace zl {

// An error box naming a file and the reason of the failure.
void ShowFileError(CBootloaderZLDlg* dlg, TextId what, const std::u16string& path, const std::u16string& reason);
// An error box with the error icon.
void ShowTransferError(CBootloaderZLDlg* dlg, TextId text);
// Replaces the "%i" marks of a text, in order, by the numbers given.
std::u16string FormatCounts(const std::u16string& text, long long first, long long second = 0);
// Hands the port back to a new InfoThread at the end of a load or verify. The
// connected state is claimed before the transfer flag is cleared, so that no tick in
// between starts a search. After a load the cycle counter is set to 1, so that the
// same device is not loaded again.
void HandBackToInfoThread(CBootloaderZLDlg* dlg, bool afterLoad);

}  // namespace zl
