// A transfer that has just ended, as the yield report would read its record line: the
// window's figures then count exactly what a report of the record file counts.
#pragma once

#include <cstdint>

#include "platform/transfer.h"
#include "records/record_line.h"
#include "report/record_summary.h"

namespace zl::stations {

// The summary of r with the tags it was recorded with; startUtcMs is when r started.
// False only for a record the report could not read (it then counts nowhere).
bool LiveSummary(const TransferRecord& r, const RecordTags& tags, int64_t startUtcMs, report::RecordSummary& out);

// When a transfer that started at startedUs (steady clock, microseconds) began, UTC ms.
int64_t StartUtcMs(int64_t startedUs);

}  // namespace zl::stations
