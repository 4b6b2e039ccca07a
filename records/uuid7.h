// Unique, time-ordered record IDs (UUID version 7): 48 bits of Unix milliseconds, then
// a counter that keeps IDs of the same millisecond in order, then random bits.
#pragma once

#include <cstdint>
#include <string>

namespace zl {

// "0193a5c2-7b4e-7c3d-9a1b-2f3e4d5c6b7a". Callable from any thread; IDs made in one
// process never repeat and sort in the order they were made.
std::string NewUuid7(int64_t unixMs);

}  // namespace zl
