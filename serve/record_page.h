// Pages of a record file for /api/v1/records: the records written after a given one,
// in the order they were written (the file's order), as the lines they are.
#pragma once

#include <cstddef>
#include <string>

namespace zl::serve {

inline constexpr size_t kDefaultRecordLimit = 1000;
inline constexpr size_t kMaxRecordLimit = 1000;
// A page ends early rather than grow past this; the client asks again after its last ID.
inline constexpr size_t kMaxPageBytes = 8u << 20;

struct RecordPage {
    bool afterFound = true;  // false: no record of the file has the ID given as after
    size_t count = 0;
    std::string body;        // NDJSON: one record per line
    std::string error;       // the file could not be read (a missing file is no error: no records)
};

// Whether id has the form of a record ID (8-4-4-4-12 hex digits).
bool LooksLikeRecordId(const std::string& id);

// The records of the file after the one with the ID after (empty: from the first), at most
// limit. A line that is no JSON object with a string "id" (schema 1, a torn line) is
// skipped, and so is a last line not yet ended by a line break.
RecordPage ReadRecordPage(const std::string& path, const std::string& after, size_t limit);

}  // namespace zl::serve
