// Runs one dialog without a window, as a user drives the window, for bzl and for the
// stations: the read-only view of the profile with the port, device type and language
// chosen, the file dialogs answered with a path given beforehand, the boxes answered by
// the front end, the start-ups of the dialogs of one process one after another, the
// Auto-Load switched on again after a refused file, and a bounded end. The front end
// learns what happens from what the core publishes (states, progress, ended transfers).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "faces/headless/headless_platform.h"
#include "platform/profile.h"
#include "platform/transfer.h"

namespace zl {

class CBootloaderZLDlg;

// What a front end hears of its dialog, on the dialog's threads (the user-interface
// thread or a worker): quick and thread-safe, but for AnswerBox, which may wait.
class DriverListener {
public:
    virtual ~DriverListener() = default;
    // The answer to a box the dialog shows (IDOK, IDCANCEL); the dialog waits for it.
    virtual int AnswerBox(const HeadlessPlatform::Box& box) = 0;
    // The box once answered (box.answer).
    virtual void BoxAnswered(const HeadlessPlatform::Box& box) { (void)box; }
    virtual void StateChanged(DialogState state, const std::u16string& status) { (void)state, (void)status; }
    virtual void Progressed(const TransferProgress& progress) { (void)progress; }
    virtual void DeviceShownChanged(const DeviceShown& device) { (void)device; }
    virtual void TransferEnded(const TransferRecord& record) { (void)record; }
    // A control changed.
    virtual void Changed() {}
    // The dialog has ended (Quit, or its loop ended).
    virtual void Ended() {}
};

struct DriverSetup {
    std::u16string port;                      // "\\.\COMn"
    std::optional<int> device;                // the Device box entry; empty: the profile's
    bool english = false;
    std::unique_ptr<Profile> profile;         // read, never written; null: none
    std::optional<std::u16string> fileAnswer; // answers every file dialog
    RecordSink* records = nullptr;            // where each ended transfer is kept
};

class DialogDriver : private HeadlessPlatform::Observer {
public:
    DialogDriver(DriverSetup setup, DriverListener& listener);
    ~DialogDriver() override;  // Shutdown() when the dialog has not ended
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // Starts the dialog on a user-interface thread of its own. afterShow runs on it once
    // the dialog has been shown, before its first tick. The dialogs of one process start
    // one after another: a dialog's start-up scan opens every port for a moment and
    // would make another's first opening fail. This one begins once the one before has
    // finished its start-up (see StartupDone), or 10 s after that one began.
    void Start(std::function<void()> afterShow);
    // The start-up is over: the dialog searches (its port is held), shows why it cannot
    // (a box, the lost port), or has ended.
    bool StartupDone() const;
    bool Running() const;

    // A click on a button, on the dialog's thread (ignored when the button is disabled
    // or hidden, as a click on it would be).
    void Click(int id);
    // Runs fn on the dialog's thread, without waiting.
    void Post(std::function<void()> fn);
    // The Auto-Load file (empty: Auto-Load off), switched as the user switches it.
    void SetAutoLoad(const std::u16string& path);
    void SetLanguage(bool english);
    // From now on a refused file no longer switches Auto-Load on again.
    void StopRearming();

    // Quit as a user presses it: a transfer under way is finished first (bounded by its
    // own time-outs, and by 15 minutes), then the device is reset and the port released.
    // After timeout without a transfer the loop is ended without asking the dialog.
    // Then as Shutdown.
    bool Quit(std::chrono::milliseconds timeout);
    // Ends the loop (nothing more is sent) and the dialog's workers, bounded; false when a
    // thread of the dialog still runs: the driver and its listener must then not be
    // destroyed (bzl and the station window end their process without destroying them).
    bool Shutdown();
    // Ends the loop at once, without asking the dialog.
    void EndLoop();
    bool Join(std::chrono::milliseconds timeout);

    CBootloaderZLDlg& Dialog() { return *dlg_; }
    const CBootloaderZLDlg& Dialog() const { return *dlg_; }

private:
    void OnBox(const HeadlessPlatform::Box& box) override;
    void OnStateChanged(DialogState state, const std::u16string& status) override;
    void OnTransferProgressed(const TransferProgress& progress) override;
    void OnDeviceShown(const DeviceShown& device) override { listener_.DeviceShownChanged(device); }
    void OnTransferEnded(const TransferRecord& record) override;
    void MarkStartupDone();

    DriverListener& listener_;
    std::unique_ptr<HeadlessPlatform> face_;
    std::unique_ptr<CBootloaderZLDlg> dlg_;
    mutable std::mutex mutex_;
    bool startupDone_ = false;
    bool rearm_ = false;      // a refused file switched Auto-Load off: on again for the next device
    bool rearming_ = true;
};

}  // namespace zl
