#include "serve/metrics_text.h"

#include <charconv>
#include <cmath>

namespace zl::serve {
namespace {

std::string Number(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

struct Labels {
    std::string text;
    Labels& Add(const char* name, const std::string& value) {
        text += text.empty() ? "{" : ",";
        text += name;
        text += "=\"" + EscapeLabel(value) + "\"";
        return *this;
    }
    std::string Close() const { return text.empty() ? "" : text + "}"; }
};

void Head(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void Sample(std::string& out, const std::string& name, const Labels& labels, const std::string& value) {
    out += name + labels.Close() + ' ' + value + '\n';
}

void Transfers(std::string& out, const BoardSnapshot& s) {
    Head(out, "zl_transfers_total", "counter", "Transfers that ended, by station, operation, outcome and cause.");
    for (const auto& [key, count] : s.transfers)
        Sample(out, "zl_transfers_total",
               Labels().Add("station", key[0]).Add("operation", key[1]).Add("outcome", key[2]).Add("cause", key[3]),
               std::to_string(count));
}

void Seconds(std::string& out, const BoardSnapshot& s) {
    Head(out, "zl_transfer_seconds", "histogram", "Duration of the transfers that reached a device.");
    for (const auto& [operation, h] : s.seconds) {
        uint64_t cumulative = 0;
        for (size_t b = 0; b < kBucketCount; ++b) {
            cumulative += h.buckets[b];
            Sample(out, "zl_transfer_seconds_bucket", Labels().Add("operation", operation).Add("le", Number(kSecondsBuckets[b])),
                   std::to_string(cumulative));
        }
        Sample(out, "zl_transfer_seconds_bucket", Labels().Add("operation", operation).Add("le", "+Inf"), std::to_string(h.count));
        Sample(out, "zl_transfer_seconds_sum", Labels().Add("operation", operation), Number(h.sum));
        Sample(out, "zl_transfer_seconds_count", Labels().Add("operation", operation), std::to_string(h.count));
    }
}

void Stations(std::string& out, const BoardSnapshot& s) {
    Head(out, "zl_station_state", "gauge", "1 for the state each station is in, 0 for the others.");
    for (const StationView& v : s.stations)
        for (StationState state : kStates)
            Sample(out, "zl_station_state", Labels().Add("station", v.station).Add("state", StateName(state)),
                   v.state == state ? "1" : "0");
    Head(out, "zl_line_efficiency", "gauge", "The last transfer's bytes per second over the line's rate.");
    for (const StationView& v : s.stations)
        if (v.lineEfficiency) Sample(out, "zl_line_efficiency", Labels().Add("station", v.station), Number(*v.lineEfficiency));
}

}  // namespace

std::string EscapeLabel(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string MetricsText(const BoardSnapshot& s) {
    std::string out;
    Transfers(out, s);
    Seconds(out, s);
    Stations(out, s);
    Head(out, "zl_units_first_pass_yield", "gauge", "Units of this run whose first load was good, over all units loaded.");
    if (s.firstPassYield) Sample(out, "zl_units_first_pass_yield", Labels(), Number(*s.firstPassYield));
    Head(out, "zl_build_info", "gauge", "The program, its version and the job's SHA-256 (empty without a job).");
    Sample(out, "zl_build_info", Labels().Add("program", s.program).Add("version", s.version).Add("job_sha256", s.jobSha256), "1");
    return out;
}

}  // namespace zl::serve
