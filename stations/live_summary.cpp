#include "stations/live_summary.h"

#include <chrono>

#include "records/json_reader.h"

namespace zl::stations {

bool LiveSummary(const TransferRecord& r, const RecordTags& tags, int64_t startUtcMs, report::RecordSummary& out) {
    // Formatted and read back: one definition of every field, the one the report uses.
    RecordContext c;
    c.startUtcMs = startUtcMs;
    c.host = "-";
    c.program = "BootloaderZL-Stations";
    c.version = "-";
    c.id = "-";
    c.tags = tags;
    JsonDocument doc;
    return report::ReadRecord(FormatRecord(r, c), doc, out);
}

int64_t StartUtcMs(int64_t startedUs) {
    using namespace std::chrono;
    const int64_t ago = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count() - startedUs;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() - ago / 1000;
}

}  // namespace zl::stations
