// bzl report: the production line's yield from record files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/group_tally.h"

namespace zl::cli {

struct ReportOptions {
    std::vector<std::string> logs;        // --log, in order; none: the user's records file
    std::optional<std::string> since;     // --since ISO-TIME
    std::optional<std::string> last;      // --last Nh | Nm | Nd
    std::optional<std::string> job;       // --job JOB
    std::optional<std::string> db;        // --db postgresql://...: the records in the database
    report::GroupBy by = report::GroupBy::Station;
    bool json = false;
    bool csv = false;
    bool english = false;
    bool help = false;
};

// The arguments after "report"; on a usage error false with one line that says what is wrong.
bool ParseReportArgs(const std::vector<std::string>& args, ReportOptions& o, std::string& error);

// The report's usage line and help text.
const char* ReportUsage();
std::string ReportHelp();

// Runs bzl report with the arguments after "report"; the exit code.
int RunReport(const std::vector<std::string>& args);

}  // namespace zl::cli
