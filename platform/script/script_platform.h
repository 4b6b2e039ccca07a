// The scripted face of the platform layer, for tests: the dialog runs on a user-
// interface thread of its own with a 50 ms timer, boxes and file dialogs are answered
// by the test's script and recorded, and the controls model is read directly.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace zl {

class ScriptPlatform : public Platform {
public:
    struct Box {
        std::u16string text;
        std::u16string title;  // as shown: an empty title becomes the application name
        unsigned type = 0;
        bool onUiThread = false;
    };
    struct FileRequest {
        bool open = true;
        std::u16string filter;
        std::u16string defExt;
        unsigned flags = 0;
    };

    ScriptPlatform();
    ~ScriptPlatform() override;

    // --- the script ---
    // Answers every message box (default: IDOK). May block to hold a box open.
    void SetBoxAnswer(std::function<int(const Box&)> answer);
    // Answers file dialogs in order; when none is queued the dialog is cancelled.
    void QueueFileAnswer(std::optional<std::u16string> path);
    // Result of sub-dialogs (the About boxes), default IDOK.
    void SetSubDialogResult(int result);
    std::vector<Box> Boxes() const;
    std::vector<FileRequest> FileRequests() const;
    // The texts of the controls of the last sub-dialog when it was shown.
    ControlState LastSubDialogControl(int id) const;
    int SubDialogCount() const;
    std::optional<int> ExitCode() const;
    // The records of the transfers that have ended, in order.
    std::vector<TransferRecord> Records() const;

    // --- the user-interface thread ---
    // Runs fn's DoModal on the user-interface thread (fn calls dlg.DoModal()).
    void StartUi(std::function<void()> runModal);
    // Runs fn on the user-interface thread and waits for it.
    void Call(std::function<void()> fn);
    // Queues fn on the user-interface thread.
    void Post(std::function<void()> fn);
    // Ends the modal loop unconditionally and waits for the user-interface thread.
    void EndUi();
    // Esc, as a user presses it: the dialog decides whether it ends (it refuses while a
    // transfer runs). Returns once the key has been handled; true when the dialog ended.
    bool Escape();
    bool UiRunning() const;
    // Polls pred every 10 ms until it holds or the time is up.
    static bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
    // The number of timer expiries delivered so far.
    long TimerCount() const;

    // --- Platform ---
    int DoModal(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                DialogCallbacks& callbacks) override;
    int RunSubDialog(const DialogTemplate& dlg, Controls& controls, const std::function<void()>& onShow) override;
    void SetTimer(unsigned id, unsigned ms) override;
    int MessageBox(const std::u16string& text, const std::u16string& title, unsigned type) override;
    std::optional<std::u16string> FileDialog(bool open, const std::u16string& filter, const std::u16string& defExt,
                                             unsigned flags) override;
    int ControlWidth(int id) override;
    int TextWidth(int id, const std::u16string& text) override;
    Profile& GetProfile() override;
    std::u16string AppName() override { return u"BootloaderZL"; }
    [[noreturn]] void ExitProcess(int code) override;
    void TransferEnded(const TransferRecord& record) override;

    // Fixed-width text measure of this face: every character is this wide.
    static constexpr int kCharWidth = 6;

private:
    struct ProcessExit {};
    bool OnUiThread() const;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool endRequested_ = false;
    bool uiRunning_ = false;
    unsigned timerId_ = 0;
    std::chrono::milliseconds timerPeriod_{0};
    long timerCount_ = 0;
    std::thread ui_;
    std::thread::id uiId_;
    const DialogTemplate* template_ = nullptr;
    DialogCallbacks* callbacks_ = nullptr;

    std::function<int(const Box&)> boxAnswer_;
    std::vector<Box> boxes_;
    std::deque<std::optional<std::u16string>> fileAnswers_;
    std::vector<FileRequest> fileRequests_;
    int subDialogResult_ = 1;
    int subDialogCount_ = 0;
    std::map<int, ControlState> lastSubDialog_;
    std::optional<int> exitCode_;
    std::vector<TransferRecord> records_;
    std::unique_ptr<Profile> profile_;
};

}  // namespace zl
