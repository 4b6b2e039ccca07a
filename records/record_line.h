// The record of one load, readout or verify as one JSON line (schema version 1).
#pragma once

#include <cstdint>
#include <string>

#include "platform/transfer.h"

namespace zl {

constexpr int kRecordSchema = 1;

// What the record adds to the transfer: where and by what it ran.
struct RecordContext {
    int64_t startUtcMs = 0;      // milliseconds since 1970-01-01 UTC
    std::string host;
    std::string program;         // "bzl", "BootloaderZL"
    std::string version;         // the program's version
    std::string devicePath;      // the device behind the COM port
};

// The line, ending in '\n'.
std::string FormatRecord(const TransferRecord& r, const RecordContext& c);

// "2026-12-08T17:46:16.123Z"
std::string FormatUtc(int64_t msSinceEpoch);

}  // namespace zl
