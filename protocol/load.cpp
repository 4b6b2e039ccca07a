// The firmware load: the Auto-Load file into the connected device, in the PIC32 form
// (identification check, whole 512-byte blocks, acknowledgement dots, copy to chip)
// or the HCS form (pieces of up to 512 bytes, each answered, and a closing report).
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

struct Load {
    CBootloaderZLDlg* dlg;
    File& file;
    const std::u16string& path;
    PortHandle port;
    std::u16string answer;  // every byte received during this load

    void Status(TextId key) { dlg->m_controls.SetWindowText(IDC_STATUS, Text(key, dlg->English())); }
    void ReadFailed() { ShowFileError(dlg, TextId::FileReadFailed, path, file.LastError()); }

    void Pic32() {
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
            const int answerBox = dlg->m_platform.MessageBox(Text(TextId::Incompatible, en), Text(TextId::TitleCompatibility, en),
                                                             MB_OKCANCEL | MB_ICONEXCLAMATION);
            if (answerBox != IDOK) {
                dlg->OnAutoLoadOff();
                return;
            }
        }
        SendCommand(port, kCmdLoad);
        Sleep(200);
        Status(TextId::StatusLoadToFlash);
        ReadUntilSilent(port, answer);
        if (!TextContains(answer, u"Load gestartet")) return ShowTransferError(dlg, TextId::LoadNotStarted);

        const int64_t length = file.Length();
        if (length < 0) return ReadFailed();
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
            if (++counter == 4) {
                bar.StepIt();
                counter = 0;
            }
            n = file.Read(block, kBlockSize);
        }
        // An image that could not be read whole is never copied to the chip.
        if (n < 0) return ReadFailed();

        Sleep(50);
        int64_t dots = 0;
        uint8_t b;
        while (ReadByte(port, b)) {
            AppendWidened(answer, b);
            if (b == '.') ++dots;
        }
        for (int i = 0; i < 13; ++i) {
            Sleep(40);
            bar.StepIt();
        }
        Status(TextId::StatusFlashToChip);
        SendCommand(port, kCmdProg);
        for (int i = 0; i < 37; ++i) {
            Sleep(100);
            bar.StepIt();
        }
        if (length != static_cast<int64_t>(kBlockSize) * dots) ShowTransferError(dlg, TextId::LoadFailedLength);
    }

    void Hcs() {
        SendCommand(port, kCmdLoad);
        Sleep(200);
        Status(TextId::StatusLoadHcs);
        ReadUntilSilent(port, answer);
        if (!TextContains(answer, u"Load gestartet")) {
            ShowTransferError(dlg, TextId::LoadNotStarted);
        } else if (!SendPieces()) {
            ReadFailed();
        }
        const long p = FindInText(answer, u"Load beendet");
        if (p > 0) answer.erase(0, static_cast<size_t>(p));
        ShowDeviceInfo(dlg, answer);
    }

    // Sends the file in pieces of up to 512 bytes, each followed by reading until
    // the device is silent. false when the file could not be read.
    bool SendPieces() {
        const int64_t length = file.Length();
        if (length < 0) return false;
        CProgressCtrl& bar = dlg->m_progress;
        bar.SetRange(0, static_cast<int>(length / static_cast<int64_t>(kBlockSize)));
        bar.SetStep(1);
        bar.SetPos(0);
        uint8_t piece[kBlockSize];
        long n = file.Read(piece, kBlockSize);
        while (n >= 1) {
            WriteBytes(port, piece, static_cast<size_t>(n));
            bar.StepIt();
            ReadUntilSilent(port, answer);
            n = file.Read(piece, kBlockSize);
        }
        Sleep(200);
        ReadUntilSilent(port, answer);
        return n == 0;
    }
};

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
        std::u16string reason;
        std::unique_ptr<File> file = OpenFileForRead(path, true, reason);
        if (!file) {
            ShowFileError(dlg, TextId::FileOpenFailed, path, reason);
        } else {
            Load load{dlg, *file, path, dlg->m_hPort.Get(), {}};
            if (dlg->DeviceSel() == 0)
                load.Pic32();
            else
                load.Hcs();
            file->Close();
        }
    }
    HandBackToInfoThread(dlg, true);
    return 0;
}

}  // namespace zl
