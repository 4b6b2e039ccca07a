// UTC times as records write them ("2026-12-09T19:30:00.123Z"), in milliseconds since
// 1970-01-01T00:00:00Z.
#pragma once

#include <cstdint>
#include <string_view>

namespace zl::report {

// A record's time: YYYY-MM-DDTHH:MM:SS, an optional fraction of 1 to 9 digits, then Z.
bool ParseRecordTime(std::string_view text, int64_t& ms);

// A time a user gives: a record's time, or shortened: "2026-12-09", "2026-12-09T08:00",
// "2026-12-09T08:00:00", each with or without the Z (the time is UTC either way).
bool ParseUserTime(std::string_view text, int64_t& ms);

}  // namespace zl::report
