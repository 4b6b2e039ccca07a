// The production line's yield, record by record: a report reads a whole file into it,
// a window can feed it each record as it is written and ask for the figures at any time.
// Only loads count for the yield; every record counts for the period.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/key_index.h"
#include "report/record_summary.h"

namespace zl::report {

struct YieldFigures {
    bool any = false;                   // any record at all (else from and to mean nothing)
    int64_t fromMs = 0, toMs = 0;       // the first and the last record's time
    uint64_t attempts = 0, good = 0, failed = 0;   // loads
    uint64_t units = 0;                 // a load without a unit ID is a unit of its own
    uint64_t firstPassGood = 0;         // units whose first load was good
    uint64_t retestedUnits = 0;         // units with more than one load
    std::optional<double> firstPassYield;         // firstPassGood / units
    std::optional<double> perHour;                // good loads per hour from `from` to `to`
    std::optional<double> loadMedianS, loadP95S;  // duration of good loads
    std::optional<double> lineEfficiencyMedian;   // of good loads
    std::array<uint64_t, kCauseCount> byCause{};  // failed loads by cause (kCauses)
};

// A period shorter than this gives no rate per hour (one record has no period at all).
constexpr int64_t kShortestPeriodMs = 60 * 1000;

class YieldTally {
public:
    void Add(const RecordSummary& r);
    YieldFigures Figures() const;
    // Good loads that started at or after ms ("devices in the last hour").
    uint64_t GoodSince(int64_t ms) const;

private:
    struct Unit {
        int64_t firstMs;
        bool firstGood;
        uint32_t loads;
    };
    YieldFigures f_;
    KeyIndex unitIds_;
    std::vector<Unit> units_;  // by the number unitIds_ gives
    uint64_t loneUnits_ = 0, loneGood_ = 0;  // loads without a unit ID
    std::vector<double> durations_, efficiencies_;
    std::vector<int64_t> goodTimes_;
};

// The median (the mean of the middle two of an even count) and the nearest-rank
// percentile (the smallest value that at least p of the values do not exceed); nothing
// of no values. The values are reordered.
std::optional<double> Median(std::vector<double>& values);
std::optional<double> Percentile(std::vector<double>& values, double p);

}  // namespace zl::report
