#include "cli/report_output.h"

#include <algorithm>
#include <cstdio>

#include "cli/output.h"
#include "records/json.h"
#include "records/record_line.h"

namespace zl::cli {
namespace {

using report::GroupBy;
using report::GroupRow;
using report::YieldFigures;

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string Percent(const std::optional<double>& v) { return v ? Fixed(*v * 100, 1) + " %" : "--"; }
std::string Seconds(const std::optional<double>& v) { return v ? Fixed(*v, 1) + " s" : "--"; }

size_t Characters(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string PadRight(const std::string& s, size_t width) {
    const size_t n = Characters(s);
    return n >= width ? s : s + std::string(width - n, ' ');
}

std::string PadLeft(const std::string& s, size_t width) {
    const size_t n = Characters(s);
    return n >= width ? s : std::string(width - n, ' ') + s;
}

// The texts of the readable report.
struct Words {
    const char* period; const char* to; const char* none; const char* loads; const char* attempts;
    const char* good; const char* failed; const char* firstPass; const char* of; const char* unitsGood;
    const char* retested; const char* perHour; const char* shortPeriod; const char* loadTime;
    const char* median; const char* p95; const char* efficiency; const char* causes; const char* noFailures;
    const char* by; const char* yield; const char* medianTime; const char* skipped; const char* notRecords;
    const char* noKey; const char* noRecords;
};

const Words kGerman = {
    "Zeitraum:", "bis", "keine Datens\u00e4tze", "Ladevorg\u00e4nge:", "Versuche", "gut", "fehlgeschlagen",
    "Erstdurchlauf-Ausbeute:", "von", "Ger\u00e4ten beim ersten Laden gut", "Nachgetestete Ger\u00e4te:",
    "Ger\u00e4te pro Stunde:", "(Zeitraum unter einer Minute)", "Ladezeit:", "Median", "95. Perzentil",
    "Leitungsausnutzung:", "Fehler nach Ursache:", "  keine", "Nach", "Ausbeute", "Median-Zeit",
    "\u00dcbersprungene Zeilen:", "(keine Datens\u00e4tze)", "(keine)", "Keine Datens\u00e4tze.",
};

const Words kEnglish = {
    "Period:", "to", "no records", "Loads:", "attempts", "good", "failed", "First-pass yield:", "of",
    "units good at their first load", "Retested units:", "Devices per hour:", "(period under a minute)",
    "Load time:", "median", "95th percentile", "Line efficiency:", "Failures by cause:", "  none", "By",
    "yield", "median time", "Skipped lines:", "(not records)", "(none)", "No records.",
};

const char* KeyTitle(GroupBy by, bool english) {
    switch (by) {
        case GroupBy::Station: return english ? "station" : "Station";
        case GroupBy::Host: return english ? "host" : "Rechner";
        case GroupBy::Firmware: return english ? "firmware" : "Firmware";
        case GroupBy::Cause: return english ? "cause" : "Ursache";
        case GroupBy::Hour: return english ? "hour (UTC)" : "Stunde (UTC)";
        case GroupBy::UnitId: return english ? "unit ID" : "Ger\u00e4te-ID";
    }
    return "";
}

std::string Field(const std::string& label, const std::string& value) { return PadRight(label, 24) + value + "\n"; }

std::string Causes(const YieldFigures& f, const Words& w) {
    std::vector<size_t> order;
    for (size_t i = 0; i < report::kCauseCount; ++i)
        if (f.byCause[i]) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return f.byCause[a] > f.byCause[b]; });
    std::string text = std::string(w.causes) + "\n";
    if (order.empty()) return text + w.noFailures + "\n";
    for (size_t i : order)
        text += "  " + PadRight(report::kCauses[i], 20) + PadLeft(std::to_string(f.byCause[i]), 8) +
                PadLeft(Percent(static_cast<double>(f.byCause[i]) / static_cast<double>(f.failed)), 10) + "\n";
    return text;
}

std::string Table(const ReportResult& r, const Words& w, bool english) {
    const std::string keyTitle = KeyTitle(r.by, english);
    size_t keyWidth = Characters(keyTitle);
    std::vector<std::string> keys;
    for (const GroupRow& row : r.rows) {
        keys.push_back(row.key.empty() ? std::string(w.noKey) : Printable(row.key));
        keyWidth = std::max(keyWidth, Characters(keys.back()));
    }
    const std::string efficiency = english ? "line efficiency" : "Leitungsausnutzung";
    const size_t failedWidth = Characters(w.failed) + 2, effWidth = Characters(efficiency);
    std::string text = std::string(w.by) + " " + keyTitle + ":\n";
    text += "  " + PadRight(keyTitle, keyWidth) + PadLeft(w.good, 6) + PadLeft(w.failed, failedWidth) +
            PadLeft(w.yield, 10) + PadLeft(w.medianTime, 13) + "  " + efficiency + "\n";
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const GroupRow& row = r.rows[i];
        text += "  " + PadRight(keys[i], keyWidth) + PadLeft(std::to_string(row.good), 6) +
                PadLeft(std::to_string(row.failed), failedWidth) + PadLeft(Percent(row.yield), 10) +
                PadLeft(Seconds(row.loadMedianS), 13) + "  " + PadLeft(Percent(row.lineEfficiencyMedian), effWidth) +
                (row.slowLine ? "  slow-line" : "") + "\n";
    }
    return text;
}

