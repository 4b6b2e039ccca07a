// Record files read piece by piece: each line becomes a RecordSummary for the sink when it
// is a record the filter keeps; a line that is no record is counted and skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "records/json_reader.h"
#include "report/record_summary.h"

namespace zl::report {

struct RecordFilter {
    std::optional<int64_t> sinceMs;         // records that started at or after
    std::optional<std::string> jobSha256;   // records of this job (job.sha256)
    bool Keeps(const RecordSummary& r) const;
};

class RecordStream {
public:
    using Sink = std::function<void(const RecordSummary&)>;
    // A line longer than this is no record; it is skipped without being held whole.
    static constexpr size_t kMaxLine = 1 << 20;

    RecordStream(RecordFilter filter, Sink sink) : filter_(std::move(filter)), sink_(std::move(sink)) {}
    // The next bytes of a file.
    void Feed(const char* data, size_t n);
    // The file has ended: its last line counts even without a line break.
    void EndOfFile();

    uint64_t Skipped() const { return skipped_; }
    uint64_t Kept() const { return kept_; }

private:
    void Line();

    RecordFilter filter_;
    Sink sink_;
    std::string line_;
    bool tooLong_ = false;
    JsonDocument doc_;
    RecordSummary record_;
    uint64_t skipped_ = 0;
    uint64_t kept_ = 0;
};

}  // namespace zl::report
