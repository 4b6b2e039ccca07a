#include "cli/station.h"
#include "cli/unit_reader.h"

#include <algorithm>
#include <cstdio>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/text_convert.h"
#include "platform/win32.h"
#include "protocol/compat.h"
#include "records/record_line.h"
#include "res/resources.h"

namespace zl::cli {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A panel's text on one line: line breaks and tabs become blanks, bytes the device
// sent above 0x7F are left out.
std::string Clean(const std::u16string& text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c >= 0xFF80) continue;
        if (c < 0x20) c = u' ';
        if (c == u' ' && (out.empty() || out.back() == u' ')) continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == u' ') out.pop_back();
    return ToUtf8(out);
}

// The value after a label in an HCS panel ("\rSoftware:\tABC12345\rVersion:\t\t...").
std::string HcsField(const std::u16string& panel, const std::u16string& label) {
    const size_t p = panel.find(label);
    if (p == std::u16string::npos) return {};
    size_t start = p + label.size();
    while (start < panel.size() && panel[start] == u'\t') ++start;
    const size_t end = panel.find(u'\r', start);
    return Clean(panel.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
}

const char* IconName(unsigned type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR: return "error";
        case MB_ICONQUESTION: return "question";
        case MB_ICONEXCLAMATION: return "warning";
        case MB_ICONINFORMATION: return "information";
        default: return "none";
    }
}

}  // namespace

int ExitCodeOf(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok: return kExitOk;
        case Outcome::TransferFailed: return kExitTransfer;
        case Outcome::VerifyMismatch: return kExitMismatch;
        case Outcome::Incompatible: return kExitIncompatible;
        case Outcome::FileError: return kExitFile;
    }
    return kExitTransfer;
}

Station::Station(Job job, std::unique_ptr<Profile> profile, Reporter& out, RecordLog& records)
    : job_(std::move(job)), out_(out), records_(records) {
    DriverSetup setup;
    setup.port = job_.port;
    setup.device = job_.device;
    setup.english = job_.english;
    setup.profile = std::move(profile);
    if (!job_.file.empty()) setup.fileAnswer = job_.file;
    setup.records = static_cast<RecordSink*>(this);
    tags_ = job_.tags;
    driver_ = std::make_unique<DialogDriver>(std::move(setup), static_cast<DriverListener&>(*this));
}

int Station::AnswerBox(const HeadlessPlatform::Box& box) {
    // The one question the core asks: load a file the compatibility check refuses?
    job_.board.Box(true);
    if ((box.type & MB_TYPEMASK) == MB_OKCANCEL) return job_.force ? IDOK : IDCANCEL;
    return IDOK;
}

void Station::StateChanged(DialogState state, const std::u16string& status) {
    job_.board.State(state, status);
    std::lock_guard<std::mutex> lock(mutex_);
    if (state == DialogState::PortLost) portLost_ = true;
    inTransfer_ = state == DialogState::Transferring;
    events_.push_back(Event{true, state, status, {}});
    dirty_ = true;
    wake_.notify_all();
}

void Station::Progressed(const TransferProgress& progress) {
    job_.board.Progress(progress);
    std::lock_guard<std::mutex> lock(mutex_);
    // Only the latest figures of a phase matter: they replace the ones not yet shown.
    if (!events_.empty() && !events_.back().isState && events_.back().progress.phase == progress.phase)
        events_.back().progress = progress;
    else
        events_.push_back(Event{false, DialogState::Transferring, {}, progress});
    dirty_ = true;
    wake_.notify_all();
}

bool Station::Shutdown() { return driver_->Shutdown(); }

// Shut down while the station's own members still stand: the dialog's threads call into
// them until they have ended.
Station::~Station() { Shutdown(); }

void Station::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_ = true;
    wake_.notify_all();
}

void Station::Click(int id) { driver_->Click(id); }

int Station::DeviceSel() const { return driver_->Dialog().m_cbDevice.GetCurSel(); }

void Station::BoxAnswered(const HeadlessPlatform::Box& box) {
    job_.board.Box(false);
    out_.Box(ToUtf8(box.title), ToUtf8(box.text), IconName(box.type), box.answer == IDCANCEL ? "cancel" : "ok");
    Wake();
}

