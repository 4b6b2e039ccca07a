#include "tests/support/script_platform.h"

#include <thread>

#include "os/qsettings/qsettings_profile.h"
#include "platform/win32.h"

namespace zl {

ScriptPlatform::ScriptPlatform() : HeadlessPlatform(MakeQSettingsProfile(u"BootloaderZL")) {
    SetBoxPolicy([this](const HeadlessPlatform::Box& shown) {
        const Box box{shown.text, shown.title, shown.type, OnUiThread()};
        std::function<int(const Box&)> answer;
        {
            std::lock_guard<std::mutex> lock(scriptMutex_);
            boxes_.push_back(box);
            answer = boxAnswer_;
        }
        return answer ? answer(box) : IDOK;
    });
}

ScriptPlatform::~ScriptPlatform() { EndUi(); }

void ScriptPlatform::EndUi() {
    EndLoop();
    Join(std::chrono::hours(1));
}

void ScriptPlatform::SetBoxAnswer(std::function<int(const Box&)> answer) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    boxAnswer_ = std::move(answer);
}

void ScriptPlatform::QueueFileAnswer(std::optional<std::u16string> path) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    fileAnswers_.push_back(std::move(path));
}

void ScriptPlatform::SetSubDialogResult(int result) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    subDialogResult_ = result;
}

std::vector<ScriptPlatform::Box> ScriptPlatform::Boxes() const {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    return boxes_;
}

std::vector<ScriptPlatform::FileRequest> ScriptPlatform::FileRequests() const {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    return fileRequests_;
}

ControlState ScriptPlatform::LastSubDialogControl(int id) const {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    auto it = lastSubDialog_.find(id);
    return it == lastSubDialog_.end() ? ControlState{} : it->second;
}

int ScriptPlatform::SubDialogCount() const {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    return subDialogCount_;
}

std::vector<TransferRecord> ScriptPlatform::Records() const {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    return {records_.begin(), records_.end()};
}

void ScriptPlatform::KeepRecords(size_t n) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    keepRecords_ = n;
    while (records_.size() > keepRecords_) records_.pop_front();
}

void ScriptPlatform::TransferEnded(const TransferRecord& record) {
    {
        std::lock_guard<std::mutex> lock(scriptMutex_);
        records_.push_back(record);
        while (records_.size() > keepRecords_) records_.pop_front();
    }
    HeadlessPlatform::TransferEnded(record);
}

bool ScriptPlatform::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int ScriptPlatform::RunSubDialog(const DialogTemplate&, Controls& controls, const std::function<void()>& onShow) {
    onShow();
    std::map<int, ControlState> shown;
    for (int id : controls.Ids()) shown[id] = controls.Get(id);
    std::lock_guard<std::mutex> lock(scriptMutex_);
    ++subDialogCount_;
    lastSubDialog_ = std::move(shown);
    return subDialogResult_;
}

std::optional<std::u16string> ScriptPlatform::FileDialog(bool open, const std::u16string& filter,
                                                         const std::u16string& defExt, unsigned flags) {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    fileRequests_.push_back({open, filter, defExt, flags});
    if (fileAnswers_.empty()) return std::nullopt;
    std::optional<std::u16string> answer = fileAnswers_.front();
    fileAnswers_.pop_front();
    return answer;
}

}  // namespace zl
