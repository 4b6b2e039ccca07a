#include "driver/dialog_driver.h"

#include <condition_variable>

#include "app/bootloader_dlg.h"
#include "faces/headless/readonly_profile.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {
namespace {

using Clock = std::chrono::steady_clock;

// The start-up under way in this process: one dialog at a time, each for 10 s at most.
class StartupTurn {
public:
    static StartupTurn& Process() {
        static StartupTurn turn;
        return turn;
    }
    void Take(const void* who) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (holder_ && Clock::now() < since_ + kLongest) idle_.wait_until(lock, since_ + kLongest);
        holder_ = who;
        since_ = Clock::now();
    }
    void Give(const void* who) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (holder_ != who) return;
        holder_ = nullptr;
        idle_.notify_all();
    }

private:
    static constexpr auto kLongest = std::chrono::seconds(10);
    std::mutex mutex_;
    std::condition_variable idle_;
    const void* holder_ = nullptr;
    Clock::time_point since_{};
};

}  // namespace

DialogDriver::DialogDriver(DriverSetup setup, DriverListener& listener) : listener_(listener) {
    // The dialog starts as the window would with this profile: the port and the device
    // type chosen, the language given; nothing is ever written back.
    auto view = std::make_unique<ReadOnlyProfile>(std::move(setup.profile));
    view->SetString(u"PrevCOM", setup.port);
    if (setup.device) view->SetInt(u"PrevDevice", *setup.device);
    view->SetInt(u"PrevLang", setup.english ? 1 : 0);
    face_ = std::make_unique<HeadlessPlatform>(std::move(view));
    face_->SetObserver(this);
    face_->SetBoxPolicy([this](const HeadlessPlatform::Box& box) {
        MarkStartupDone();
        return listener_.AnswerBox(box);
    });
    if (setup.fileAnswer) face_->SetFileAnswer(setup.fileAnswer);
    dlg_ = std::make_unique<CBootloaderZLDlg>(*face_);
    dlg_->m_recordSink = setup.records;
    dlg_->m_controls.SetListener([this](int) { listener_.Changed(); });
}

DialogDriver::~DialogDriver() {
    StartupTurn::Process().Give(this);
    if (Shutdown()) return;
    // A thread of the dialog still runs: the dialog and its face are left to it (the
    // program ends its process without destroying them).
    (void)dlg_.release();
    (void)face_.release();
}

void DialogDriver::Start(std::function<void()> afterShow) {
    face_->SetAfterShow(std::move(afterShow));
    face_->Start([this] {
        StartupTurn::Process().Take(this);
        dlg_->DoModal();
        MarkStartupDone();
        listener_.Ended();
    });
}

void DialogDriver::MarkStartupDone() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        startupDone_ = true;
    }
    StartupTurn::Process().Give(this);
}

bool DialogDriver::StartupDone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return startupDone_;
}

bool DialogDriver::Running() const { return face_->Running(); }

void DialogDriver::Post(std::function<void()> fn) { face_->Post(std::move(fn)); }

void DialogDriver::Click(int id) {
    face_->Post([this, id] {
        if (dlg_->m_controls.IsWindowEnabled(id) && dlg_->m_controls.IsWindowVisible(id)) dlg_->OnCommand(id, BN_CLICKED);
    });
}

void DialogDriver::SetAutoLoad(const std::u16string& path) {
    face_->SetFileAnswer(path.empty() ? std::nullopt : std::optional<std::u16string>(path));
    face_->Post([this, path] {
        // As the user switches it: off, then on with the new file.
        if (dlg_->m_strAutoLoadPath.Get() == path) return;
        if (dlg_->m_controls.IsWindowEnabled(IDC_AUTOLOAD_OFF)) dlg_->OnCommand(IDC_AUTOLOAD_OFF, BN_CLICKED);
        if (!path.empty() && dlg_->m_controls.IsWindowEnabled(IDC_AUTOLOAD_ON))
            dlg_->OnCommand(IDC_AUTOLOAD_ON, BN_CLICKED);
    });
}

void DialogDriver::SetLanguage(bool english) {
    face_->Post([this, english] { dlg_->OnCommand(english ? ID_LANGUAGE_ENGLISH : ID_LANGUAGE_GERMAN, 0); });
}

void DialogDriver::StopRearming() {
    std::lock_guard<std::mutex> lock(mutex_);
    rearming_ = false;
}

void DialogDriver::OnBox(const HeadlessPlatform::Box& box) { listener_.BoxAnswered(box); }

void DialogDriver::OnStateChanged(DialogState state, const std::u16string& status) {
    MarkStartupDone();
    bool rearm = false;
    if (state == DialogState::Searching) {
        std::lock_guard<std::mutex> lock(mutex_);
        rearm = rearm_ && rearming_;
        rearm_ = false;
    }
    listener_.StateChanged(state, status);
    // The refused file switched Auto-Load off; the next device is asked again.
    if (rearm) Click(IDC_AUTOLOAD_ON);
}

void DialogDriver::OnTransferProgressed(const TransferProgress& progress) { listener_.Progressed(progress); }

void DialogDriver::OnTransferEnded(const TransferRecord& record) {
    if (record.outcome == Outcome::Incompatible) {
        std::lock_guard<std::mutex> lock(mutex_);
        rearm_ = true;
    }
    listener_.TransferEnded(record);
}

bool DialogDriver::Quit(std::chrono::milliseconds timeout) {
    StopRearming();
    // A transfer under way is finished first: it ends by its own time-outs (a device
    // that stops answering, a line hung up); the cap only guards against one that never
    // ends. Quit is pressed once none runs (pressed during one it would only ask to wait).
    const auto cap = Clock::now() + std::chrono::minutes(15);
    auto deadline = Clock::now() + timeout;
    while (face_->Running()) {
        const auto now = Clock::now();
        if (dlg_->m_bTransferRunning != 0) {
            if (now > cap) break;
            deadline = now + timeout;
        } else {
            if (now > deadline) break;
            face_->Post([this] { dlg_->OnCommand(IDC_QUIT, BN_CLICKED); });
        }
        if (face_->Join(std::chrono::milliseconds(250))) break;
    }
    return Shutdown();
}

bool DialogDriver::Shutdown() {
    if (!dlg_) return true;
    face_->EndLoop();
    if (!face_->Join(std::chrono::seconds(15))) return false;
    // What the workers change from now on is no longer followed.
    dlg_->m_controls.SetListener(nullptr);
    return dlg_->StopWorkers(std::chrono::seconds(10));
}

void DialogDriver::EndLoop() { face_->EndLoop(); }

bool DialogDriver::Join(std::chrono::milliseconds timeout) { return face_->Join(timeout); }

}  // namespace zl
