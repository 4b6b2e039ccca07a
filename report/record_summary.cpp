#include "report/record_summary.h"

#include <cstring>

#include "report/utc_time.h"

namespace zl::report {
namespace {

int CauseIndex(std::string_view name) {
    for (size_t i = 0; i < kCauseCount; ++i)
        if (name == kCauses[i]) return static_cast<int>(i);
    return -1;
}

// Schema 1 named the causes after the exchange that failed.
int SchemaOneCause(std::string_view name) {
    static const struct { const char* old; const char* now; } kMap[] = {
        {"start-refused", "start-refused"}, {"length", "length"},          {"incomplete", "incomplete"},
        {"no-data", "incomplete"},          {"no-answer", "timeout"},      {"no-report", "timeout"},
        {"device-errors", "incomplete"},    {"device-gone", "device-gone"}, {"make-timeout", "timeout"},
        {"mismatch", "verify-mismatch"},    {"incompatible", "incompatible"}, {"file", "file-error"},
        {"file-changed", "file-changed"},
    };
    for (const auto& m : kMap)
        if (name == m.old) return CauseIndex(m.now);
    return -1;
}

std::string_view BaseName(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// What was loaded: the job's name, else the file's name and the start of its SHA-256.
void Firmware(const JsonValue& root, std::string& scratch, RecordSummary& r) {
    r.firmware.clear();
    r.jobSha256.clear();
    const JsonValue job = root["job"];
    if (job.IsObject()) {
        job["sha256"].GetString(r.jobSha256);
        if (job["name"].GetString(r.firmware) && !r.firmware.empty()) return;
    }
    const JsonValue file = root["file"];
    if (!file["path"].GetString(scratch)) return;
    r.firmware.assign(BaseName(scratch));
    if (file["sha256"].GetString(scratch) && !scratch.empty()) r.firmware += " " + scratch.substr(0, 12);
}

bool Result(const JsonValue& root, std::string& scratch, RecordSummary& r) {
    const JsonValue result = root["result"];
    if (!result["outcome"].GetString(scratch)) return false;
    r.good = scratch == "ok";
    r.cause = -1;
    if (r.good) return true;
    if (!result["failure"].GetString(scratch)) return false;
    r.cause = r.schema == 1 ? SchemaOneCause(scratch) : CauseIndex(scratch);
    return r.cause >= 0;
}

}  // namespace

bool ReadRecord(const std::string& line, JsonDocument& doc, RecordSummary& r) {
    if (!doc.Parse(line)) return false;
    const JsonValue root = doc.Root();
    const JsonValue schema = root["schema"];
    if (!schema.IsNumber() || (schema.Number() != 1 && schema.Number() != 2)) return false;
    r.schema = static_cast<int>(schema.Number());
    thread_local std::string scratch;
    if (!root["time"].GetString(scratch) || !ParseRecordTime(scratch, r.timeMs)) return false;
    if (!root["operation"].GetString(r.operation) || !root["host"].GetString(r.host)) return false;
    if (!root[r.schema == 1 ? "port" : "station"].GetString(r.station)) return false;
    if (!Result(root, scratch, r)) return false;
    const JsonValue unit = root["unit_id"];
    if (unit.Exists() && !unit.IsString() && !unit.IsNull()) return false;
    r.hasUnit = unit.GetString(r.unitId) && !r.unitId.empty();
    const JsonValue duration = root["duration_s"];
    if (r.operation == "load" && !duration.IsNumber()) return false;
    r.durationS = duration.Number();
    const JsonValue efficiency = root["line_efficiency"];
    r.hasEfficiency = efficiency.IsNumber();
    r.lineEfficiency = efficiency.Number();
    Firmware(root, scratch, r);
    return true;
}

}  // namespace zl::report
