#include "report/yield_tally.h"

#include <algorithm>
#include <cmath>

namespace zl::report {

std::optional<double> Median(std::vector<double>& v) {
    if (v.empty()) return std::nullopt;
    const size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2) return upper;
    const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

std::optional<double> Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return std::nullopt;
    size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size()) - 1e-9));
    rank = std::clamp<size_t>(rank, 1, v.size());
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(rank - 1), v.end());
    return v[rank - 1];
}

void YieldTally::Add(const RecordSummary& r) {
    if (!f_.any || r.timeMs < f_.fromMs) f_.fromMs = r.timeMs;
    if (!f_.any || r.timeMs > f_.toMs) f_.toMs = r.timeMs;
    f_.any = true;
    if (r.operation != "load") return;
    ++f_.attempts;
    if (r.good) {
        ++f_.good;
        durations_.push_back(r.durationS);
        if (r.hasEfficiency) efficiencies_.push_back(r.lineEfficiency);
        goodTimes_.push_back(r.timeMs);
    } else {
        ++f_.failed;
        if (r.cause >= 0 && static_cast<size_t>(r.cause) < kCauseCount) ++f_.byCause[static_cast<size_t>(r.cause)];
    }
    if (!r.hasUnit) {
        ++loneUnits_;
        loneGood_ += r.good;
        return;
    }
    bool added = false;
    const uint32_t index = unitIds_.Find(r.unitId, added);
    if (added) units_.push_back(Unit{r.timeMs, r.good, 0});
    Unit& u = units_[index];
    if (++u.loads == 2) ++f_.retestedUnits;
    if (!added && r.timeMs < u.firstMs) {
        // Files may come in any order: the unit's first load is the earliest.
        if (u.firstGood) --f_.firstPassGood;
        u.firstMs = r.timeMs;
        u.firstGood = r.good;
        if (u.firstGood) ++f_.firstPassGood;
    } else if (added && r.good) {
        ++f_.firstPassGood;
    }
}

YieldFigures YieldTally::Figures() const {
    YieldFigures f = f_;
    f.units = units_.size() + loneUnits_;
    f.firstPassGood += loneGood_;
    if (f.units) f.firstPassYield = static_cast<double>(f.firstPassGood) / static_cast<double>(f.units);
    if (f.any && f.toMs - f.fromMs >= kShortestPeriodMs)
        f.perHour = static_cast<double>(f.good) * 3600000.0 / static_cast<double>(f.toMs - f.fromMs);
    std::vector<double> durations = durations_, efficiencies = efficiencies_;
    f.loadMedianS = Median(durations);
    f.loadP95S = Percentile(durations, 0.95);
    f.lineEfficiencyMedian = Median(efficiencies);
    return f;
}

uint64_t YieldTally::GoodSince(int64_t ms) const {
    return static_cast<uint64_t>(std::count_if(goodTimes_.begin(), goodTimes_.end(), [ms](int64_t t) { return t >= ms; }));
}

}  // namespace zl::report
