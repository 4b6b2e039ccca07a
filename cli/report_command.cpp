#include "cli/report_command.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "cli/collect_command.h"
#include "cli/args.h"
#include "cli/output.h"
#include "cli/report_output.h"
#include "cli/station.h"
#include "cli/system.h"
#include "platform/text_convert.h"
#include "records/record_log.h"
#include "records/sha256.h"
#include "report/record_stream.h"
#include "report/utc_time.h"

namespace zl::cli {
namespace {

using report::GroupTally;
using report::RecordStream;
using report::YieldTally;

constexpr size_t kChunk = 1 << 20;

bool ValidUtf8(const std::string& s) { return ToUtf8(FromUtf8(s)) == s && s.find('\0') == std::string::npos; }

// "8h", "30m", "2d" in milliseconds.
bool ParseSpan(const std::string& s, int64_t& ms) {
    if (s.size() < 2 || s.size() > 8) return false;
    int64_t n = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        n = n * 10 + (s[i] - '0');
    }
    const char unit = s.back();
    const int64_t scale = unit == 'm' ? 60000 : unit == 'h' ? 3600000 : unit == 'd' ? 86400000 : 0;
    if (!scale || n == 0) return false;
    ms = n * scale;
    return true;
}

bool SetReportOption(const std::string& name, const std::string& value, ReportOptions& o, std::string& error) {
    int64_t unused = 0;
    if (name == "--log") {
        if (value.empty()) return error = "--log needs a file", false;
        o.logs.push_back(value);
    } else if (name == "--since") {
        if (!report::ParseUserTime(value, unused))
            return error = "--since \"" + value + "\": give a UTC time like 2026-12-09T08:00:00Z or a date like 2026-12-09", false;
        o.since = value;
    } else if (name == "--last") {
        if (!ParseSpan(value, unused)) return error = "--last \"" + value + "\": give hours, minutes or days like 8h, 30m, 2d", false;
        o.last = value;
    } else if (name == "--job") {
        if (value.empty()) return error = "--job needs the job file", false;
        o.job = value;
    } else if (name == "--by") {
        if (!report::ParseGroupBy(value, o.by))
            return error = "--by \"" + value + "\": give station, host, firmware, cause, hour or unit_id", false;
    } else if (name == "--db") {
        if (value.empty()) return error = "--db needs the database URL", false;
        o.db = value;
    } else if (name == "--lang") {
        if (value != "de" && value != "en") return error = "--lang \"" + value + "\": give de or en", false;
        o.english = value == "en";
    }
    return true;
}

// The file's SHA-256, or empty with the reason.
std::string HashFile(const std::string& path, std::string& reason) {
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in) {
        reason = "cannot be opened";
        return {};
    }
    Sha256 sha;
    std::unique_ptr<char[]> buf(new char[kChunk]);
    while (in) {
        in.read(buf.get(), kChunk);
        sha.Update(reinterpret_cast<const uint8_t*>(buf.get()), static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        reason = "could not be read whole";
        return {};
    }
    return sha.HexDigest();
}

// Checks that path names a regular file that can be read; else the message.
bool CheckReadable(const std::string& option, const std::string& path, std::string& message) {
    if (!ValidUtf8(path)) return message = option + ": the name is not valid UTF-8; rename the file", false;
    int64_t size = 0;
    std::string reason;
    switch (Inspect(path, size, reason)) {
        case PathKind::Missing: return message = option + " " + path + ": " + reason, false;
        case PathKind::Folder: return message = option + " " + path + " is a folder, not a file", false;
        case PathKind::Other: return message = option + " " + path + " is not a regular file", false;
        case PathKind::File: break;
    }
    if (!Readable(path, reason)) return message = option + " " + path + ": " + reason, false;
    return true;
}

// Streams one record file through stream; false with the message when it cannot be read.
bool ReadRecords(const std::string& path, RecordStream& stream, std::string& message) {
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in) return message = "--log " + path + ": cannot be opened", false;
    std::unique_ptr<char[]> buf(new char[kChunk]);
    while (in) {
        in.read(buf.get(), kChunk);
        stream.Feed(buf.get(), static_cast<size_t>(in.gcount()));
    }
    stream.EndOfFile();
    if (in.bad()) return message = "--log " + path + ": could not be read whole", false;
    return true;
}

// Reads the record files into result; false with the message when one cannot be read. The
// tallies are gone once the figures are made, before the output is.
bool Tally(const std::vector<std::string>& logs, const report::RecordFilter& filter, report::GroupBy by,
           ReportResult& result, std::string& message) {
    YieldTally tally;
    GroupTally groups(by);
    RecordStream stream(filter, [&](const report::RecordSummary& r) {
        tally.Add(r);
        groups.Add(r);
    });
    for (const std::string& log : logs)
        if (!ReadRecords(log, stream, message)) return false;
    result.figures = tally.Figures();
    result.by = by;
    result.rows = groups.Rows();
    result.skippedLines = stream.Skipped();
    return true;
}

int Fail(int code, const std::string& text) {
    WriteErr("bzl: " + Printable(text) + "\n");
    return code;
}

