// The device search: WakeUpThread floods the line with the wake-up string while
// SearchThread listens for the bootloader's answer.
#include <chrono>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/threads.h"
#include "protocol/commands.h"
#include "protocol/wire_text.h"
#include "res/resources.h"

namespace zl {
namespace {

// A line that never falls quiet (noise, a device that keeps talking) is read for at
// most this long, or this many characters, in one pass of the search.
constexpr ReadLimit kSearchPassLimit{std::chrono::milliseconds(10000), 1u << 16};

// True while a pass of the search may go on reading: the search still runs (or it
// ended on the device's answer), and the pass is within its limit.
bool PassGoesOn(CBootloaderZLDlg* dlg, bool answered, std::chrono::steady_clock::time_point end, size_t chars) {
    return (answered || dlg->m_bSearching) && chars < kSearchPassLimit.chars && std::chrono::steady_clock::now() < end;
}

}  // namespace

unsigned WakeUpThread(CBootloaderZLDlg* dlg) {
    if (dlg->m_bDisconnecting) return 1;
    ++dlg->m_nWakeThreads;
    dlg->WriteThreadIndicator();
    const PortHandle port = dlg->m_hPort.Get();
    uint8_t pass = 0;
    while (dlg->m_bSearching) {
        const int sel = dlg->DeviceSel();
        if (WriteBytes(port, kWakeUp.data(), kWakeUp.size()) != kWakeUp.size() && LineGone(port)) {
            dlg->m_bSearching = 0;  // the line is gone: the tick reopens the port
            break;
        }
        if (sel == 0) {
            // The PIC32 kind pauses 1 ms after every 256th write.
            if (pass == 0) Sleep(1);
            ++pass;
        }
    }
    --dlg->m_nWakeThreads;
    dlg->WriteThreadIndicator();
    return 0;
}

unsigned SearchThread(CBootloaderZLDlg* dlg) {
    if (dlg->m_bDisconnecting) return 1;
    ++dlg->m_nWakeThreads;
    dlg->WriteThreadIndicator();
    Controls& c = dlg->m_controls;
    c.EnableWindow(IDC_READOUT, false);
    c.EnableWindow(IDC_COMPARE, false);
    c.EnableWindow(IDC_PORT, true);
    c.EnableWindow(IDC_DEVICE, true);
    c.EnableWindow(IDC_STOPSTART, true);
    dlg->SetStatus(DialogState::Searching, Text(TextId::StatusSearching, dlg->English()));
    ShowDeviceInfo(dlg, u"");
    std::u16string cycle;
    dlg->m_progress.SetRange(0, 200);
    dlg->m_progress.SetPos(0);
    dlg->m_progress.SetStep(1);

    const PortHandle port = dlg->m_hPort.Get();
    uint8_t last = 0xFF;  // the last byte received
    while (dlg->m_bSearching) {
        cycle.clear();
        if (LineGone(port)) {
            dlg->m_bSearching = 0;  // the line is gone: the tick reopens the port
            break;
        }
        const auto passEnd = std::chrono::steady_clock::now() + kSearchPassLimit.time;
        size_t chars = 0;
        if (dlg->DeviceSel() == 0) {
            dlg->m_progress.StepIt();
            bool answered = false;
            while (PassGoesOn(dlg, answered, passEnd, chars++)) {
                uint8_t b;
                const bool got = ReadByte(port, b);
                if (got) last = b;
                if (last == 'l') {
                    answered = true;
                    dlg->m_bBootAnswered = 1;
                    dlg->m_bSearching = 0;
                }
                if (!got) break;
            }
        } else {
            const int pos = dlg->m_progress.GetPos();
            dlg->m_progress.SetPos(pos < 180 ? pos + 20 : 0);
            uint8_t b;
            while (PassGoesOn(dlg, false, passEnd, chars++) && ReadByte(port, b)) {
                // Noise in front of the answer (line ends, zeros, bytes above 0x7F) is dropped.
                if (cycle.empty() && (b < 0x20 || b > 0x7F)) continue;
                AppendWidened(cycle, b);
            }
            Sleep(500);
            if (TextContains(cycle, u"BOOT ")) {
                dlg->m_bBootAnswered = 1;
                dlg->m_bSearching = 0;
            }
        }
    }

    if (!cycle.empty()) ShowDeviceInfo(dlg, cycle);
    --dlg->m_nWakeThreads;
    dlg->WriteThreadIndicator();
    dlg->m_nInfoCycle = 0;
    if (dlg->m_hPort.IsOpen() && !dlg->m_bDeviceListOpen && !LineGone(port)) {
        if (dlg->DeviceSel() == 0)
            for (int i = 0; i < 500; ++i) WriteBytes(port, kWakeUp.data(), kWakeUp.size());
        Sleep(300);
    }
    return 0;
}

}  // namespace zl
