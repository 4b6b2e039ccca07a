// One station of the station window: a dialog of its own on a headless face (its own
// user-interface thread, port, flags and controls model), driven as a user drives the
// window. The station keeps what its tile shows: the controls, the box it waits on,
// the devices loaded good and failed, and the verdict on the last device. Nothing here
// knows of a window system; the tile renders View() and forwards clicks and answers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "driver/dialog_driver.h"
#include "platform/transfer.h"
#include "protocol/firmware_id.h"
#include "records/record_line.h"
#include "report/record_summary.h"
#include "serve/station_board.h"

namespace zl {
class CBootloaderZLDlg;
class RecordLog;
}

namespace zl::stations {

struct StationOptions {
    std::u16string port;      // "\\.\COMn"
    int device = 0;           // the Device box entry, the same for every station
    bool english = false;
    std::u16string autoLoad;  // the Auto-Load file; empty: Auto-Load off
    // A production job: the file's pinned SHA-256 (empty: any file), the firmware the
    // device must report after a load, the flash compared with the file after each PIC32
    // load, and the job's name and SHA-256 in every record.
    std::string pinnedSha256;
    std::optional<FirmwareId> expectFirmware;
    bool verify = false;
    RecordTags tags;
    // Each device is named by a unit ID the tile takes; without one nothing is searched.
    bool askUnit = false;
    serve::BoardSlot board;  // --serve: where the station shows what it does
};

// A device the station is done with: loaded (and compared, when the job verifies).
struct DeviceDone {
    report::RecordSummary summary;  // as the yield counts it: good only when the verify agreed too
    bool loadGood = false;          // the load's own record says "ok"
    std::string unitId;
};

enum class Verdict { None, Pass, Fail };

// A box the station waits on, until its tile answers it.
struct PendingBox {
    uint64_t id = 0;
    std::u16string title;
    std::u16string text;
    unsigned type = 0;
    // Only tells (the port is not available): the station goes on at once, the tile shows
    // it until answered or until the station searches again.
    bool notice = false;
};

struct StationView {
    std::u16string status;
    int barLo = 0, barHi = 100, barPos = 0;
    std::u16string firmware;  // the device's panel, "in device"
    std::u16string flash;     // the panel "in flash"
    std::u16string result;    // the panel with the previous update's result
    std::u16string stopText;  // Stop / Start
    bool stopEnabled = false;
    int good = 0, failed = 0;
    Verdict verdict = Verdict::None;
    std::u16string verdictText;  // why the last device failed (its box text)
    bool notVerified = false;    // it failed because it was gone before its flash was compared
    std::optional<PendingBox> box;
    bool transfer = false;  // a load runs
    bool busy = false;      // a transfer runs or a box waits: the station cannot be removed
    bool ended = false;  // the dialog has ended
    std::optional<double> lastDeviceS;  // the time the last device took (load and verify)
    std::string unit;        // the unit ID the next or current device is recorded with
    bool unitEditable = false;  // the unit ID may be set: no device is being loaded
};

class Station : private DriverListener, private RecordSink {
public:
    // changed is called on any of the station's threads whenever View() may differ:
    // it must be quick. records may be null (no record file).
    Station(StationOptions options, RecordLog* records, std::function<void()> changed);
    ~Station() override;  // Quit()
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    const StationOptions& Options() const { return options_; }
    void Start();
    // True once the start-up is over: the first search runs (its port is held), or the
    // station shows why it cannot search, or it has ended. A dialog's start-up scan opens
    // every port for a moment and could make another station's first opening fail, so
    // stations of one process are started one after another.
    bool StartupDone() const;
    StationView View() const;

    // A button of the tile's box; ignored unless that box is the one shown.
    void Answer(uint64_t boxId, int answer);
    // A click on a button of the dialog, on the station's thread (ignored when the
    // button is disabled or hidden, as a click on it would be).
    void Click(int id);
    // The Auto-Load file of all stations (empty: Auto-Load off).
    void SetAutoLoad(const std::u16string& path);
    void SetLanguage(bool english);
    // The unit ID of the next device (askUnit): a search begins once it is set and stops
    // while it is empty; the station clears it when the device is done. Refused (false)
    // while a device is being loaded.
    bool SetUnit(const std::string& id);
    // The devices done since the last call, oldest first.
    std::vector<DeviceDone> TakeDone();

    // Ends the station as Quit does (the device is told to reset, the port released):
    // open boxes are cancelled, a running transfer is finished first (it ends by its own
    // time-outs). Once none runs, Quit has timeout to end the dialog, else its loop is
    // ended without asking it. True when the dialog and its workers have ended; false
    // when a thread of it still runs (the station must then not be destroyed).
    bool Quit(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    // DriverListener: the tile answers the boxes (AnswerBox waits for it).
    int AnswerBox(const HeadlessPlatform::Box& box) override;
    void StateChanged(DialogState state, const std::u16string& status) override;
    void Progressed(const TransferProgress& progress) override;
    void TransferEnded(const TransferRecord& record) override;
    void Changed() override;
    void Ended() override;
    // RecordSink: the record with the job's tags and the unit's ID.
    void Keep(const TransferRecord& record) override;
    // The device's verdict, its counters and its summary (under mutex_).
    void DeviceFinished(DeviceDone d, const std::u16string& boxText);
    // Stops or starts the search as the unit ID asks, on the dialog's thread.
    void FollowUnit();
    // The flash compared with the file once the loaded device is idle again.
    void VerifyWhenIdle();
    // Stop or Start clicked, on the dialog's thread, unless the dialog is already so.
    void SetSearching(bool search);
    // The box the tile shows: the first that waits for an answer, else a notice. Under mutex_.
    const PendingBox* ShownBox() const;

    StationOptions options_;
    std::function<void()> changed_;
    RecordLog* records_;
    std::unique_ptr<DialogDriver> driver_;

    mutable std::mutex mutex_;
    std::condition_variable answered_;
    std::deque<PendingBox> boxes_;   // the first is shown; the others wait their turn
    std::map<uint64_t, int> answers_;
    uint64_t nextBoxId_ = 1;
    bool quitting_ = false;
    bool ended_ = false;
    int good_ = 0, failed_ = 0;
    Verdict verdict_ = Verdict::None;
    std::u16string verdictText_;
    bool notVerified_ = false;
    bool wasSearching_ = false;
    DialogState state_ = DialogState::Stopped;  // as the dialog last published it
    std::string unit_;
    bool stoppedForUnit_ = false;  // the search was stopped for want of a unit ID
    // A load that succeeded and waits for its verify (its summary, the device's time so far).
    std::optional<DeviceDone> loaded_;
    bool verifyDue_ = false, verifying_ = false;
    std::optional<double> lastDeviceS_;
    std::vector<DeviceDone> done_;
};

}  // namespace zl::stations
