// The record of one load, readout or verify as one JSON line (schema version 2; the
// fields of version 1 are kept, firmware_before/after as parsed objects beside the panel texts).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/transfer.h"

namespace zl {

constexpr int kRecordSchema = 2;

// What the front end adds to a record: the unit and the job it belongs to.
struct RecordTags {
    std::string unitId;          // empty: none (null)
    std::string jobName;         // empty jobSha256: no job (null)
    std::string jobSha256;       // of the job file itself
};

// What the record adds to the transfer: where and by what it ran.
struct RecordContext {
    int64_t startUtcMs = 0;      // milliseconds since 1970-01-01 UTC
    std::string host;
    std::string program;         // "bzl", "BootloaderZL"
    std::string version;         // the program's version
    std::string devicePath;      // the device behind the COM port
    std::string id;              // unique and time-ordered (UUID version 7)
    RecordTags tags;
};

// The blocks a verify marked as different, sorted and joined into runs of neighbours
// (first, last); the device marks one per 512-byte block.
std::vector<std::pair<uint32_t, uint32_t>> MismatchRanges(std::vector<uint32_t> blocks);

// The line, ending in '\n'.
std::string FormatRecord(const TransferRecord& r, const RecordContext& c);

// The failure as schema 2 names it (result.failure): one of a fixed set of causes;
// empty for Cause::None.
const char* FailureName(Cause cause);

// "2026-12-08T17:46:16.123Z"
std::string FormatUtc(int64_t msSinceEpoch);

}  // namespace zl
