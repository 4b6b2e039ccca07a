// What the stations of one bzl run publish for the server: each station's state, status,
// progress, counters and last verdict, and the run's tallies. Stations write, each call a
// short lock and a copy; a reader takes a snapshot under the same short lock. Nothing
// here waits on a reader, and nothing here touches a transfer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/transfer.h"

namespace zl::serve {

enum class StationState { Stopped, Searching, Connected, Transferring, WaitingForPort, Box };
inline constexpr StationState kStates[] = {StationState::Stopped,      StationState::Searching,
                                           StationState::Connected,    StationState::Transferring,
                                           StationState::WaitingForPort, StationState::Box};
const char* StateName(StationState state);  // "stopped", "searching", ..., "waiting-for-port", "box"

// The upper bounds of the transfer time histogram, in seconds (+Inf follows).
inline constexpr double kSecondsBuckets[] = {1, 2, 5, 10, 20, 30, 60, 120, 300, 600};
inline constexpr size_t kBucketCount = sizeof kSecondsBuckets / sizeof kSecondsBuckets[0];

struct Histogram {
    std::array<uint64_t, kBucketCount> buckets{};  // not cumulative: each observation once
    uint64_t count = 0;
    double sum = 0;
};

struct Verdict {
    std::string operation;  // "load", "readout", "verify"
    std::string outcome;    // "ok", "transfer-failed", ...
    std::string cause;      // the record's failure name; empty when ok
    std::string unitId;
    double seconds = 0;
    int64_t endedUtcMs = 0;
};

struct StationView {
    std::string station;    // the short port name, as records name it ("COM7")
    std::string port;       // what the dialog opens ("\\.\COM7")
    StationState state = StationState::Stopped;
    std::string status;     // the dialog's status line
    bool hasProgress = false;
    std::string operation, phase;
    uint64_t done = 0;
    int64_t total = -1;
    uint64_t good = 0, failed = 0;  // devices, as bzl counts them
    std::optional<Verdict> last;
    std::optional<double> lineEfficiency;  // of the last transfer that reached a device
};

// Transfers by station, operation, outcome and cause ("none" when ok).
using TransferKey = std::array<std::string, 4>;

struct BoardSnapshot {
    std::string program, version, jobSha256;
    std::vector<StationView> stations;
    std::map<TransferKey, uint64_t> transfers;
    std::map<std::string, Histogram> seconds;  // by operation; transfers that reached a device
    uint64_t good = 0, failed = 0;             // devices, all stations
    uint64_t units = 0, firstPassGood = 0;     // loads: a unit's first load counts
    std::optional<double> firstPassYield;
};

class StationBoard {
public:
    StationBoard(std::string program, std::string version, std::string jobSha256);
    // The station's index; a station may be added while others run.
    int AddStation(const std::string& station, const std::string& port);
    // The station is no longer shown (its transfers stay counted); its index stays
    // valid, so that a station still ending may report to it unseen.
    void RemoveStation(int index);

    void SetState(int index, DialogState state, const std::u16string& status);
    void SetBox(int index, bool shown);  // a box waits for its answer
    void SetProgress(int index, const TransferProgress& progress);
    void TransferEnded(int index, const TransferRecord& record, const std::string& unitId);
    void DeviceCounted(int index, bool good);

    BoardSnapshot Snapshot() const;

private:
    mutable std::mutex mutex_;
    BoardSnapshot s_;
    std::vector<StationState> beneathBox_;  // the state a box covers
    std::vector<bool> removed_;
    std::set<std::string> unitsSeen_;
};

// A station's hook into the board; does nothing without one.
struct BoardSlot {
    StationBoard* board = nullptr;
    int index = -1;
    void State(DialogState state, const std::u16string& status) const { if (board) board->SetState(index, state, status); }
    void Box(bool shown) const { if (board) board->SetBox(index, shown); }
    void Progress(const TransferProgress& p) const { if (board) board->SetProgress(index, p); }
    void Ended(const TransferRecord& r, const std::string& unitId) const { if (board) board->TransferEnded(index, r, unitId); }
    void Counted(bool good) const { if (board) board->DeviceCounted(index, good); }
};

}  // namespace zl::serve
