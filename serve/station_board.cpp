#include "serve/station_board.h"

#include <algorithm>
#include <chrono>

#include "platform/text_convert.h"
#include "records/record_line.h"

namespace zl::serve {
namespace {

StationState FromDialog(DialogState state) {
    switch (state) {
        case DialogState::Stopped: return StationState::Stopped;
        case DialogState::Searching: return StationState::Searching;
        case DialogState::Connected: return StationState::Connected;
        case DialogState::Transferring: return StationState::Transferring;
        case DialogState::PortLost: return StationState::WaitingForPort;
    }
    return StationState::Stopped;
}

int64_t NowUtcMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

const char* StateName(StationState state) {
    switch (state) {
        case StationState::Stopped: return "stopped";
        case StationState::Searching: return "searching";
        case StationState::Connected: return "connected";
        case StationState::Transferring: return "transferring";
        case StationState::WaitingForPort: return "waiting-for-port";
        case StationState::Box: return "box";
    }
    return "stopped";
}

StationBoard::StationBoard(std::string program, std::string version, std::string jobSha256) {
    s_.program = std::move(program);
    s_.version = std::move(version);
    s_.jobSha256 = std::move(jobSha256);
}

int StationBoard::AddStation(const std::string& station, const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    StationView v;
    v.station = station;
    v.port = port;
    s_.stations.push_back(v);
    beneathBox_.push_back(StationState::Stopped);
    removed_.push_back(false);
    return static_cast<int>(s_.stations.size()) - 1;
}

void StationBoard::RemoveStation(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    removed_.at(static_cast<size_t>(index)) = true;
}

void StationBoard::SetState(int index, DialogState state, const std::u16string& status) {
    std::string text = ToUtf8(status);
    std::lock_guard<std::mutex> lock(mutex_);
    StationView& v = s_.stations.at(static_cast<size_t>(index));
    const StationState next = FromDialog(state);
    if (v.state == StationState::Box) beneathBox_[static_cast<size_t>(index)] = next;
    else v.state = next;
    v.status = std::move(text);
    if (next != StationState::Transferring) v.hasProgress = false;
}

void StationBoard::SetBox(int index, bool shown) {
    std::lock_guard<std::mutex> lock(mutex_);
    StationView& v = s_.stations.at(static_cast<size_t>(index));
    if (shown && v.state != StationState::Box) {
        beneathBox_[static_cast<size_t>(index)] = v.state;
        v.state = StationState::Box;
    } else if (!shown && v.state == StationState::Box) {
        v.state = beneathBox_[static_cast<size_t>(index)];
    }
}

void StationBoard::SetProgress(int index, const TransferProgress& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    StationView& v = s_.stations.at(static_cast<size_t>(index));
    v.hasProgress = true;
    v.operation = OperationName(p.operation);
    v.phase = PhaseName(p.phase);
    v.done = p.done;
    v.total = p.total;
}

void StationBoard::TransferEnded(int index, const TransferRecord& r, const std::string& unitId) {
    Verdict verdict;
    verdict.operation = OperationName(r.operation);
    verdict.outcome = OutcomeName(r.outcome);
    verdict.cause = FailureName(r.cause);
    verdict.unitId = unitId;
    verdict.seconds = static_cast<double>(r.durationUs) / 1e6;
    verdict.endedUtcMs = NowUtcMs();
    // As the record has it: bytes per second over the line's rate (8N1: ten bits a byte).
    std::optional<double> efficiency;
    if (r.reachedDevice && r.durationUs > 0 && r.baud > 0)
        efficiency = static_cast<double>(r.bytes) / verdict.seconds / (r.baud / 10.0);

    std::lock_guard<std::mutex> lock(mutex_);
    StationView& v = s_.stations.at(static_cast<size_t>(index));
    v.hasProgress = false;
    ++s_.transfers[TransferKey{v.station, verdict.operation, verdict.outcome,
                               verdict.cause.empty() ? "none" : verdict.cause}];
    if (r.reachedDevice) {
        Histogram& h = s_.seconds[verdict.operation];
        size_t b = 0;
        while (b < kBucketCount && verdict.seconds > kSecondsBuckets[b]) ++b;
        if (b < kBucketCount) ++h.buckets[b];
        ++h.count;
        h.sum += verdict.seconds;
        v.lineEfficiency = efficiency;
    }
    if (r.operation == Operation::Load) {
        // A unit's first load decides its first pass; a load without a unit ID is a unit of its own.
        const bool firstOfUnit = unitId.empty() || unitsSeen_.insert(unitId).second;
        if (firstOfUnit) {
            ++s_.units;
            if (r.outcome == Outcome::Ok) ++s_.firstPassGood;
            s_.firstPassYield = static_cast<double>(s_.firstPassGood) / static_cast<double>(s_.units);
        }
    }
    v.last = std::move(verdict);
}

void StationBoard::DeviceCounted(int index, bool good) {
    std::lock_guard<std::mutex> lock(mutex_);
    StationView& v = s_.stations.at(static_cast<size_t>(index));
    if (good) ++v.good, ++s_.good;
    else ++v.failed, ++s_.failed;
}

BoardSnapshot StationBoard::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    BoardSnapshot snapshot = s_;
    if (std::find(removed_.begin(), removed_.end(), true) == removed_.end()) return snapshot;
    snapshot.stations.clear();
    for (size_t i = 0; i < s_.stations.size(); ++i)
        if (!removed_[i]) snapshot.stations.push_back(s_.stations[i]);
    return snapshot;
}

}  // namespace zl::serve
