#include "stations/station.h"

#include <algorithm>

#include "app/bootloader_dlg.h"
#include "platform/win32.h"
#include "records/record_log.h"
#include "res/resources.h"
#include "stations/live_summary.h"

namespace zl::stations {

Station::Station(StationOptions options, RecordLog* records, std::function<void()> changed)
    : options_(std::move(options)), changed_(std::move(changed)), records_(records) {
    // The dialog starts as the window would with a profile that names this port, the
    // common device type and language; the station never writes a profile.
    DriverSetup setup;
    setup.port = options_.port;
    setup.device = options_.device;
    setup.english = options_.english;
    if (!options_.autoLoad.empty()) setup.fileAnswer = options_.autoLoad;
    setup.records = records ? static_cast<RecordSink*>(this) : nullptr;
    driver_ = std::make_unique<DialogDriver>(std::move(setup), static_cast<DriverListener&>(*this));
    driver_->Dialog().PinFileSha256(options_.pinnedSha256);
    driver_->Dialog().ExpectFirmware(options_.expectFirmware);
}

Station::~Station() {
    // A worker still in a box is answered at once, since the station is quitting; a
    // dialog whose thread still runs is kept by the driver rather than destroyed.
    Quit();
}

void Station::Start() {
    driver_->Start([this] {
        // The start-up chose the first port it could open when this one could not be
        // opened (not plugged in yet, held by another program): the station stays on its
        // own port, so the first tick reports it missing and then watches for it.
        CBootloaderZLDlg& dlg = driver_->Dialog();
        if (dlg.m_strPort.Get() != options_.port) dlg.m_strPort.Set(options_.port);
        if (!options_.autoLoad.empty()) dlg.OnCommand(IDC_AUTOLOAD_ON, BN_CLICKED);
    });
}

void Station::Ended() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    Changed();
}

bool Station::StartupDone() const { return driver_->StartupDone(); }

void Station::Changed() {
    VerifyWhenIdle();
    if (changed_) changed_();
}

StationView Station::View() const {
    StationView v;
    const Controls& c = driver_->Dialog().m_controls;
    v.status = c.GetWindowText(IDC_STATUS);
    const ControlState bar = c.Get(IDC_PROGRESS);
    v.barLo = bar.lo;
    v.barHi = bar.hi;
    v.barPos = bar.pos;
    v.firmware = c.GetWindowText(IDC_FW_LEFT);
    v.flash = c.GetWindowText(IDC_FW_RIGHT);
    v.result = c.GetWindowText(IDC_FW_RESULT);
    v.stopText = c.GetWindowText(IDC_STOPSTART);
    v.stopEnabled = c.IsWindowEnabled(IDC_STOPSTART) && c.IsWindowVisible(IDC_STOPSTART);
    const bool transfer = driver_->Dialog().m_bTransferRunning != 0;
    std::lock_guard<std::mutex> lock(mutex_);
    v.good = good_;
    v.failed = failed_;
    v.verdict = verdict_;
    v.verdictText = verdictText_;
    v.notVerified = notVerified_;
    v.lastDeviceS = lastDeviceS_;
    v.unit = unit_;
    v.unitEditable = options_.askUnit && !loaded_ && state_ != DialogState::Transferring &&
                     !(state_ == DialogState::Connected && !unit_.empty());
    if (const PendingBox* shown = ShownBox()) v.box = *shown;
    v.transfer = transfer;
    v.busy = transfer || std::any_of(boxes_.begin(), boxes_.end(), [](const PendingBox& b) { return !b.notice; });
    v.ended = ended_;
    return v;
}

const PendingBox* Station::ShownBox() const {
    for (const PendingBox& b : boxes_)
        if (!b.notice) return &b;
    return boxes_.empty() ? nullptr : &boxes_.front();
}

int Station::AnswerBox(const HeadlessPlatform::Box& box) {
    // What the box answers when nobody can: Cancel where there is one.
    const int fallback = (box.type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK;
    // The lost port's box holds nothing here: the station watches for its port at once,
    // so that a station plugged in again is searching when its operator looks.
    uint64_t id;
    bool notice;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The dialog says the port is lost before it shows that box.
        notice = (box.type & MB_TYPEMASK) == MB_OK && state_ == DialogState::PortLost;
        if (quitting_) return fallback;
        // The result of the compare the job asks for: the tile shows the verdict itself.
        if (verifying_ && (box.type & MB_TYPEMASK) == MB_OK) return IDOK;
        id = nextBoxId_++;
        boxes_.push_back(PendingBox{id, box.title, box.text, box.type, notice});
    }
    Changed();
    if (notice) return IDOK;
    options_.board.Box(true);
    int answer = fallback;
    {
        // Only this station's thread waits here, as the modal box held the one dialog.
        std::unique_lock<std::mutex> lock(mutex_);
        answered_.wait(lock, [&] { return quitting_ || answers_.count(id) != 0; });
        if (auto it = answers_.find(id); it != answers_.end()) {
            answer = it->second;
            answers_.erase(it);
        }
        for (auto it = boxes_.begin(); it != boxes_.end(); ++it)
            if (it->id == id) {
                boxes_.erase(it);
                break;
            }
    }
    options_.board.Box(false);
    Changed();
    return answer;
}

void Station::Answer(uint64_t boxId, int answer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const PendingBox* shown = ShownBox();
        if (!shown || shown->id != boxId) return;
        if (!shown->notice) {
            answers_[boxId] = answer;
            answered_.notify_all();
            return;
        }
        boxes_.erase(std::find_if(boxes_.begin(), boxes_.end(), [boxId](const PendingBox& b) { return b.id == boxId; }));
    }
    Changed();
}

