#include "cli/unit_reader.h"

#include <iostream>
#include <thread>

#include "protocol/firmware_id.h"

namespace zl::cli {

UnitReader::UnitReader() {
    std::thread([this] {
        std::string line;
        while (std::getline(std::cin, line)) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(Trimmed(line));
            arrived_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        arrived_.notify_all();
    }).detach();
}

std::optional<std::string> UnitReader::Next(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, timeout, [this] { return !lines_.empty() || ended_; });
    if (!lines_.empty()) {
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        return line;
    }
    if (ended_) return std::string();
    return std::nullopt;
}

}  // namespace zl::cli
