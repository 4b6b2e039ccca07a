// The main dialog: it holds the whole state of the program. Handlers and the tick
// run on the user-interface thread; the worker threads receive the dialog and share
// its flags. Each member function is defined in the folder of the part that owns it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "app/waking_flag.h"
#include "platform/controls.h"
#include "platform/platform.h"
#include "platform/serial.h"
#include "platform/transfer.h"
#include "protocol/firmware_id.h"

namespace zl {

// A flag or counter shared between threads (0 or 1 for flags).
using Flag = std::atomic<uint8_t>;
using Counter = std::atomic<uint8_t>;

// A string shared between threads: read and written as whole copies under a lock.
class SharedString {
public:
    explicit SharedString(std::u16string initial = {}) : value_(std::move(initial)) {}
    std::u16string Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    void Set(std::u16string value) {
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = std::move(value);
    }
    bool Empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::u16string value_;
};

// A combo box bound to a member, as the dialog's data exchange binds it.
class CComboBox {
public:
    CComboBox(Controls& c, int id) : c_(c), id_(id) {}
    int GetCount() const { return c_.GetCount(id_); }
    int GetCurSel() const { return c_.GetCurSel(id_); }
    int SetCurSel(int i) { return c_.SetCurSel(id_, i); }
    int AddString(const std::u16string& s) { return c_.AddString(id_, s); }
    int DeleteString(int i) { return c_.DeleteString(id_, i); }
    int FindStringExact(int start, const std::u16string& s) const { return c_.FindStringExact(id_, start, s); }
    std::u16string GetLBText(int i) const { return c_.GetLBText(id_, i); }

private:
    Controls& c_;
    int id_;
};

// The progress bar bound to a member.
class CProgressCtrl {
public:
    CProgressCtrl(Controls& c, int id) : c_(c), id_(id) {}
    void SetRange(int lo, int hi) { c_.SetRange(id_, lo, hi); }
    int SetPos(int pos) { return c_.SetPos(id_, pos); }
    int GetPos() const { return c_.GetPos(id_); }
    int SetStep(int step) { return c_.SetStep(id_, step); }
    int StepIt() { return c_.StepIt(id_); }

private:
    Controls& c_;
    int id_;
};

class CBootloaderZLDlg : public DialogCallbacks {
public:
    explicit CBootloaderZLDlg(Platform& platform);
    ~CBootloaderZLDlg() override;

    int DoModal();

    // --- fields ---
    Flag m_bEnglish{0};
    SharedString m_strDeviceInfo;
    SharedString m_strAutoLoadPath;
    SharedString m_strReadoutPath;
    SharedString m_strVerifyPath;
    // One entry per Port box entry (sized for every port a scan can find, so that
    // none is left out of the box); user-interface thread only.
    std::array<std::u16string, 256> m_astrPortNames{};
    SharedString m_strBootloaderSummary;
    PortSlot m_hPort;
    std::array<std::u16string, 256> m_astrFoundPorts{};  // user-interface thread only
    Counter m_nWakeThreads{0};
    Counter m_nInfoThreads{0};
    Flag m_bDeviceListOpen{0};
    Flag m_bTickBusy{0};
    Flag m_bDisconnecting{0};
    WakingFlag m_bSearching{0};  // its drop wakes the flood at once
    Flag m_bBootAnswered{0};
    Flag m_bInfoRunning{0};
    Flag m_bInfoEnded{1};
    Flag m_bLoadPending{0};
    Flag m_bReadoutPending{0};
    Flag m_bReadoutStarted{0};
    Flag m_bTransferRunning{0};
    Flag m_bPortHold{1};
    Flag m_bRescanDone{0};
    Flag m_bStopped{0};
    Counter m_nInfoCycle{0};
    SharedString m_strPort;
    // The port that could not be opened: while it is set the tick watches for that
    // port to come back and then selects it and searches again. Cleared when the user
    // chooses a port.
    SharedString m_strLostPort;
    Flag m_bPortListOpen{0};

    Platform& m_platform;
    RecordSink* m_recordSink = nullptr;  // where each ended transfer is kept; none: not kept
    Controls m_controls;
    CComboBox m_cbPort;
    CProgressCtrl m_progress;
    CComboBox m_cbDevice;

    // --- window handlers (app/) ---
    bool OnInitDialog() override;
    void OnShowWindow(bool show, int status) override;
    void OnCommand(int id, int code) override;
    void OnTimer(unsigned id) override;
    // While the search runs the tick returns at once (see OnTimer).
    bool TickIsIdle() const override { return m_bSearching != 0; }
    void OnSysCommand(unsigned command) override;
    bool OnClose() override;
    void OnStopStart();
    void OnDisconnect();
    void OnQuit();
    void OnLanguageGerman();
    void OnLanguageEnglish();
    void OnHelpButton();
    void OnInfoButton();

    // --- serial/ ---
    void OnPortDropDown();
    void OnPortCloseUp();
    void OnPortSelChange();
    void OnDeviceDropDown();
    void OnDeviceCloseUp();
    void OnDeviceSelChange();

