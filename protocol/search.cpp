// The device search: WakeUpThread floods the line with the wake-up string while
// SearchThread listens for the bootloader's answer.
#include <algorithm>
#include <chrono>
#include <string>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/comm_dcb.h"
#include "platform/line_clock.h"
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

// The flood is written in slices of several wake-up strings, each taken by the port at
// once (with the lead still on the line, a slice fills the line clock's FIFO); the
// writer sleeps while a slice goes out and comes back while the line still carries the
// lead, so that the stream on the line has no gaps.
struct FloodPlan {
    DCB line;
    size_t strings;                              // wake-up strings in one slice
    std::chrono::steady_clock::duration lead;    // what the line still carries when the next slice is written
};

FloodPlan PlanFlood(const PortHandle& port, int deviceSel) {
    FloodPlan plan{};
    // A port that does not tell its settings: the search's own line of that kind.
    if (!port || !port->GetCommState(plan.line) || plan.line.BaudRate == 0)
        BuildCommDCB(deviceSel == 0 ? u"115200,n,8,1" : u"57600,n,8,1", plan.line);
    plan.lead = std::chrono::milliseconds(4);
    const auto fifo = LineClock::Time(plan.line, LineClock::kFifoHigh);
    size_t strings = 1;
    while (LineClock::Time(plan.line, (strings + 1) * kWakeUp.size()) + plan.lead <= fifo) ++strings;
    plan.strings = strings;
    return plan;
}

// The PIC32 kind's pauses that fall into a slice of strings after the first `before`
// up to `after`: a pause follows the 1st, 257th, 513th ... string.
uint64_t PausesBetween(uint64_t before, uint64_t after) { return (after + 255) / 256 - (before + 255) / 256; }

// While the line is quiet, a pass of the PIC32 search waits this long for the first
// byte (a byte ends the wait at once); from the first byte on it reads with the port's
// own time-outs.
constexpr uint32_t kQuietReadMs = 100;

// Switches the port between the quiet-line reads and its own time-outs.
class QuietReads {
public:
    explicit QuietReads(const PortHandle& port) : port_(port) {
        if (!port_ || !port_->GetCommTimeouts(own_)) port_.reset();
    }
    ~QuietReads() { Own(); }
    void Quiet() {
        if (!port_ || quiet_) return;
        COMMTIMEOUTS t = own_;
        t.ReadIntervalTimeout = t.ReadTotalTimeoutConstant = kQuietReadMs;
        t.ReadTotalTimeoutMultiplier = 0;
        quiet_ = port_->SetCommTimeouts(t);
    }
    void Own() {
        if (port_ && quiet_) port_->SetCommTimeouts(own_);
        quiet_ = false;
    }

private:
    PortHandle port_;
    COMMTIMEOUTS own_{};
    bool quiet_ = false;
};

}  // namespace

unsigned WakeUpThread(CBootloaderZLDlg* dlg) {
    if (dlg->m_bDisconnecting) return 1;
    ++dlg->m_nWakeThreads;
    dlg->WriteThreadIndicator();
    const PortHandle port = dlg->m_hPort.Get();
    const FloodPlan plan = PlanFlood(port, dlg->DeviceSel());
    std::string slice;
    for (size_t i = 0; i < plan.strings; ++i) slice += kWakeUp;
    uint64_t sent = 0;                            // wake-up strings written
    auto due = std::chrono::steady_clock::now();  // when they will have gone out
    const size_t n = slice.size();
    while (dlg->m_bSearching) {
        const bool pic32 = dlg->DeviceSel() == 0;
        const auto now = std::chrono::steady_clock::now();
        if (WriteBytes(port, slice.data(), n) != n && LineGone(port)) {
            dlg->m_bSearching = 0;  // the line is gone: the tick reopens the port
            break;
        }
        const uint64_t before = sent;
        sent += plan.strings;
        due = std::max(due, now) + LineClock::Time(plan.line, n);
        // Back while the line still carries the lead; the PIC32 kind's pause after every
        // 256th string makes it come back 1 ms later, never a gap on the line. The wait
        // ends at once when the search ends.
        auto back = due - plan.lead;
        if (pic32) back += std::chrono::milliseconds(PausesBetween(before, sent));
        dlg->m_bSearching.WaitWhileSetUntil(back);
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
    dlg->m_progress.SetStep(kQuietReadMs / 10);  // a step per 10 ms of a quiet line

    const PortHandle port = dlg->m_hPort.Get();
    uint8_t last = 0xFF;  // the last byte received
    QuietReads reads(port);
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
            reads.Quiet();
            while (PassGoesOn(dlg, answered, passEnd, chars++)) {
                uint8_t b;
                const bool got = ReadByte(port, b);
                if (got) reads.Own();  // the device talks: the rest of the pass as before
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

    reads.Own();
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
