#include "report/group_tally.h"

#include <algorithm>

#include "records/record_line.h"
#include "report/yield_tally.h"

namespace zl::report {

const char* GroupByName(GroupBy by) {
    switch (by) {
        case GroupBy::Station: return "station";
        case GroupBy::Host: return "host";
        case GroupBy::Firmware: return "firmware";
        case GroupBy::Cause: return "cause";
        case GroupBy::Hour: return "hour";
        case GroupBy::UnitId: return "unit_id";
    }
    return "";
}

bool ParseGroupBy(const std::string& name, GroupBy& by) {
    for (GroupBy b : {GroupBy::Station, GroupBy::Host, GroupBy::Firmware, GroupBy::Cause, GroupBy::Hour, GroupBy::UnitId})
        if (name == GroupByName(b)) return by = b, true;
    return false;
}

const std::string& GroupTally::Key(const RecordSummary& r) {
    switch (by_) {
        case GroupBy::Station: return r.station;
        case GroupBy::Host: return r.host;
        case GroupBy::Firmware: return r.firmware;
        case GroupBy::Cause:
            key_ = r.good ? "ok" : r.cause >= 0 && static_cast<size_t>(r.cause) < kCauseCount ? kCauses[r.cause] : "";
            break;
        case GroupBy::Hour: key_ = FormatUtc(r.timeMs).substr(0, 13); break;
        case GroupBy::UnitId: if (r.hasUnit) return r.unitId; key_.clear(); break;
    }
    return key_;
}

void GroupTally::Add(const RecordSummary& r) {
    if (r.operation != "load") return;
    bool added = false;
    const uint32_t group = keys_.Find(Key(r), added);
    if (added) counts_.emplace_back();
    if (!r.good) {
        ++counts_[group].failed;
        return;
    }
    ++counts_[group].good;
    samples_.push_back(Sample{group, r.hasEfficiency, r.durationS, r.lineEfficiency});
}

std::vector<GroupRow> GroupTally::Rows() const {
    // The samples in the order of their groups (a counting sort), then each group's medians.
    std::vector<size_t> begin(counts_.size() + 1, 0);
    for (const Sample& s : samples_) ++begin[s.group + 1];
    for (size_t g = 0; g < counts_.size(); ++g) begin[g + 1] += begin[g];
    std::vector<size_t> fill(begin.begin(), begin.end() - 1);
    std::vector<const Sample*> ordered(samples_.size());
    for (const Sample& s : samples_) ordered[fill[s.group]++] = &s;

    std::vector<GroupRow> rows(counts_.size());
    std::vector<double> durations, efficiencies;
    double best = 0;
    for (uint32_t g = 0; g < counts_.size(); ++g) {
        GroupRow& row = rows[g];
        row.key = keys_.Key(g);
        row.good = counts_[g].good;
        row.failed = counts_[g].failed;
        row.yield = static_cast<double>(row.good) / static_cast<double>(row.good + row.failed);
        durations.clear();
        efficiencies.clear();
        for (size_t i = begin[g]; i < begin[g + 1]; ++i) {
            durations.push_back(ordered[i]->durationS);
            if (ordered[i]->hasEfficiency) efficiencies.push_back(ordered[i]->lineEfficiency);
        }
        row.loadMedianS = Median(durations);
        row.lineEfficiencyMedian = Median(efficiencies);
        if (row.lineEfficiencyMedian && *row.lineEfficiencyMedian > best) best = *row.lineEfficiencyMedian;
    }
    if (by_ == GroupBy::Station)
        for (GroupRow& row : rows)
            row.slowLine = row.lineEfficiencyMedian && *row.lineEfficiencyMedian < kSlowLineShare * best;
    std::sort(rows.begin(), rows.end(), [](const GroupRow& a, const GroupRow& b) { return a.key < b.key; });
    return rows;
}

}  // namespace zl::report
