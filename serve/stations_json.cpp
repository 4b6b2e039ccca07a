#include "serve/stations_json.h"

#include "records/json.h"
#include "records/record_line.h"

namespace zl::serve {
namespace {

std::string ProgressJson(const StationView& v) {
    if (!v.hasProgress) return "null";
    JsonObject p;
    p.Str("operation", v.operation).Str("phase", v.phase).Int("done", static_cast<int64_t>(v.done));
    if (v.total >= 0) p.Int("total", v.total);
    else p.Null("total");
    return p.Text();
}

std::string VerdictJson(const std::optional<Verdict>& last) {
    if (!last) return "null";
    JsonObject o;
    o.Str("operation", last->operation).Str("outcome", last->outcome);
    if (last->cause.empty()) o.Null("cause");
    else o.Str("cause", last->cause);
    if (last->unitId.empty()) o.Null("unit_id");
    else o.Str("unit_id", last->unitId);
    o.Real("seconds", last->seconds, 3).Str("ended", FormatUtc(last->endedUtcMs));
    return o.Text();
}

std::string StationJson(const StationView& v) {
    JsonObject counters;
    counters.Int("good", static_cast<int64_t>(v.good)).Int("failed", static_cast<int64_t>(v.failed));
    JsonObject o;
    o.Str("station", v.station)
        .Str("port", v.port)
        .Str("state", StateName(v.state))
        .Str("status", v.status)
        .Raw("progress", ProgressJson(v))
        .Raw("counters", counters.Text())
        .Raw("last_verdict", VerdictJson(v.last));
    if (v.lineEfficiency) o.Real("line_efficiency", *v.lineEfficiency, 4);
    else o.Null("line_efficiency");
    return o.Text();
}

}  // namespace

std::string StationsJson(const BoardSnapshot& s) {
    std::string stations = "[";
    for (const StationView& v : s.stations) {
        if (stations.size() > 1) stations += ',';
        stations += StationJson(v);
    }
    stations += ']';
    JsonObject totals;
    totals.Int("good", static_cast<int64_t>(s.good))
        .Int("failed", static_cast<int64_t>(s.failed))
        .Int("units", static_cast<int64_t>(s.units))
        .Int("first_pass_good", static_cast<int64_t>(s.firstPassGood));
    if (s.firstPassYield) totals.Real("first_pass_yield", *s.firstPassYield, 4);
    else totals.Null("first_pass_yield");
    JsonObject o;
    o.Str("program", s.program).Str("version", s.version).Raw("stations", stations).Raw("totals", totals.Text());
    return o.Text() + "\n";
}

}  // namespace zl::serve