void Optional(JsonObject& o, const char* key, const std::optional<double>& v, int decimals) {
    if (v) o.Real(key, *v, decimals);
    else o.Null(key);
}

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string CsvNumber(const std::optional<double>& v, int decimals) { return v ? Fixed(*v, decimals) : ""; }

}  // namespace

std::string ReportText(const ReportResult& r, bool english) {
    const Words& w = english ? kEnglish : kGerman;
    const YieldFigures& f = r.figures;
    std::string text;
    if (f.any)
        text += Field(w.period, FormatUtc(f.fromMs) + " " + w.to + " " + FormatUtc(f.toMs));
    else
        text += Field(w.period, w.none);
    text += Field(w.loads, std::to_string(f.attempts) + " " + w.attempts + ", " + std::to_string(f.good) + " " + w.good +
                               ", " + std::to_string(f.failed) + " " + w.failed);
    text += Field(w.firstPass, Percent(f.firstPassYield) + " (" + std::to_string(f.firstPassGood) + " " + w.of + " " +
                                   std::to_string(f.units) + " " + w.unitsGood + ")");
    text += Field(w.retested, std::to_string(f.retestedUnits));
    text += Field(w.perHour, f.perHour ? Fixed(*f.perHour, 1) : std::string("-- ") + w.shortPeriod);
    text += Field(w.loadTime, std::string(w.median) + " " + Seconds(f.loadMedianS) + ", " + w.p95 + " " + Seconds(f.loadP95S));
    text += Field(w.efficiency, std::string(w.median) + " " + Percent(f.lineEfficiencyMedian));
    text += Causes(f, w);
    if (!r.rows.empty()) text += Table(r, w, english);
    if (r.skippedLines) text += Field(w.skipped, std::to_string(r.skippedLines) + " " + w.notRecords);
    return text;
}

std::string ReportJson(const ReportResult& r) {
    const YieldFigures& f = r.figures;
    JsonObject o;
    if (f.any) o.Str("from", FormatUtc(f.fromMs)).Str("to", FormatUtc(f.toMs));
    else o.Null("from").Null("to");
    o.Int("attempts", static_cast<int64_t>(f.attempts)).Int("good", static_cast<int64_t>(f.good));
    o.Int("failed", static_cast<int64_t>(f.failed)).Int("units", static_cast<int64_t>(f.units));
    Optional(o, "first_pass_yield", f.firstPassYield, 4);
    o.Int("retested_units", static_cast<int64_t>(f.retestedUnits));
    Optional(o, "per_hour", f.perHour, 2);
    JsonObject load;
    Optional(load, "median", f.loadMedianS, 3);
    Optional(load, "p95", f.loadP95S, 3);
    o.Raw("load_s", load.Text());
    Optional(o, "line_efficiency_median", f.lineEfficiencyMedian, 4);
    JsonObject causes;
    for (size_t i = 0; i < report::kCauseCount; ++i)
        if (f.byCause[i]) causes.Int(report::kCauses[i], static_cast<int64_t>(f.byCause[i]));
    o.Raw("by_cause", causes.Text());
    // The rows go straight into the text: there may be a million of them (--by unit_id).
    std::string text = o.Text();
    text.pop_back();
    text += ",\"by\":{\"key\":" + JsonQuote(std::string(report::GroupByName(r.by))) + ",\"rows\":[";
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const GroupRow& row = r.rows[i];
        JsonObject j;
        if (row.key.empty()) j.Null("key");
        else j.Str("key", row.key);
        j.Int("good", static_cast<int64_t>(row.good)).Int("failed", static_cast<int64_t>(row.failed));
        Optional(j, "yield", row.yield, 4);
        Optional(j, "load_s_median", row.loadMedianS, 3);
        Optional(j, "line_efficiency_median", row.lineEfficiencyMedian, 4);
        if (r.by == GroupBy::Station) j.Bool("slow_line", row.slowLine);
        if (i) text += ",";
        text += j.Text();
    }
    text += "]},\"skipped_lines\":" + std::to_string(r.skippedLines) + "}\n";
    return text;
}

// Lines end in "\n" as every text of bzl: Windows' standard output makes it CRLF.
std::string ReportCsv(const ReportResult& r) {
    const bool station = r.by == GroupBy::Station;
    std::string csv = std::string(report::GroupByName(r.by)) + ",good,failed,yield,load_s_median,line_efficiency_median" +
                      (station ? ",slow_line" : "") + "\n";
    for (const GroupRow& row : r.rows) {
        csv += CsvField(row.key) + "," + std::to_string(row.good) + "," + std::to_string(row.failed) + "," +
               CsvNumber(row.yield, 4) + "," + CsvNumber(row.loadMedianS, 3) + "," +
               CsvNumber(row.lineEfficiencyMedian, 4) + (station ? row.slowLine ? ",true" : ",false" : "") + "\n";
    }
    return csv;
}

}  // namespace zl::cli