void Station::TransferEnded(const TransferRecord& record) {
    // Kept by the record sink before this comes, on the worker's thread.
    std::lock_guard<std::mutex> lock(mutex_);
    job_.board.Ended(record, tags_.unitId);
    ended_.push_back(record);
    dirty_ = true;
    wake_.notify_all();
}

void Station::Keep(const TransferRecord& record) {
    RecordTags tags;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tags = tags_;
    }
    records_.Write(record, tags);
}

void Station::SetUnit(const std::string& id) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tags_.unitId = id;
    }
    out_.UnitTaken(id);
}

bool Station::TakeFirstUnit(const std::atomic<int>& interrupt) {
    out_.AskUnit();
    while (interrupt.load() == 0) {
        const std::optional<std::string> id = job_.units->Next(std::chrono::milliseconds(250));
        if (!id) continue;
        if (id->empty()) return false;
        SetUnit(*id);
        return true;
    }
    return false;
}

void Station::WaitForUnit() {
    RunState& r = run_;
    if (!r.unitWanted || r.finishing) return;
    if (const std::optional<std::string> id = job_.units->Next(std::chrono::milliseconds(0))) {
        if (id->empty()) return Finish("done");
        r.unitWanted = false;
        SetUnit(*id);
        if (r.stoppedForUnit) {
            r.stoppedForUnit = false;
            r.waitingSince = Clock::now();
            Click(IDC_STOPSTART);  // Start: the search for this unit begins
        }
    } else if (r.state == DialogState::Searching && !r.stoppedForUnit) {
        // The last device is gone and the next has no ID yet: nothing is searched for.
        r.stoppedForUnit = true;
        Click(IDC_STOPSTART);
    }
}

void Station::DeviceShownChanged(const DeviceShown& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_ = device;
    dirty_ = true;
    wake_.notify_all();
}

bool Station::PanelsReady(double connectedSeconds) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!shown_.pic32) return true;  // the HCS panel comes with the answer to the search
    // A PIC32 device fills the panels with its first self-description, half a second
    // or so after it is connected; one that never describes its firmware is shown as
    // it is after two information cycles.
    return shown_.described || connectedSeconds > 2.5;
}

DeviceView Station::View() const {
    DeviceShown d;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        d = shown_;
    }
    DeviceView v;
    v.pic32 = d.pic32;
    if (v.pic32) {
        v.manufacturer = Clean(d.manufacturer);
        v.hardware = Clean(d.hardware);
        v.firmware = Clean(d.firmware);
        v.flash = Clean(d.flash);
        v.previous = Clean(d.previous);
    } else {
        v.software = HcsField(d.firmware, u"Software:");
        v.version = HcsField(d.firmware, u"Version:");
        v.date = HcsField(d.firmware, u"Datum:");
    }
    return v;
}

void Station::ReportProgress(const TransferProgress& t) {
    ProgressView p;
    p.phase = PhaseName(t.phase);
    p.done = static_cast<int64_t>(t.done);
    p.total = t.total;
    p.percent = t.total > 0 ? static_cast<int>(std::min<int64_t>(p.done * 100 / t.total, 100)) : -1;
    const double seconds = static_cast<double>(t.phaseUs) / 1e6;
    if (t.phase == Phase::Program) {
        // Its figures are milliseconds of the device's copy time.
        p.bytes = false;
        if (t.total > 0) p.secondsLeft = static_cast<double>(t.total - p.done) / 1000.0;
    } else {
        p.bytesPerSecond = seconds > 0.2 ? static_cast<double>(p.done) / seconds : 0;
        if (t.total > 0 && p.bytesPerSecond > 0) p.secondsLeft = static_cast<double>(t.total - p.done) / p.bytesPerSecond;
    }
    out_.Progress(p);
}

void Station::Fail(int code) {
    if (run_.code != kExitOk) return;
    run_.code = code;
    firstFailure_ = Clock::now();
}

void Station::Finish(const std::string& why) {
    if (run_.finishing) return;
    run_.finishing = true;
    driver_->StopRearming();
    run_.finishingSince = Clock::now();
    if (run_.message.empty()) run_.message = why;
}