// The filter the options ask for; 0 or the exit code of a problem (told).
int MakeFilter(const ReportOptions& o, report::RecordFilter& filter) {
    int64_t ms = 0;
    if (o.since && report::ParseUserTime(*o.since, ms)) filter.sinceMs = ms;
    if (o.last && ParseSpan(*o.last, ms)) {
        using namespace std::chrono;
        filter.sinceMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() - ms;
    }
    if (o.job) {
        std::string message, reason;
        if (!CheckReadable("--job", *o.job, message)) return Fail(kExitFile, message);
        const std::string sha = HashFile(*o.job, reason);
        if (sha.empty()) return Fail(kExitFile, "--job " + *o.job + ": " + reason);
        filter.jobSha256 = sha;
    }
    return 0;
}

}  // namespace

const char* ReportUsage() {
    return "usage: bzl report [--log F ... | --db postgresql://...] [--since ISO-TIME | --last 8h] [--job JOB]\n"
           "                  [--by station|host|firmware|cause|hour|unit_id] [--json | --csv] [--lang de|en]\n";
}

std::string ReportHelp() {
    return std::string(ReportUsage()) +
           "\nThe production line's yield from the records of every device (loads only; readouts and verifies\n"
           "count for the period): attempts, good, failed, first-pass yield (units good at their first load;\n"
           "a record without a unit ID is a unit of its own), retested units, devices per hour over the\n"
           "period from the first to the last record, median and 95th-percentile load time and median line\n"
           "efficiency of the good loads, failures by cause, and one table grouped by --by.\n\n"
           "  --log F        read F (several allowed) instead of\n"
           "                 " + RecordsPathHelp() + "\n"
           "  --db URL       read the records that bzl collect stored in PostgreSQL (Linux), e.g.\n"
           "                 postgresql://report@db-host/line; exit code 2 when it cannot be reached\n"
           "  --since T      records that started at T or later: UTC, 2026-12-09T08:00:00Z or 2026-12-09\n"
           "  --last N       records of the last N hours, minutes or days: 8h, 30m, 2d\n"
           "  --job JOB      records of the job file JOB (its SHA-256)\n"
           "  --by FIELD     the table: station (default; a station whose median line efficiency is below\n"
           "                 90 % of the best one's is marked slow-line), host, firmware, cause, hour, unit_id\n"
           "  --json         one JSON object instead of text\n"
           "  --csv          the table as CSV (RFC 4180)\n"
           "  --lang de|en   the language of the text (default de)\n\n"
           "Lines that are not records are skipped and counted. Exit codes: 0 done; 1 usage; 7 a file that\n"
           "cannot be read.\n";
}

bool ParseReportArgs(const std::vector<std::string>& args, ReportOptions& o, std::string& error) {
    o = ReportOptions{};
    const OptionWords words{"report", {"--json", "--csv"}, {"--log", "--since", "--last", "--job", "--by", "--lang", "--db"},
                            "record files go with --log"};
    auto set = [&o](const std::string& name, const std::string& value, std::string& e) {
        if (name == "--json" || name == "--csv") return (name == "--json" ? o.json : o.csv) = true, true;
        return SetReportOption(name, value, o, e);
    };
    if (!WalkOptions(args, words, o.help, set, error)) return false;
    if (o.help) return true;
    if (o.since && o.last) return error = "--since and --last exclude each other: give one", false;
    if (o.json && o.csv) return error = "--json and --csv exclude each other: give one", false;
    if (o.db && !o.logs.empty()) return error = "--db and --log exclude each other: give one", false;
    return true;
}

int RunReport(const std::vector<std::string>& args) {
    ReportOptions o;
    std::string error;
    if (!ParseReportArgs(args, o, error)) {
        WriteErr("bzl: " + Printable(error) + "\n" + ReportUsage());
        return kExitUsage;
    }
    if (o.help) return WriteOut(ReportHelp()), kExitOk;
    if (o.db) {
        report::RecordFilter filter;
        if (int rc = MakeFilter(o, filter)) return rc;
        return RunReportDb(*o.db, filter, o);
    }
    std::vector<std::string> logs;
    if (o.logs.empty()) {
        logs.push_back(RecordLog::DefaultPath());
        if (!CheckReadable("the records file", logs[0], error)) return Fail(kExitFile, error);
    }
    for (const std::string& log : o.logs) {
        if (!CheckReadable("--log", log, error)) return Fail(kExitFile, error);
        // A file given twice is read once: its records would count twice.
        const std::string path = AbsolutePath(log);
        if (std::find(logs.begin(), logs.end(), path) == logs.end()) logs.push_back(path);
    }
    report::RecordFilter filter;
    if (int rc = MakeFilter(o, filter)) return rc;

    ReportResult result;
    if (!Tally(logs, filter, o.by, result, error)) return Fail(kExitFile, error);
    WriteOut(o.json ? ReportJson(result) : o.csv ? ReportCsv(result) : ReportText(result, o.english));
    return kExitOk;
}

}  // namespace zl::cli
