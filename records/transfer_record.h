// What one load, readout or verify did: filled in by the exchange as it runs and
// handed to the platform face when it has ended (Platform::TransferEnded). The faces
// keep the record of every device from it; the command line also takes its results
// and exit codes from it.
#pragma once

#include <cstdint>
#include <string>

namespace zl {

enum class Operation { Load, Readout, Verify };

// How a transfer ended, one class per kind of failure.
enum class Outcome {
    Ok,
    TransferFailed,  // start refused, length error, readout incomplete, no answer, device gone
    VerifyMismatch,  // the device marked a block as different
    Incompatible,    // the compatibility question was answered "no": nothing was sent
    FileError,       // the file could not be opened, read, created, written, or it changed
};

struct TransferRecord {
    Operation operation = Operation::Load;
    int deviceSel = 0;          // the Device box selection: 0 the PIC32 kind, else the HCS kind
    std::u16string port;        // "\\.\COMn"
    uint32_t baud = 0;          // the line rate the port was set to
    // The device as the panels showed it when the transfer started (and after a load,
    // once the device answered again).
    std::u16string manufacturer;
    std::u16string hardware;
    std::u16string firmwareBefore;
    std::u16string firmwareAfter;
    std::u16string filePath;    // the firmware file, the readout target, the file compared
    uint64_t bytes = 0;         // bytes sent (load, verify) or received (readout)
    uint64_t units = 0;         // dots (PIC32 load), pieces (HCS load), blocks (verify), packets (readout)
    int64_t startedUs = 0;      // steady clock, microseconds
    int64_t durationUs = 0;
    Outcome outcome = Outcome::Ok;
    std::string failure;        // for a failure, what went wrong: "start-refused", "length", "incomplete",
                                // "no-data", "no-answer", "device-gone", "make-timeout", "file-changed", ...
    std::u16string boxText;     // the text of the box the transfer showed (empty when none)
    bool reachedDevice = false; // false when nothing went to the device (refused file, file error at open)
};

}  // namespace zl
