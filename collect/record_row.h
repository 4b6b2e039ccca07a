// One record line as a row of the database: the columns the report and queries need, and
// the line itself for the jsonb column.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "records/json_reader.h"
#include "report/record_summary.h"

namespace zl::collect {

struct RecordRow {
    std::string id;              // the record's id, or one derived from the line (schema 1)
    report::RecordSummary summary;
    std::string program;         // empty: none
    std::string outcome;         // result.outcome
    std::string fileSha256;      // empty: none
    bool hasDuration = false;
    std::string json;            // the line, fit for jsonb
};

// A UUID-shaped name of a line that has no id: the first 16 bytes of the SHA-256 of the
// line (trailing blanks and CR cut off), marked as UUID version 8 with the RFC 4122 variant.
// The same line always gets the same id, so importing a file again adds nothing.
std::string DerivedId(std::string_view line);

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in hex digits (either case).
bool IsUuid(std::string_view text);

// The line as jsonb takes it: the escape \u0000, which jsonb refuses, becomes \ufffd.
std::string JsonbText(std::string_view line);

// Reads one line into row; false when it is not a record the report counts
// (report::ReadRecord's rules).
bool ReadRow(const std::string& line, JsonDocument& doc, RecordRow& row);

}  // namespace zl::collect