void Station::FollowEvents(const std::deque<Event>& events) {
    RunState& r = run_;
    for (const Event& e : events) {
        if (!e.isState) {
            ReportProgress(e.progress);
            continue;
        }
        r.state = e.state;
        // The wait for a device counts from the dialog's first state: the start-ups of
        // the stations of one process take turns.
        if (!r.anyState) r.anyState = true, r.waitingSince = Clock::now();
        out_.Status(ToUtf8(e.status), r.state == DialogState::Searching);
        // The device is gone when the search starts again, or when the port itself is
        // lost (the adapter pulled): from then on the wait for the next one counts.
        if ((r.state == DialogState::Searching || r.state == DialogState::PortLost) && r.deviceActive) {
            r.deviceActive = r.deviceReported = r.actionClicked = false;
            r.waitingSince = Clock::now();
        }
        if (r.state == DialogState::Connected && !r.deviceActive) {
            r.deviceActive = true;
            r.connectedSince = Clock::now();
        }
        if (r.state == DialogState::Transferring) r.transferOpen = true;
        if (r.state == DialogState::Searching) r.searchSeen = true;
    }
    if (r.state == DialogState::Searching && Clock::now() - r.lastSearchDraw > std::chrono::milliseconds(250)) {
        r.lastSearchDraw = Clock::now();
        out_.Searching(Since(r.waitingSince));
    }
    if (r.deviceActive && !r.deviceReported && r.state == DialogState::Connected && PanelsReady(Since(r.connectedSince))) {
        r.deviceReported = true;
        out_.Connected(View());
    }
}

void Station::CountEnded(const std::deque<TransferRecord>& ended) {
    RunState& r = run_;
    for (const TransferRecord& t : ended) {
        r.transferOpen = false;
        const int c = ExitCodeOf(t.outcome);
        TransferView view;
        view.operation = OperationName(t.operation);
        view.ok = c == kExitOk;
        view.code = c;
        view.outcome = OutcomeName(t.outcome);
        view.failure = CauseName(t.cause);
        view.box = ToUtf8(t.boxText);
        view.firmwareAfter = Clean(t.firmwareAfter);
        view.mismatchBlocks = t.mismatchBlocks;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            view.unitId = tags_.unitId;
        }
        view.bytes = static_cast<int64_t>(t.bytes);
        view.seconds = t.durationUs / 1e6;
        view.reachedDevice = t.reachedDevice;
        out_.Transfer(view);
        bool deviceDone = true;
        if (t.operation == Operation::Load && c == kExitOk && job_.verify && t.deviceSel == 0) {
            r.verifyDue = true;  // the device counts once its flash has been compared
            deviceDone = false;
        }
        if (deviceDone) {
            ++r.handled;
            job_.board.Counted(c == kExitOk);
            if (c == kExitOk) ++r.good;
            else ++r.failed, Fail(c);
            if (job_.units && (job_.count == 0 || r.handled < job_.count)) {
                r.unitWanted = true;
                out_.AskUnit();
            }
        }
        if (job_.command != Command::Load || (job_.count > 0 && r.handled >= job_.count))
            Finish(r.failed ? "failed" : "done");
    }
}

void Station::PressNext() {
    // What the user would press next, once the device is connected and shown.
    RunState& r = run_;
    const CBootloaderZLDlg& dlg = driver_->Dialog();
    const bool idleConnected = r.deviceReported && r.state == DialogState::Connected && dlg.m_bInfoRunning == 1 &&
                               dlg.m_bTransferRunning == 0 && !r.finishing;
    if (!idleConnected) return;
    if (job_.command == Command::Info) {
        Finish("done");
    } else if ((job_.command == Command::Read || job_.command == Command::Verify) && !r.actionClicked) {
        r.actionClicked = true;
        Click(job_.command == Command::Read ? IDC_READOUT : IDC_COMPARE);
    } else if (r.verifyDue) {
        r.verifyDue = false;
        Click(IDC_COMPARE);
    }
}

