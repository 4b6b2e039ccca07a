// bzl collect: the records of the line's stations into PostgreSQL; and bzl report --db,
// the yield report computed by that database. Linux only (libpq).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/report_command.h"
#include "cli/system.h"
#include "report/record_stream.h"

namespace zl::cli {

struct CollectOptions {
    std::vector<std::string> urls;      // --from
    std::vector<std::string> files;     // --from-file
    std::string to;                     // --to postgresql://...
    std::string tokenFile;              // --token-file
    bool follow = false;
    int everyS = 3;                     // --every: seconds between polls of a source
    bool help = false;
};

bool ParseCollectArgs(const std::vector<std::string>& args, CollectOptions& o, std::string& error);
std::string CollectHelp();

#ifndef _WIN32
// Runs bzl collect with the arguments after "collect"; ends a --follow at an interrupt.
int RunCollect(const std::vector<std::string>& args, const std::atomic<int>& interrupt);

// bzl report --db URL: the figures from the database, printed as bzl report prints them.
int RunReportDb(const std::string& url, const report::RecordFilter& filter, const ReportOptions& o);
#else
// The database side needs libpq, which the Windows build does not carry.
inline int RunCollect(const std::vector<std::string>&, const std::atomic<int>&) {
    WriteErr("bzl: collect runs on Linux only\n");
    return 1;
}
inline int RunReportDb(const std::string&, const report::RecordFilter&, const ReportOptions&) {
    WriteErr("bzl: report --db runs on Linux only\n");
    return 1;
}
#endif

}  // namespace zl::cli