void Station::Keep(const TransferRecord& record) {
    RecordTags tags = options_.tags;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tags.unitId = unit_;
    }
    records_->Write(record, tags);
}

void Station::TransferEnded(const TransferRecord& record) {
    bool verify = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        options_.board.Ended(record, unit_);
        RecordTags tags = options_.tags;
        tags.unitId = unit_;
        report::RecordSummary summary;
        if (!LiveSummary(record, tags, StartUtcMs(record.startedUs), summary)) {
            summary.operation = OperationName(record.operation);
            summary.good = record.outcome == Outcome::Ok;
            summary.durationS = static_cast<double>(record.durationUs) / 1e6;
        }
        if (record.operation == Operation::Load) {
            DeviceDone d{summary, record.outcome == Outcome::Ok, unit_};
            // A PIC32 device loaded good counts once its flash has been compared.
            if (d.loadGood && options_.verify && record.deviceSel == 0) {
                loaded_ = std::move(d);
                verifyDue_ = verify = true;
            } else {
                DeviceFinished(std::move(d), record.boxText);
            }
        } else if (record.operation == Operation::Verify && verifying_ && loaded_) {
            verifying_ = false;
            DeviceDone d = std::move(*loaded_);
            loaded_.reset();
            d.summary.durationS += summary.durationS;
            if (!summary.good) d.summary.good = false, d.summary.cause = summary.cause;
            DeviceFinished(std::move(d), record.boxText);
        } else {
            return;  // a readout or a compare of the operator's own: no device of the line
        }
    }
    Changed();
    if (verify) VerifyWhenIdle();
}

void Station::DeviceFinished(DeviceDone d, const std::u16string& boxText) {
    notVerified_ = false;
    options_.board.Counted(d.summary.good);
    if (d.summary.good) {
        ++good_;
        verdict_ = Verdict::Pass;
        verdictText_.clear();
    } else {
        ++failed_;
        verdict_ = Verdict::Fail;
        verdictText_ = boxText;
    }
    lastDeviceS_ = d.summary.durationS;
    done_.push_back(std::move(d));
    // The unit is done with: the next device needs an ID of its own.
    if (options_.askUnit) unit_.clear();
}

void Station::VerifyWhenIdle() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!verifyDue_ || state_ != DialogState::Connected) return;
    }
    // As the user presses Compare: once the device is shown again and nothing runs.
    const CBootloaderZLDlg& dlg = driver_->Dialog();
    if (dlg.m_bInfoRunning != 1 || dlg.m_bTransferRunning != 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!verifyDue_) return;
        verifyDue_ = false;
        verifying_ = true;
    }
    driver_->Click(IDC_COMPARE);
}

void Station::SetSearching(bool search) {
    driver_->Post([this, search] {
        CBootloaderZLDlg& dlg = driver_->Dialog();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (quitting_) return;
            // Stopped only while it searches, started only when stopped (by us or by the
            // operator); whatever happened since this was asked.
            if (search ? dlg.m_bStopped != 1 : (dlg.m_bStopped != 0 || state_ != DialogState::Searching)) return;
        }
        if (dlg.m_controls.IsWindowEnabled(IDC_STOPSTART) && dlg.m_controls.IsWindowVisible(IDC_STOPSTART))
            dlg.OnCommand(IDC_STOPSTART, BN_CLICKED);
    });
}

bool Station::SetUnit(const std::string& id) {
    std::optional<bool> search;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool deviceUnderWay = loaded_ || state_ == DialogState::Transferring ||
                                    (state_ == DialogState::Connected && !unit_.empty());
        if (!options_.askUnit || deviceUnderWay) return false;
        unit_ = id;
        // An ID starts the search (stopped for want of one, or by the operator); none stops it.
        if (!id.empty() && state_ == DialogState::Stopped) search = true;
        if (id.empty() && state_ == DialogState::Searching) search = false;
    }
    if (search) SetSearching(*search);
    Changed();
    return true;
}

std::vector<DeviceDone> Station::TakeDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DeviceDone> done;
    done.swap(done_);
    return done;
}

void Station::Progressed(const TransferProgress& progress) { options_.board.Progress(progress); }

void Station::StateChanged(DialogState state, const std::u16string& status) {
    options_.board.State(state, status);
    bool stop = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
        if (state == DialogState::Searching || state == DialogState::PortLost) {
            if (loaded_) {
                // Gone before its flash was compared (or the compare never ran): not good.
                DeviceDone d = std::move(*loaded_);
                loaded_.reset();
                verifyDue_ = verifying_ = false;
                d.summary.good = false;
                DeviceFinished(std::move(d), u"");
                notVerified_ = true;
            }
        }
        if (state == DialogState::Searching) {
            // The port is back: a notice that it was not is over.
            boxes_.erase(std::remove_if(boxes_.begin(), boxes_.end(), [](const PendingBox& b) { return b.notice; }),
                         boxes_.end());
            wasSearching_ = true;
            // No unit ID for the next device: nothing is searched for until one comes.
            stop = options_.askUnit && unit_.empty() && !quitting_;
        } else if (state == DialogState::Connected && wasSearching_) {
            // The next device is switched on: the verdict on the last one goes.
            wasSearching_ = false;
            verdict_ = Verdict::None;
            verdictText_.clear();
            notVerified_ = false;
        }
    }
    if (stop) SetSearching(false);
    Changed();
}

void Station::Click(int id) { driver_->Click(id); }

void Station::SetAutoLoad(const std::u16string& path) { driver_->SetAutoLoad(path); }

void Station::SetLanguage(bool english) { driver_->SetLanguage(english); }

bool Station::Quit(std::chrono::milliseconds timeout) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quitting_ = true;
        answered_.notify_all();
    }
    return driver_->Quit(timeout);
}

}  // namespace zl::stations