void Station::WatchTimeAndInterrupt(const std::atomic<int>& interrupt) {
    RunState& r = run_;
    if (job_.timeout && !r.finishing && !r.deviceActive && !r.unitWanted && driver_->Dialog().m_bTransferRunning == 0 &&
        Since(r.waitingSince) > *job_.timeout) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", *job_.timeout);
        out_.Note(std::string("no device switched on within ") + seconds + " s");
        Fail(kExitNoDevice);
        Finish("no device");
    }
    if (interrupt.load() != 0 && !r.interrupted) {
        r.interrupted = true;
        r.code = kExitInterrupted;
        r.message = "interrupted";
        Finish("interrupted");
    }
}

void Station::QuitWhenDone() {
    RunState& r = run_;
    if (r.finishing && !r.quitClicked) {
        const bool busy = driver_->Dialog().m_bTransferRunning != 0 || (r.transferOpen && Since(r.finishingSince) < 60);
        if (!busy) {
            r.quitClicked = true;
            r.quitClickedAt = Clock::now();
            Click(IDC_QUIT);
        } else if (r.interrupted && !r.waitBoxAsked) {
            // Quit during a transfer: the window tells the user to wait, and so do we.
            r.waitBoxAsked = true;
            Click(IDC_QUIT);
        }
    }
    // Quit resets and ends the dialog at once; bounded, whatever happens.
    if (r.quitClicked && Since(r.quitClickedAt) > 15) driver_->EndLoop();
}

int Station::Run(const std::atomic<int>& interrupt) {
    CBootloaderZLDlg* dlg = &driver_->Dialog();
    dlg->PinFileSha256(job_.pinnedSha256);
    dlg->ExpectFirmware(job_.expectFirmware);
    if (job_.units && !TakeFirstUnit(interrupt)) {
        const bool interrupted = interrupt.load() != 0;
        out_.Result(interrupted ? kExitInterrupted : kExitOk, 0, 0, interrupted ? "interrupted" : "no unit ID: nothing to do");
        return interrupted ? kExitInterrupted : kExitOk;
    }
    driver_->Start([this, dlg] {
        // The scan lists only ports that can be opened: a port missing from it is
        // missing or held by another program, and the dialog has chosen another one.
        portChosen_ = dlg->m_strPort.Get() == job_.port;
        if (!portChosen_) return driver_->EndLoop();
        if (job_.command == Command::Load) dlg->OnCommand(IDC_AUTOLOAD_ON, BN_CLICKED);
    });
    run_ = RunState{};
    run_.waitingSince = Clock::now();
    while (driver_->Running()) {
        std::deque<TransferRecord> ended;
        std::deque<Event> events;
        bool portLost;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // Woken at once by what matters; otherwise a round every 100 ms during a
            // transfer (progress), every 250 ms else (the search's clock, Ctrl-C).
            wake_.wait_for(lock, std::chrono::milliseconds(inTransfer_ ? 100 : 250), [&] { return dirty_; });
            dirty_ = false;
            ended.swap(ended_);
            events.swap(events_);
            portLost = portLost_;
            portLost_ = false;
        }
        FollowEvents(events);
        CountEnded(ended);
        if (portLost && !run_.searchSeen && !run_.finishing) {
            // The port could not be opened for the first search: nothing can happen on it.
            // A port lost later is waited for, as the window waits for it.
            Fail(kExitPort);
            run_.message = "port unavailable";
            driver_->EndLoop();
            break;
        }
        PressNext();
        if (job_.units) WaitForUnit();
        WatchTimeAndInterrupt(interrupt);
        QuitWhenDone();
    }
    driver_->Join(std::chrono::seconds(30));

    if (!portChosen_) {
        Fail(kExitPort);
        run_.message = "port unavailable";
    }
    if (run_.message.empty()) run_.message = run_.code == kExitOk ? "done" : "failed";
    std::string summary = run_.message;
    if (job_.command == Command::Load)
        summary += ": " + std::to_string(run_.good) + " device(s) good, " + std::to_string(run_.failed) + " failed";
    out_.Result(run_.code, run_.good, run_.failed, summary);
    return run_.code;
}

}  // namespace zl::cli
