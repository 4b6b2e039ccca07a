// What the core publishes about its work, for every face and front end: the dialog's
// state, a transfer's phase and its bytes, and how each transfer ended, as types. The
// window paints texts and bars; nobody needs to read them back.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zl {

// What the dialog is doing, as its status line says it.
enum class DialogState {
    Stopped,       // Stop was pressed: nothing happens on the line
    Searching,     // the wake-up flood runs, waiting for a device to be switched on
    Connected,     // a device answered and is shown
    Transferring,  // a load, readout or verify runs
    PortLost,      // the port cannot be opened; the dialog waits for it to come back
};

// The connected device as the dialog has just shown it in its panels.
struct DeviceShown {
    bool pic32 = true;
    bool described = false;          // the device described itself (not "no device")
    std::u16string manufacturer;     // PIC32: its identification
    std::u16string hardware;
    std::u16string firmware;         // the left panel (PIC32: the current firmware; HCS: its report)
    std::u16string flash;            // PIC32: the right panel, the firmware in flash
    std::u16string previous;         // PIC32: the result line, the previous update
};

enum class Operation { Load, Readout, Verify };

// The parts of a transfer, each with its own progress.
enum class Phase {
    Send,     // the firmware file goes to the device (a load)
    Program,  // the device copies what it received from flash to the chip (PIC32 load)
    Receive,  // the device's flash comes back (a readout)
    Compare,  // the file goes to the device, which compares it with its flash (a verify)
};

struct TransferProgress {
    Operation operation = Operation::Load;
    Phase phase = Phase::Send;
    uint64_t done = 0;      // this phase: bytes (send, receive, compare) or milliseconds (program)
    int64_t total = -1;     // the same unit; -1 when unknown (a readout's size)
    int64_t phaseUs = 0;    // time since the phase began
};

// How a transfer ended, one class per kind of failure.
enum class Outcome {
    Ok,
    TransferFailed,  // start refused, length error, readout incomplete, no answer, device gone
    VerifyMismatch,  // the device marked a block as different
    Incompatible,    // the compatibility question was answered "no": nothing was sent
    FileError,       // the file could not be opened, read, created, written, or it changed
};

// Why a transfer failed.
enum class Cause {
    None,
    StartRefused,    // the device did not start the load or verify
    Length,          // not a whole image reached the device, or the file is no whole number of blocks
    Incomplete,      // the readout is not a whole number of packets
    NoData,          // the readout brought nothing
    NoAnswer,        // the verify got no answer
    NoReport,        // the HCS device sent no closing report
    DeviceErrors,    // the HCS device reported errors
    DeviceGone,      // the line was hung up (the adapter pulled)
    MakeTimeout,     // the device did not prepare the readout in time
    VerifyMismatch,  // blocks differ
    Incompatible,    // the compatibility question was answered "no"
    FileError,       // the file could not be opened, read, created or written
    FileChanged,     // the file changed while it was used
    FirmwareMismatch,// after the load the device reports another firmware than the one expected
};

// The cause as records and bzl name it ("start-refused", "device-gone", ...).
const char* CauseName(Cause cause);
const char* OperationName(Operation operation);  // "load", "readout", "verify"
const char* OutcomeName(Outcome outcome);        // "ok", "transfer-failed", ...
const char* PhaseName(Phase phase);              // "send", "program", "receive", "compare"

// What one load, readout or verify did: filled in by the exchange as it runs and
// handed to the face when it has ended (Platform::TransferEnded).
struct TransferRecord {
    Operation operation = Operation::Load;
    int deviceSel = 0;          // the Device box selection: 0 the PIC32 kind, else the HCS kind
    std::u16string device;      // the Device box entry ("Corvel 6", ...)
    std::u16string port;        // "\\.\COMn"
    uint32_t baud = 0;          // the line rate the port was set to
    // The device as the panels showed it when the transfer started (and after a load,
    // once the device answered again).
    std::u16string manufacturer;
    std::u16string hardware;
    std::u16string firmwareBefore;
    std::u16string firmwareAfter;
    std::u16string filePath;    // the firmware file, the readout target, the file compared
    // The file's size and SHA-256 as this transfer read it (load, verify: every byte
    // read from the open file, the bytes sent among them) or wrote it (readout: the
    // bytes received). fileSize -1: the transfer read or wrote no file.
    int64_t fileSize = -1;
    std::string fileSha256;
    uint64_t bytes = 0;         // bytes sent (load, verify) or received (readout)
    uint64_t units = 0;         // dots (PIC32 load), pieces (HCS load), blocks (verify), packets (readout)
    std::vector<uint32_t> mismatchBlocks;  // a verify: the blocks the device marked as different
    int64_t startedUs = 0;      // steady clock, microseconds
    int64_t durationUs = 0;
    // Microseconds spent in each Phase (indexed by it); -1 for a phase that did not run.
    std::array<int64_t, 4> phaseUs{-1, -1, -1, -1};
    int runningPhase = -1;      // the phase under way, and since when (steady clock, us)
    int64_t phaseBeganUs = 0;
    Outcome outcome = Outcome::Ok;
    Cause cause = Cause::None;
    std::u16string boxText;     // the text of the box the transfer showed (empty when none)
    bool reachedDevice = false; // false when nothing went to the device (refused file, file error at open)
};

// Keeps the record of every device: takes each transfer once it has ended, on the
// worker's thread. Implemented by the record log; the dialog is given one by the program
// that runs it, so that no face needs to know where records go.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual void Keep(const TransferRecord& record) = 0;
};

}  // namespace zl
