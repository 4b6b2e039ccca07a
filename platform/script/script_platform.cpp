#include "platform/script/script_platform.h"

#include "platform/settings/qsettings_profile.h"
#include "platform/win32.h"

namespace zl {

ScriptPlatform::ScriptPlatform() : profile_(MakeQSettingsProfile(u"BootloaderZL")) {}

ScriptPlatform::~ScriptPlatform() { EndUi(); }

void ScriptPlatform::SetBoxAnswer(std::function<int(const Box&)> answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    boxAnswer_ = std::move(answer);
}

void ScriptPlatform::QueueFileAnswer(std::optional<std::u16string> path) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileAnswers_.push_back(std::move(path));
}

void ScriptPlatform::SetSubDialogResult(int result) {
    std::lock_guard<std::mutex> lock(mutex_);
    subDialogResult_ = result;
}

std::vector<ScriptPlatform::Box> ScriptPlatform::Boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<ScriptPlatform::FileRequest> ScriptPlatform::FileRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fileRequests_;
}

ControlState ScriptPlatform::LastSubDialogControl(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = lastSubDialog_.find(id);
    return it == lastSubDialog_.end() ? ControlState{} : it->second;
}

int ScriptPlatform::SubDialogCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subDialogCount_;
}

std::optional<int> ScriptPlatform::ExitCode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exitCode_;
}

std::vector<TransferRecord> ScriptPlatform::Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

void ScriptPlatform::TransferEnded(const TransferRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(record);
}

long ScriptPlatform::TimerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timerCount_;
}

void ScriptPlatform::StartUi(std::function<void()> runModal) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uiRunning_ = true;
        endRequested_ = false;
    }
    ui_ = std::thread([this, runModal = std::move(runModal)] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            uiId_ = std::this_thread::get_id();
        }
        runModal();
        std::lock_guard<std::mutex> lock(mutex_);
        uiRunning_ = false;
        wake_.notify_all();
    });
}

bool ScriptPlatform::OnUiThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::this_thread::get_id() == uiId_;
}

bool ScriptPlatform::UiRunning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uiRunning_;
}

void ScriptPlatform::Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(fn));
    wake_.notify_all();
}

void ScriptPlatform::Call(std::function<void()> fn) {
    if (OnUiThread()) return fn();
    auto done = std::make_shared<bool>(false);
    Post([this, fn = std::move(fn), done] {
        fn();
        std::lock_guard<std::mutex> lock(mutex_);
        *done = true;
        wake_.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] { return *done || !uiRunning_; });
}

void ScriptPlatform::EndUi() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endRequested_ = true;
        wake_.notify_all();
    }
    if (ui_.joinable()) ui_.join();
}

bool ScriptPlatform::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool ScriptPlatform::Escape() {
    bool ended = false;
    Call([&] {
        DialogCallbacks* callbacks;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callbacks = callbacks_;
        }
        if (!callbacks || !callbacks->OnClose()) return;
        std::lock_guard<std::mutex> lock(mutex_);
        endRequested_ = true;
        ended = true;
        wake_.notify_all();
    });
    return ended;
}

int ScriptPlatform::DoModal(const DialogTemplate& dlg, const MenuTemplate*, Controls&, DialogCallbacks& callbacks) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        template_ = &dlg;
        callbacks_ = &callbacks;
    }
    try {
        callbacks.OnInitDialog();
        callbacks.OnShowWindow(true, 0);
        auto nextTick = std::chrono::steady_clock::now() + timerPeriod_;
        for (;;) {
            std::function<void()> task;
            bool tick = false;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (timerPeriod_.count() > 0 && nextTick < std::chrono::steady_clock::now() - timerPeriod_)
                    nextTick = std::chrono::steady_clock::now();  // a late timer fires once, not in a burst
                auto ready = [&] {
                    return endRequested_ || !tasks_.empty() ||
                           (timerPeriod_.count() > 0 && std::chrono::steady_clock::now() >= nextTick);
                };
                if (timerPeriod_.count() > 0)
                    wake_.wait_until(lock, nextTick, ready);
                else
                    wake_.wait(lock, ready);
                if (endRequested_) break;
                if (!tasks_.empty()) {
                    task = std::move(tasks_.front());
                    tasks_.pop_front();
                } else if (timerPeriod_.count() > 0 && std::chrono::steady_clock::now() >= nextTick) {
                    tick = true;
                    nextTick += timerPeriod_;
                    ++timerCount_;
                }
            }
            if (task) task();
            if (tick) callbacks.OnTimer(timerId_);
        }
    } catch (const ProcessExit&) {
        // The process has "ended": the window and its timer are gone.
    }
    return IDCANCEL;
}

int ScriptPlatform::RunSubDialog(const DialogTemplate&, Controls& controls, const std::function<void()>& onShow) {
    onShow();
    std::map<int, ControlState> shown;
    for (int id : controls.Ids()) shown[id] = controls.Get(id);
    std::lock_guard<std::mutex> lock(mutex_);
    ++subDialogCount_;
    lastSubDialog_ = std::move(shown);
    return subDialogResult_;
}

void ScriptPlatform::SetTimer(unsigned id, unsigned ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    timerId_ = id;
    timerPeriod_ = std::chrono::milliseconds(ms);
    wake_.notify_all();
}

int ScriptPlatform::MessageBox(const std::u16string& text, const std::u16string& title, unsigned type) {
    Box box{text, title.empty() ? AppName() : title, type, OnUiThread()};
    std::function<int(const Box&)> answer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(box);
        answer = boxAnswer_;
    }
    return answer ? answer(box) : IDOK;
}

std::optional<std::u16string> ScriptPlatform::FileDialog(bool open, const std::u16string& filter,
                                                         const std::u16string& defExt, unsigned flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileRequests_.push_back({open, filter, defExt, flags});
    if (fileAnswers_.empty()) return std::nullopt;
    std::optional<std::u16string> answer = fileAnswers_.front();
    fileAnswers_.pop_front();
    return answer;
}

int ScriptPlatform::ControlWidth(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!template_) return 0;
    for (const ControlTemplate& t : template_->controls)
        if (t.id == id) return t.cx * kCharWidth / 4;  // the average character is kCharWidth wide
    return 0;
}

int ScriptPlatform::TextWidth(int, const std::u16string& text) { return static_cast<int>(text.size()) * kCharWidth; }

Profile& ScriptPlatform::GetProfile() { return *profile_; }

void ScriptPlatform::ExitProcess(int code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        exitCode_ = code;
        endRequested_ = true;
        wake_.notify_all();
    }
    throw ProcessExit{};
}

}  // namespace zl
