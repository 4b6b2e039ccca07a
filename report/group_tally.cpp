#include "report/group_tally.h"

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

void GroupTally::Key(const RecordSummary& r) {
    switch (by_) {
        case GroupBy::Station: key_ = r.station; break;
        case GroupBy::Host: key_ = r.host; break;
        case GroupBy::Firmware: key_ = r.firmware; break;
        case GroupBy::Cause: key_ = r.good ? "ok" : kCauses[r.cause]; break;
        case GroupBy::Hour: key_ = FormatUtc(r.timeMs).substr(0, 13); break;
        case GroupBy::UnitId: key_ = r.hasUnit ? r.unitId : std::string(); break;
    }
}

void GroupTally::Add(const RecordSummary& r) {
    if (r.operation != "load") return;
    Key(r);
    auto it = groups_.find(key_);
    if (it == groups_.end()) it = groups_.emplace(key_, Group{}).first;
    Group& g = it->second;
    if (!r.good) {
        ++g.failed;
        return;
    }
    ++g.good;
    g.durations.push_back(r.durationS);
    if (r.hasEfficiency) g.efficiencies.push_back(r.lineEfficiency);
}

std::vector<GroupRow> GroupTally::Rows() const {
    std::vector<GroupRow> rows;
    double best = 0;
    for (const auto& [key, g] : groups_) {
        GroupRow row;
        row.key = key;
        row.good = g.good;
        row.failed = g.failed;
        row.yield = static_cast<double>(g.good) / static_cast<double>(g.good + g.failed);
        std::vector<double> durations = g.durations, efficiencies = g.efficiencies;
        row.loadMedianS = Median(durations);
        row.lineEfficiencyMedian = Median(efficiencies);
        if (row.lineEfficiencyMedian && *row.lineEfficiencyMedian > best) best = *row.lineEfficiencyMedian;
        rows.push_back(std::move(row));
    }
    if (by_ == GroupBy::Station)
        for (GroupRow& row : rows)
            row.slowLine = row.lineEfficiencyMedian && *row.lineEfficiencyMedian < kSlowLineShare * best;
    return rows;
}

}  // namespace zl::report
