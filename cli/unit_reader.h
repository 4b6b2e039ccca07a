// Unit IDs typed (or scanned: a barcode scanner types the label and Enter) on standard
// input, one per line, read on a thread of their own so that waiting for one never
// holds the station's events or Ctrl-C.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace zl::cli {

class UnitReader {
public:
    // Starts reading standard input. The reading thread is left to the process's end
    // (a read of a terminal cannot be called off).
    UnitReader();
    // The next line (trimmed; empty: an empty line or the end of input), waiting at
    // most timeout; none when none came in that time.
    std::optional<std::string> Next(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::string> lines_;
    bool ended_ = false;
};

}  // namespace zl::cli
