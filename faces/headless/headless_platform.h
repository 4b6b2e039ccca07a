// The face of the platform layer without a window, for the command line and for
// stations: each instance runs one dialog on a user-interface thread of its own (its
// 50 ms timer, its handlers, its pauses), answers message boxes by a policy and
// reports them, answers file dialogs with a path given beforehand, and reads the
// profile without ever writing it. Several instances run side by side in one process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace zl {

class HeadlessPlatform : public Platform {
public:
    struct Box {
        std::u16string text;
        std::u16string title;  // as shown: an empty title becomes the application name
        unsigned type = 0;
        int answer = 0;        // what the policy answered
    };
    // What the dialog reports; called on the thread that caused it (a worker or the
    // user-interface thread), so implementations must be quick and thread-safe.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void OnBox(const Box& box) = 0;
        virtual void OnStateChanged(DialogState state, const std::u16string& status) { (void)state, (void)status; }
        virtual void OnTransferProgressed(const TransferProgress& progress) { (void)progress; }
        virtual void OnDeviceShown(const DeviceShown& device) { (void)device; }
        virtual void OnTransferEnded(const TransferRecord& record) = 0;
    };

    explicit HeadlessPlatform(std::unique_ptr<Profile> profile);
    ~HeadlessPlatform() override;

    // Set before Start.
    void SetObserver(Observer* observer) { observer_ = observer; }
    // Answers each box (default: IDOK).
    void SetBoxPolicy(std::function<int(const Box&)> policy);
    // Answers every file dialog from now on; nothing cancels it.
    void SetFileAnswer(std::optional<std::u16string> path);
    // Runs on the user-interface thread once the dialog has been shown, before its first
    // timer tick.
    void SetAfterShow(std::function<void()> afterShow) { afterShow_ = std::move(afterShow); }

    // Starts the user-interface thread, which runs runModal (it calls the dialog's DoModal).
    void Start(std::function<void()> runModal);
    // Queues fn on the user-interface thread; false when the thread has ended.
    bool Post(std::function<void()> fn);
    // Runs fn on the user-interface thread and waits for it (at once on that thread);
    // false when the thread ended first.
    bool Call(std::function<void()> fn);
    // Esc or the window's Close, as a user presses it: the dialog decides whether it
    // ends (it refuses while a transfer runs). True when it ended.
    bool Close();
    // Ends the modal loop without asking the dialog (nothing is sent to the device).
    void EndLoop();
    // Waits for the user-interface thread to end; true when it has.
    bool Join(std::chrono::milliseconds timeout);
    bool Running() const;
    // The code given to EndProgram (Quit), if any.
    std::optional<int> ExitCode() const;
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
    Profile& GetProfile() override { return *profile_; }
    std::u16string AppName() override { return u"BootloaderZL"; }
    // Ends this dialog's loop, not the process: the other dialogs of the process go on.
    // Called off the user-interface thread, it ends the calling worker (ThreadEnd).
    [[noreturn]] void EndProgram(int code) override;
    void StateChanged(DialogState state, const std::u16string& status) override;
    void TransferProgressed(const TransferProgress& progress) override;
    void DeviceShownChanged(const DeviceShown& device) override;
    void TransferEnded(const TransferRecord& record) override;
    void TickResumes() override;

    // Every character is this wide for the path shortening (there is no font).
    static constexpr int kCharWidth = 6;

    // True on the user-interface thread.
    bool OnUiThread() const;

private:
    struct LoopExit {};
    void SleepThroughIdleTicks(std::unique_lock<std::mutex>& lock, const DialogCallbacks& callbacks,
                               std::chrono::steady_clock::time_point& nextTick);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool endRequested_ = false;
    bool running_ = false;
    unsigned timerId_ = 0;
    std::chrono::milliseconds timerPeriod_{0};
    long timerCount_ = 0;
    bool tickResumed_ = false;  // TickResumes since the loop last looked
    DialogCallbacks* callbacks_ = nullptr;
    std::thread ui_;
    std::thread::id uiId_;
    const DialogTemplate* template_ = nullptr;
    std::optional<int> exitCode_;

    Observer* observer_ = nullptr;
    std::function<int(const Box&)> policy_;
    std::optional<std::u16string> fileAnswer_;
    std::function<void()> afterShow_;
    std::unique_ptr<Profile> profile_;
};

}  // namespace zl
