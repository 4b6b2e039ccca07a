// The SQL texts of the records database: its tables and the insert of a batch of rows.
#pragma once

#include <cstddef>
#include <string>

namespace zl::collect {

// The columns of zl_records in the order the insert binds them.
inline constexpr const char* kRecordColumns[] = {
    "id", "time", "host", "program", "station", "unit_id", "job_sha256", "operation", "outcome",
    "cause", "duration_s", "file_sha256", "firmware", "line_efficiency", "schema", "record"};
inline constexpr size_t kRecordColumnCount = sizeof kRecordColumns / sizeof kRecordColumns[0];

// Creates the tables and the index when they are missing.
const char* SchemaSql();

// INSERT of `rows` rows ($1.. in column order) that skips the ids already there.
std::string InsertSql(size_t rows);

// Sets a source's position ($1 source, $2 last id or NULL, $3 byte offset, $4 file mark or NULL).
const char* PositionSql();

}  // namespace zl::collect
