#include "stations/station.h"

#include <algorithm>

#include "app/bootloader_dlg.h"
#include "platform/headless/readonly_profile.h"
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
    : options_(std::move(options)), records_(records), changed_(std::move(changed)) {
    // The dialog starts as the window would with a profile that names this port, the
    // common device type and language; the station never writes a profile.
    auto view = std::make_unique<ReadOnlyProfile>(nullptr);
    view->SetString(u"PrevCOM", options_.port);
    view->SetInt(u"PrevDevice", options_.device);
    view->SetInt(u"PrevLang", options_.english ? 1 : 0);
    platform_ = std::make_unique<HeadlessPlatform>(std::move(view));
    platform_->SetObserver(this);
    platform_->SetBoxPolicy([this](const HeadlessPlatform::Box& box) { return AskTile(box); });
    if (!options_.autoLoad.empty()) platform_->SetFileAnswer(options_.autoLoad);
    dlg_ = std::make_unique<CBootloaderZLDlg>(*platform_);
    dlg_->m_recordSink = records_;
    dlg_->m_controls.SetListener([this](int) { Changed(); });
}

Station::~Station() {
    // A worker still in a box is answered at once, since the station is quitting.
    if (Quit()) return;
    // A thread of the dialog still runs: the dialog and its face are left to it (the
    // window keeps such a station rather than destroy it).
    (void)dlg_.release();
    (void)platform_.release();
}

void Station::Start() {
    platform_->SetAfterShow([this] {
        // The start-up chose the first port it could open when this one could not be
        // opened (not plugged in yet, held by another program): the station stays on its
        // own port, so the first tick reports it missing and then watches for it.
        if (dlg_->m_strPort.Get() != options_.port) dlg_->m_strPort.Set(options_.port);
        if (!options_.autoLoad.empty()) dlg_->OnCommand(IDC_AUTOLOAD_ON, BN_CLICKED);
    });
    platform_->Start([this] {
        dlg_->DoModal();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = startupDone_ = true;
        }
        Changed();
    });
}

bool Station::StartupDone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return startupDone_;
}

void Station::Changed() {
    if (changed_) changed_();
}

StationView Station::View() const {
    StationView v;
    const Controls& c = dlg_->m_controls;
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
    const bool transfer = dlg_->m_bTransferRunning != 0;
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

int Station::AskTile(const HeadlessPlatform::Box& box) {
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
        startupDone_ = true;
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

void Station::OnBox(const HeadlessPlatform::Box&) {}

void Station::OnTransferEnded(const TransferRecord& record) {
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
        // The refused file switched Auto-Load off; the next device is asked again.
        if (record.outcome == Outcome::Incompatible) rearm_ = true;
    }
    Changed();
}

void Station::OnStateChanged(DialogState state, const std::u16string&) {
    bool rearm = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        startupDone_ = true;
        state_ = state;
        if (state == DialogState::Searching) {
            // The port is back: a notice that it was not is over.
            boxes_.erase(std::remove_if(boxes_.begin(), boxes_.end(), [](const PendingBox& b) { return b.notice; }),
                         boxes_.end());
            wasSearching_ = true;
            rearm = rearm_ && !quitting_;
            rearm_ = false;
        } else if (state == DialogState::Connected && wasSearching_) {
            // The next device is switched on: the verdict on the last one goes.
            wasSearching_ = false;
            verdict_ = Verdict::None;
            verdictText_.clear();
        }
    }
    if (rearm) Click(IDC_AUTOLOAD_ON);
    Changed();
}

void Station::Click(int id) {
    platform_->Post([this, id] {
        if (dlg_->m_controls.IsWindowEnabled(id) && dlg_->m_controls.IsWindowVisible(id)) dlg_->OnCommand(id, BN_CLICKED);
    });
}

void Station::SetAutoLoad(const std::u16string& path) {
    platform_->SetFileAnswer(path.empty() ? std::nullopt : std::optional<std::u16string>(path));
    platform_->Post([this, path] {
        // As the user switches it: off, then on with the new file.
        if (dlg_->m_strAutoLoadPath.Get() == path) return;
        if (dlg_->m_controls.IsWindowEnabled(IDC_AUTOLOAD_OFF)) dlg_->OnCommand(IDC_AUTOLOAD_OFF, BN_CLICKED);
        if (!path.empty() && dlg_->m_controls.IsWindowEnabled(IDC_AUTOLOAD_ON))
            dlg_->OnCommand(IDC_AUTOLOAD_ON, BN_CLICKED);
    });
}

void Station::SetLanguage(bool english) {
    platform_->Post([this, english] { dlg_->OnCommand(english ? ID_LANGUAGE_ENGLISH : ID_LANGUAGE_GERMAN, 0); });
}

bool Station::Quit(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quitting_ = true;
        answered_.notify_all();
    }
    // A transfer under way is finished first: it ends by its own time-outs (a device
    // that stops answering, a line hung up); the cap only guards against one that never
    // ends. Quit is pressed once none runs (pressed during one it would only ask to wait).
    const auto cap = Clock::now() + std::chrono::minutes(15);
    auto deadline = Clock::now() + timeout;
    while (platform_->Running()) {
        const auto now = Clock::now();
        if (dlg_->m_bTransferRunning != 0) {
            if (now > cap) break;
            deadline = now + timeout;
        } else {
            if (now > deadline) break;
            platform_->Post([this] { dlg_->OnCommand(IDC_QUIT, BN_CLICKED); });
        }
        if (platform_->Join(std::chrono::milliseconds(250))) break;
    }
    platform_->EndLoop();
    if (!platform_->Join(std::chrono::seconds(10))) return false;
    // What the workers change from now on is no longer followed.
    dlg_->m_controls.SetListener(nullptr);
    return dlg_->StopWorkers(std::chrono::seconds(10));
}

}  // namespace zl::stations
