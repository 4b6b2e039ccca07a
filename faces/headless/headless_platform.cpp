#include "faces/headless/headless_platform.h"

#include "platform/threads.h"
#include "platform/win32.h"

namespace zl {

HeadlessPlatform::HeadlessPlatform(std::unique_ptr<Profile> profile) : profile_(std::move(profile)) {}

HeadlessPlatform::~HeadlessPlatform() {
    EndLoop();
    if (ui_.joinable()) ui_.join();
}

void HeadlessPlatform::SetBoxPolicy(std::function<int(const Box&)> policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    policy_ = std::move(policy);
}

void HeadlessPlatform::SetFileAnswer(std::optional<std::u16string> path) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileAnswer_ = std::move(path);
}

void HeadlessPlatform::Start(std::function<void()> runModal) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
        endRequested_ = false;
    }
    ui_ = std::thread([this, runModal = std::move(runModal)] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            uiId_ = std::this_thread::get_id();
        }
        runModal();
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        tasks_.clear();
        wake_.notify_all();
    });
}

bool HeadlessPlatform::OnUiThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::this_thread::get_id() == uiId_;
}

bool HeadlessPlatform::Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || endRequested_) return false;
    tasks_.push_back(std::move(fn));
    wake_.notify_all();
    return true;
}

bool HeadlessPlatform::Call(std::function<void()> fn) {
    if (OnUiThread()) {
        fn();
        return true;
    }
    auto done = std::make_shared<bool>(false);
    const bool posted = Post([this, fn = std::move(fn), done] {
        fn();
        std::lock_guard<std::mutex> lock(mutex_);
        *done = true;
        wake_.notify_all();
    });
    if (!posted) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] { return *done || !running_; });
    return *done;
}

bool HeadlessPlatform::Close() {
    bool ended = false;
    Call([&] {
        DialogCallbacks* callbacks;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callbacks = callbacks_;
        }
        if (!callbacks || !callbacks->OnClose()) return;
        EndLoop();
        ended = true;
    });
    return ended;
}

long HeadlessPlatform::TimerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timerCount_;
}

void HeadlessPlatform::EndLoop() {
    std::lock_guard<std::mutex> lock(mutex_);
    endRequested_ = true;
    wake_.notify_all();
}

bool HeadlessPlatform::Join(std::chrono::milliseconds timeout) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, timeout, [&] { return !running_; })) return false;
    }
    if (ui_.joinable()) ui_.join();
    return true;
}

bool HeadlessPlatform::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::optional<int> HeadlessPlatform::ExitCode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exitCode_;
}

int HeadlessPlatform::DoModal(const DialogTemplate& dlg, const MenuTemplate*, Controls&, DialogCallbacks& callbacks) {
    using Clock = std::chrono::steady_clock;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        template_ = &dlg;
        callbacks_ = &callbacks;
    }
    try {
        callbacks.OnInitDialog();
        callbacks.OnShowWindow(true, 0);
        if (afterShow_) afterShow_();
        auto nextTick = Clock::now() + timerPeriod_;
        for (;;) {
            std::function<void()> task;
            bool tick = false;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                const bool timer = timerPeriod_.count() > 0;
                if (timer) SleepThroughIdleTicks(lock, callbacks, nextTick);
                if (timer && nextTick < Clock::now() - timerPeriod_) nextTick = Clock::now();  // late: once, no burst
                auto ready = [&] { return endRequested_ || !tasks_.empty() || (timer && Clock::now() >= nextTick); };
                if (timer)
                    wake_.wait_until(lock, nextTick, ready);
                else
                    wake_.wait(lock, ready);
                if (endRequested_) break;
                if (!tasks_.empty()) {
                    task = std::move(tasks_.front());
                    tasks_.pop_front();
                } else if (timer && Clock::now() >= nextTick) {
                    tick = true;
                    nextTick += timerPeriod_;
                    ++timerCount_;
                }
            }
            if (task) task();
            if (tick) callbacks.OnTimer(timerId_);
        }
    } catch (const LoopExit&) {
        // Quit: this dialog has ended; its timer stops with the loop.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    callbacks_ = nullptr;
    return IDCANCEL;
}

// While the dialog's ticks would do nothing (the search runs) the loop sleeps until the
// dialog says they resume, a task comes or the loop is to end (at most a second at a
// time, should a resumption be missed), and then ticks on the schedule it had: each of
// these threads would otherwise wake 20 times a second for nothing.
void HeadlessPlatform::SleepThroughIdleTicks(std::unique_lock<std::mutex>& lock, const DialogCallbacks& callbacks,
                                              std::chrono::steady_clock::time_point& nextTick) {
    using Clock = std::chrono::steady_clock;
    tickResumed_ = false;
    if (!tasks_.empty() || endRequested_ || !callbacks.TickIsIdle()) return;
    wake_.wait_until(lock, Clock::now() + std::chrono::seconds(1),
                     [&] { return endRequested_ || !tasks_.empty() || tickResumed_; });
    const auto now = Clock::now();
    if (nextTick < now) nextTick += (now - nextTick) / timerPeriod_ * timerPeriod_ + timerPeriod_;
}

void HeadlessPlatform::TickResumes() {
    std::lock_guard<std::mutex> lock(mutex_);
    tickResumed_ = true;
    wake_.notify_all();
}

int HeadlessPlatform::RunSubDialog(const DialogTemplate&, Controls&, const std::function<void()>& onShow) {
    onShow();
    return IDOK;
}

void HeadlessPlatform::SetTimer(unsigned id, unsigned ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    timerId_ = id;
    timerPeriod_ = std::chrono::milliseconds(ms);
    wake_.notify_all();
}

int HeadlessPlatform::MessageBox(const std::u16string& text, const std::u16string& title, unsigned type) {
    Box box{text, title.empty() ? AppName() : title, type, IDOK};
    std::function<int(const Box&)> policy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        policy = policy_;
    }
    if (policy) box.answer = policy(box);
    if (observer_) observer_->OnBox(box);
    return box.answer;
}

std::optional<std::u16string> HeadlessPlatform::FileDialog(bool, const std::u16string&, const std::u16string&, unsigned) {
    std::lock_guard<std::mutex> lock(mutex_);
    return fileAnswer_;
}

int HeadlessPlatform::ControlWidth(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!template_) return 0;
    for (const ControlTemplate& t : template_->controls)
        if (t.id == id) return t.cx * kCharWidth / 4;
    return 0;
}

int HeadlessPlatform::TextWidth(int, const std::u16string& text) { return static_cast<int>(text.size()) * kCharWidth; }

void HeadlessPlatform::EndProgram(int code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        exitCode_ = code;
        endRequested_ = true;
        wake_.notify_all();
    }
    if (OnUiThread()) throw LoopExit{};
    // Only the user-interface thread ends a dialog: the loop has been told to end, and a
    // worker that asked for it ends its own thread.
    throw ThreadEnd{};
}

void HeadlessPlatform::StateChanged(DialogState state, const std::u16string& status) {
    if (observer_) observer_->OnStateChanged(state, status);
}

void HeadlessPlatform::DeviceShownChanged(const DeviceShown& device) {
    if (observer_) observer_->OnDeviceShown(device);
}

void HeadlessPlatform::TransferProgressed(const TransferProgress& progress) {
    if (observer_) observer_->OnTransferProgressed(progress);
}

void HeadlessPlatform::TransferEnded(const TransferRecord& record) {
    if (observer_) observer_->OnTransferEnded(record);
}

}  // namespace zl
