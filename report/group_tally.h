// The loads of a yield report grouped by one field: per group good, failed, yield, median
// load time and median line efficiency. Grouped by station, a station whose median line
// efficiency is below 90 % of the best station's is marked as a slow line (a weak adapter
// or cable).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/key_index.h"
#include "report/record_summary.h"

namespace zl::report {

enum class GroupBy { Station, Host, Firmware, Cause, Hour, UnitId };

// "station", "host", "firmware", "cause", "hour", "unit_id"
const char* GroupByName(GroupBy by);
bool ParseGroupBy(const std::string& name, GroupBy& by);

constexpr double kSlowLineShare = 0.9;

struct GroupRow {
    std::string key;             // empty: the records had none (no unit ID, no file)
    uint64_t good = 0, failed = 0;
    std::optional<double> yield;                 // good / (good + failed)
    std::optional<double> loadMedianS;           // of good loads
    std::optional<double> lineEfficiencyMedian;  // of good loads
    bool slowLine = false;
};

class GroupTally {
public:
    explicit GroupTally(GroupBy by) : by_(by) {}
    GroupBy By() const { return by_; }
    void Add(const RecordSummary& r);
    // The rows in the order of their keys (hours in time order).
    std::vector<GroupRow> Rows() const;

private:
    struct Counts {
        uint64_t good = 0, failed = 0;
    };
    // A good load's figures; kept apart from the groups so that a million groups of one
    // load each cost little.
    struct Sample {
        uint32_t group;
        bool hasEfficiency;
        double durationS;
        double lineEfficiency;
    };
    const std::string& Key(const RecordSummary& r);

    GroupBy by_;
    std::string key_;
    KeyIndex keys_;
    std::vector<Counts> counts_;
    std::vector<Sample> samples_;
};

}  // namespace zl::report
