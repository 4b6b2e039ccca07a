#include "report/record_stream.h"

#include <cstring>

namespace zl::report {

bool RecordFilter::Keeps(const RecordSummary& r) const {
    if (sinceMs && r.timeMs < *sinceMs) return false;
    if (jobSha256 && r.jobSha256 != *jobSha256) return false;
    return true;
}

void RecordStream::Feed(const char* data, size_t n) {
    while (n > 0) {
        const char* nl = static_cast<const char*>(std::memchr(data, '\n', n));
        const size_t take = nl ? static_cast<size_t>(nl - data) : n;
        if (!tooLong_) {
            if (line_.size() + take > kMaxLine) {
                tooLong_ = true;
                line_.clear();
            } else {
                line_.append(data, take);
            }
        }
        if (!nl) return;
        Line();
        data += take + 1;
        n -= take + 1;
    }
}

void RecordStream::EndOfFile() {
    if (!line_.empty() || tooLong_) Line();
}

void RecordStream::Line() {
    if (tooLong_) {
        ++skipped_;
    } else if (line_.find_first_not_of(" \t\r") == std::string::npos) {
        // An empty line holds nothing to skip.
    } else if (!ReadRecord(line_, doc_, record_)) {
        ++skipped_;
    } else if (filter_.Keeps(record_)) {
        ++kept_;
        sink_(record_);
    }
    line_.clear();
    tooLong_ = false;
}

}  // namespace zl::report
