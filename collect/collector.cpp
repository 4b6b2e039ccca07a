#include "collect/collector.h"

#include <algorithm>
#include <thread>

namespace zl::collect {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds Backoff::Next() {
    pause_ = pause_.count() == 0 ? milliseconds(1000) : std::min(pause_ * 2, milliseconds(30000));
    return pause_;
}

Collector::Collector(PgStore& store, std::vector<std::unique_ptr<Source>> sources, std::vector<bool> isFile,
                     const std::atomic<int>& interrupt, Log log)
    : store_(store), sources_(std::move(sources)), isFile_(std::move(isFile)), states_(sources_.size()),
      interrupt_(interrupt), log_(std::move(log)) {}

void Collector::SourceDown(size_t i, const std::string& error) {
    State& s = states_[i];
    if (!follow_) {
        log_(sources_[i]->Name() + ": " + error);
        return;
    }
    if (!s.down) log_(sources_[i]->Name() + ": " + error + "; trying again, with growing pauses up to 30 s");
    s.down = true;
    s.due = Clock::now() + s.backoff.Next();
}

void Collector::SourceUp(size_t i) {
    State& s = states_[i];
    if (s.down) log_(sources_[i]->Name() + ": back");
    s.down = false;
    s.backoff.Reset();
}

bool Collector::OpenDatabase() {
    std::string error;
    if (store_.Open(error)) {
        if (dbDown_) log_("the database is back");
        dbDown_ = false;
        dbBackoff_.Reset();
        for (State& s : states_) s.known = false;
        return true;
    }
    if (!dbDown_) log_("the database cannot be reached: " + error + (follow_ ? "; trying again, with growing pauses up to 30 s" : ""));
    dbDown_ = true;
    return false;
}

bool Collector::Save(size_t i, const Page& page, uint64_t& inserted, std::string& error) {
    const std::string& name = sources_[i]->Name();
    if (store_.Store(page.rows, name, page.next, inserted, error)) return true;
    if (store_.Lost()) return false;
    // The server refused the batch (a value it cannot take): store the records one by one,
    // tell of the ones it refuses, and move on past them.
    inserted = 0;
    for (const RecordRow& row : page.rows) {
        uint64_t one = 0;
        if (store_.Store({row}, name, states_[i].pos, one, error)) {
            inserted += one;
        } else {
            if (store_.Lost()) return false;
            log_(name + ": record " + row.id + " refused by the database: " + error);
        }
    }
    uint64_t none = 0;
    return store_.Store({}, name, page.next, none, error);
}

PassResult Collector::Drain(size_t i) {
    State& s = states_[i];
    std::string error;
    if (!s.known) {
        if (!store_.Position(sources_[i]->Name(), s.pos, error)) return PassResult::DatabaseDown;
        s.known = true;
    }
    uint64_t added = 0, seen = 0, skipped = 0;
    Page page;
    do {
        if (!sources_[i]->Fetch(s.pos, page, error)) {
            SourceDown(i, error);
            return isFile_[i] ? PassResult::FileUnreadable : PassResult::SourceDown;
        }
        if (page.restarted) log_(sources_[i]->Name() + ": the file was replaced; reading it from its start");
        uint64_t inserted = 0;
        if (!Save(i, page, inserted, error)) {
            if (!store_.Lost()) log_(sources_[i]->Name() + ": " + error);
            return PassResult::DatabaseDown;
        }
        s.pos = page.next;
        added += inserted;
        seen += page.rows.size();
        skipped += page.skipped;
    } while (page.more && !interrupt_.load());
    SourceUp(i);
    if (added || skipped || !follow_)
        log_(sources_[i]->Name() + ": " + std::to_string(added) + " new records, " + std::to_string(seen - added) +
             " already there" + (skipped ? ", " + std::to_string(skipped) + " lines that are not records" : ""));
    return PassResult::Ok;
}

PassResult Collector::Once() {
    follow_ = false;
    if (!OpenDatabase()) return PassResult::DatabaseDown;
    PassResult worst = PassResult::Ok;
    for (size_t i = 0; i < sources_.size() && !interrupt_.load(); ++i) {
        const PassResult r = Drain(i);
        if (r == PassResult::DatabaseDown) {
            if (store_.Lost()) log_("the database connection was lost");
            return r;
        }
        if (r == PassResult::FileUnreadable || (r == PassResult::SourceDown && worst == PassResult::Ok)) worst = r;
    }
    return worst;
}

void Collector::Wait(Clock::time_point until) const {
    while (!interrupt_.load() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(milliseconds(100), until - Clock::now()));
}

void Collector::Follow(milliseconds every) {
    follow_ = true;
    Clock::time_point dbDue{};
    while (!interrupt_.load()) {
        if (!store_.IsOpen() && Clock::now() >= dbDue && !OpenDatabase()) dbDue = Clock::now() + dbBackoff_.Next();
        Clock::time_point next = Clock::now() + every;
        if (store_.IsOpen()) {
            for (size_t i = 0; i < sources_.size() && !interrupt_.load(); ++i) {
                State& s = states_[i];
                if (Clock::now() < s.due) continue;
                const PassResult r = Drain(i);
                if (r == PassResult::DatabaseDown) {
                    if (!store_.Lost()) continue;  // refused, not lost: told; try again next round
                    OpenDatabase();  // tells of the outage when the server is gone
                    if (store_.IsOpen()) continue;
                    dbDue = Clock::now() + dbBackoff_.Next();
                    break;
                }
                if (r == PassResult::Ok) s.due = Clock::now() + every;
            }
            for (const State& s : states_) next = std::min(next, std::max(s.due, Clock::now()));
        } else {
            next = dbDue;
        }
        Wait(next);
    }
}

}  // namespace zl::collect
