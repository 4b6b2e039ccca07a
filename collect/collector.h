// Moves records from their sources into the database: one pass over every source, or
// (follow) a poll of each source every few seconds for as long as the process runs. A source
// or a database that is down is tried again after a growing pause and told once per outage;
// a source's position moves only in the transaction that stores its records, so nothing is
// lost and nothing is stored twice.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collect/pg_store.h"
#include "collect/source.h"

namespace zl::collect {

// The pause before the next try of something that is down: 1 s, doubling, at most 30 s.
class Backoff {
public:
    std::chrono::milliseconds Next();
    void Reset() { pause_ = std::chrono::milliseconds(0); }

private:
    std::chrono::milliseconds pause_{0};
};

enum class PassResult { Ok, DatabaseDown, SourceDown, FileUnreadable };

class Collector {
public:
    using Log = std::function<void(const std::string&)>;
    Collector(PgStore& store, std::vector<std::unique_ptr<Source>> sources, std::vector<bool> isFile,
              const std::atomic<int>& interrupt, Log log);

    // Every source once, to its end; the worst that happened.
    PassResult Once();
    // Polls every source each `every` until an interrupt.
    void Follow(std::chrono::milliseconds every);

private:
    struct State {
        SourcePosition pos;
        bool known = false;   // pos read from the database since it was (re)opened
        bool down = false;
        Backoff backoff;
        std::chrono::steady_clock::time_point due{};
    };
    // Reads one source to its end; false when it or the database failed (told as the
    // outage's start when follow).
    PassResult Drain(size_t i);
    bool Save(size_t i, const Page& page, uint64_t& inserted, std::string& error);
    void SourceDown(size_t i, const std::string& error);
    void SourceUp(size_t i);
    bool OpenDatabase();
    void Wait(std::chrono::steady_clock::time_point until) const;

    PgStore& store_;
    std::vector<std::unique_ptr<Source>> sources_;
    std::vector<bool> isFile_;
    std::vector<State> states_;
    const std::atomic<int>& interrupt_;
    Log log_;
    bool follow_ = false;
    bool dbDown_ = false;
    Backoff dbBackoff_;
};

}  // namespace zl::collect
