#include "stations/station.h"

#include <algorithm>

#include "app/bootloader_dlg.h"
#include "platform/win32.h"
#include "records/record_log.h"
#include "res/resources.h"

namespace zl::stations {

std::vector<std::u16string> DeviceTypes() {
    for (const ControlTemplate& t : MainDialogTemplate().controls)
        if (t.id == IDC_DEVICE) return t.items;
    return {};
}

Station::Station(StationOptions options, RecordLog* records, std::function<void()> changed)
    : options_(std::move(options)), changed_(std::move(changed)) {
    // The dialog starts as the window would with a profile that names this port, the
    // common device type and language; the station never writes a profile.
    DriverSetup setup;
    setup.port = options_.port;
    setup.device = options_.device;
    setup.english = options_.english;
    if (!options_.autoLoad.empty()) setup.fileAnswer = options_.autoLoad;
    setup.records = records;
    driver_ = std::make_unique<DialogDriver>(std::move(setup), static_cast<DriverListener&>(*this));
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
        id = nextBoxId_++;
        boxes_.push_back(PendingBox{id, box.title, box.text, box.type, notice});
    }
    Changed();
    if (notice) return IDOK;
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

void Station::TransferEnded(const TransferRecord& record) {
    if (record.operation != Operation::Load) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (record.outcome == Outcome::Ok) {
            ++good_;
            verdict_ = Verdict::Pass;
            verdictText_.clear();
        } else {
            ++failed_;
            verdict_ = Verdict::Fail;
            verdictText_ = record.boxText;
        }
    }
    Changed();
}

void Station::StateChanged(DialogState state, const std::u16string&) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
        if (state == DialogState::Searching) {
            // The port is back: a notice that it was not is over.
            boxes_.erase(std::remove_if(boxes_.begin(), boxes_.end(), [](const PendingBox& b) { return b.notice; }),
                         boxes_.end());
            wasSearching_ = true;
        } else if (state == DialogState::Connected && wasSearching_) {
            // The next device is switched on: the verdict on the last one goes.
            wasSearching_ = false;
            verdict_ = Verdict::None;
            verdictText_.clear();
        }
    }
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
