// What the yield report needs of one record line, from schema 1 or 2.
#pragma once

#include <cstdint>
#include <string>

#include "records/json_reader.h"

namespace zl::report {

// The causes of a failed transfer as schema 2 names them; schema-1 names are mapped onto them.
inline constexpr const char* kCauses[] = {"start-refused", "length",  "incomplete",   "device-gone",
                                          "verify-mismatch", "firmware-mismatch", "incompatible",
                                          "file-error",    "file-changed", "timeout", "interrupted"};
inline constexpr size_t kCauseCount = sizeof kCauses / sizeof kCauses[0];

struct RecordSummary {
    int schema = 0;
    int64_t timeMs = 0;          // the transfer's start, UTC
    std::string operation;       // "load", "readout", "verify"
    std::string station;         // schema 2: "station"; schema 1: "port"
    std::string host;
    bool hasUnit = false;        // false: the record is a unit of its own
    std::string unitId;
    std::string jobSha256;       // empty when the record names no job
    std::string firmware;        // what was loaded: the job's name, else file name and 12 hex digits
    bool good = false;           // result.outcome "ok"
    int cause = -1;              // a failed one: index into kCauses (-1: not known)
    double durationS = 0;
    bool hasEfficiency = false;
    double lineEfficiency = 0;
};

// Reads one record line into r (its strings keep their storage from line to line). false:
// not a record (not JSON, not an object, a schema other than 1 or 2, a field it needs is
// missing or of the wrong kind, an unknown cause).
bool ReadRecord(const std::string& line, JsonDocument& doc, RecordSummary& r);

}  // namespace zl::report
