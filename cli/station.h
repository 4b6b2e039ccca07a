// One dialog driven as a user drives the window: the port and the device type chosen,
// Auto-Load On / Readout / Compare pressed, boxes answered by policy, the controls read
// for progress, Quit pressed at the end. One station per port; several may run in one
// process, each on its own user-interface thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/output.h"
#include "driver/dialog_driver.h"
#include "protocol/firmware_id.h"
#include "records/record_log.h"
#include "serve/station_board.h"

namespace zl {
class CBootloaderZLDlg;
}

namespace zl::cli {

// Exit codes.
enum : int {
    kExitOk = 0,
    kExitUsage = 1,
    kExitPort = 2,
    kExitNoDevice = 3,
    kExitTransfer = 4,
    kExitMismatch = 5,
    kExitIncompatible = 6,
    kExitFile = 7,
    kExitInterrupted = 130,
};

struct Job {
    Command command = Command::Info;
    std::u16string port;            // "\\.\COMn"
    std::optional<int> device;      // the Device box entry; empty: the profile's
    std::u16string file;
    int64_t fileSize = -1;
    int count = 1;
    bool force = false;
    bool verify = false;
    std::optional<double> timeout;
    bool english = false;
    // A production job: the file's pinned SHA-256, the firmware the device must report
    // after a load, and what the records name.
    std::string pinnedSha256;
    std::optional<FirmwareId> expectFirmware;
    RecordTags tags;                // the job, and the unit of --unit
    class UnitReader* units = nullptr;  // --ask-unit: a unit ID before each device
    serve::BoardSlot board;             // --serve: where the station shows what it does
};

// The exit code of a transfer's outcome.
int ExitCodeOf(Outcome outcome);

class Station : private DriverListener, private RecordSink {
public:
    Station(Job job, std::unique_ptr<Profile> profile, Reporter& out, RecordLog& records);
    ~Station() override;

    // Runs the job to its end; the exit code. interrupt holds the number of a signal
    // that asks bzl to stop (0 while none has come).
    int Run(const std::atomic<int>& interrupt);
    // Ends the dialog's loop and its workers, bounded; false when a thread of the
    // dialog still runs (the station must then not be destroyed). Called after Run.
    bool Shutdown();
    // When the run's exit code was set by the first device that failed (or the port);
    // empty when none failed. Read after Run.
    std::optional<std::chrono::steady_clock::time_point> FirstFailure() const { return firstFailure_; }

private:
    // DriverListener
    int AnswerBox(const HeadlessPlatform::Box& box) override;
    void BoxAnswered(const HeadlessPlatform::Box& box) override;
    void StateChanged(DialogState state, const std::u16string& status) override;
    void Progressed(const TransferProgress& progress) override;
    void TransferEnded(const TransferRecord& record) override;
    // RecordSink: the record with the station's job and unit.
    void Keep(const TransferRecord& record) override;
    void DeviceShownChanged(const DeviceShown& device) override;

    void Click(int id);
    void Wake();
    bool PanelsReady(double connectedSeconds) const;
    DeviceView View() const;
    void ReportProgress(const TransferProgress& progress);
    // The parts of a run's round, on the thread of Run.
    struct Event;
    void FollowEvents(const std::deque<Event>& events);
    void CountEnded(const std::deque<TransferRecord>& ended);
    void PressNext();
    void WatchTimeAndInterrupt(const std::atomic<int>& interrupt);
    void QuitWhenDone();
    // --ask-unit: waits for the first unit ID before anything is searched; false when
    // the input ended or an interrupt came first.
    bool TakeFirstUnit(const std::atomic<int>& interrupt);
    // --ask-unit between devices: the search is stopped until the next ID is read.
    void WaitForUnit();
    void SetUnit(const std::string& id);
    void Fail(int code);  // the run's code, when none has failed before
    void Finish(const std::string& why);
    int DeviceSel() const;

    Job job_;
    Reporter& out_;
    RecordLog& records_;
    std::unique_ptr<DialogDriver> driver_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool dirty_ = false;
    // What the dialog published, in its order: each state, and a transfer's latest progress.
    struct Event {
        bool isState = true;
        DialogState state = DialogState::Stopped;
        std::u16string status;
        TransferProgress progress;
    };
    std::deque<Event> events_;
    std::deque<TransferRecord> ended_;
    DeviceShown shown_;  // under mutex_: the panels as the dialog last showed them
    bool portLost_ = false;  // the dialog said its port is lost
    std::atomic<bool> portChosen_{false};
    std::optional<std::chrono::steady_clock::time_point> firstFailure_;
    // What Run knows of its run, on its thread only.
    struct RunState {
        int code = kExitOk, good = 0, failed = 0, handled = 0;
        std::string message;
        DialogState state = DialogState::Stopped;
        bool deviceActive = false, deviceReported = false, searchSeen = false, anyState = false;
        bool actionClicked = false, verifyDue = false, transferOpen = false;
        bool finishing = false, quitClicked = false, interrupted = false, waitBoxAsked = false;
        bool unitWanted = false, stoppedForUnit = false;
        std::chrono::steady_clock::time_point waitingSince{}, finishingSince{}, lastSearchDraw{}, connectedSince{},
            quitClickedAt{};
    } run_;
    bool inTransfer_ = false;  // under mutex_
    RecordTags tags_;          // under mutex_
};

}  // namespace zl::cli