    // --- files/ ---
    void OnChooseAutoLoadFile();
    void OnAutoLoadOn();
    void OnAutoLoadOff();

    // --- protocol/ ---
    void OnReadoutButton();
    void StartReadout();
    void OnCompareButton();

    // Helpers shared by the parts.
    bool English() const { return m_bEnglish.load() != 0; }
    int DeviceSel() const { return m_cbDevice.GetCurSel(); }
    void WriteThreadIndicator();
    // Enables Auto-Load On when no Auto-Load file is set, else Auto-Load Off.
    void EnableAutoLoadButton();

    // Worker threads of this dialog: counted, so that the dialog can wait for its own
    // threads (and only those) before it goes away.
    void WorkerStarted();
    void WorkerEnded();
    bool WaitForWorkers(std::chrono::milliseconds timeout);
    // Asks every worker to end and releases the port; true once none runs, false when
    // one still runs after timeout (the dialog must then not be destroyed).
    bool StopWorkers(std::chrono::milliseconds timeout);

    // The record of a transfer: begun when the transfer starts, ended (handed to the
    // platform face) when it is over. A PIC32 load's record waits for the device's next
    // answer, which names the firmware it now runs.
    TransferRecord BeginRecord(Operation operation, const std::u16string& filePath);
    void EndRecord(TransferRecord record);
    void HoldLoadRecord(TransferRecord record);
    // Ends a held load record (firmwareAfter: what the device now reports, or empty).
    void ReleaseLoadRecord(const std::u16string& firmwareAfter);
    // A load's record waits for the device's next answer.
    bool LoadRecordHeld();
    // A PIC32 load counts as failed (firmware-mismatch) unless the device then reports
    // this firmware; none: any firmware will do.
    void ExpectFirmware(std::optional<FirmwareId> firmware);
    // A load sends only a file whose SHA-256 (lowercase hex) is this one; any other is
    // refused before anything is sent, as a file that changed. Empty: any file.
    void PinFileSha256(std::string sha256);
    std::string PinnedFileSha256();

    // Sets the status line and publishes the state it stands for.
    void SetStatus(DialogState state, const std::u16string& text);

    // Tells the truth while the port cannot be opened: not connected, bar at 0, and the
    // Port box, Device box and Stop available.
    void ShowPortLost();

private:
    void SwitchLanguage(bool english);
    void WatchLostPort();

    std::mutex m_workersMutex;
    std::condition_variable m_workersIdle;
    int m_nWorkers = 0;
    std::mutex m_recordMutex;
    std::optional<TransferRecord> m_heldLoadRecord;
    std::optional<FirmwareId> m_expectedFirmware;  // under m_recordMutex
    std::string m_pinnedSha256;                    // under m_recordMutex
    std::chrono::steady_clock::time_point m_lastPortProbe{};
};

// Worker threads (protocol/): each receives the dialog and ends itself.
unsigned SearchThread(CBootloaderZLDlg* dlg);
unsigned WakeUpThread(CBootloaderZLDlg* dlg);
unsigned InfoThread(CBootloaderZLDlg* dlg);
unsigned LoadThread(CBootloaderZLDlg* dlg);
unsigned ReadoutThread(CBootloaderZLDlg* dlg);
unsigned VerifyThread(CBootloaderZLDlg* dlg);

// Starts a worker thread on the dialog.
void StartWorker(unsigned (*proc)(CBootloaderZLDlg*), CBootloaderZLDlg* dlg, int priority);
// Starts InfoThread. The connected state is claimed (m_bInfoEnded cleared) before the
// thread runs, so that no tick in between takes the idle branch and starts a search.
void StartInfoThread(CBootloaderZLDlg* dlg);

// The device display (protocol/show_device_info.cpp).
void ShowDeviceInfo(CBootloaderZLDlg* dlg, std::u16string text);
// The compatibility check of a PIC32 file's first 100 bytes (protocol/).
bool IsFileCompatible(CBootloaderZLDlg* dlg, std::u16string deviceText, std::u16string headerText);
// Shortens path in place to the width of a static control (files/).
void FitPathToControl(int controlId, CBootloaderZLDlg* dlg, std::u16string& path);

// Port operations (serial/).
std::array<std::u16string, 256> ScanPorts();
// Whether the port can be opened now (it is opened and closed again at once).
bool CanOpenPort(const std::u16string& deviceName);
int OpenPortForSearch(std::u16string deviceName, CBootloaderZLDlg* dlg);
int OpenPortForReadout(std::u16string deviceName, CBootloaderZLDlg* dlg);
void ClosePort(CBootloaderZLDlg* dlg);

// The application object.
class CBootloaderZLApp {
public:
    explicit CBootloaderZLApp(Platform& platform, RecordSink* records = nullptr)
        : platform_(platform), records_(records) {}
    bool InitInstance();

private:
    Platform& platform_;
    RecordSink* records_;
};

}  // namespace zl
