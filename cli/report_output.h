// What bzl report prints: a readable text (German or English), one JSON object, or the
// grouped table as CSV (RFC 4180).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/group_tally.h"
#include "report/yield_tally.h"

namespace zl::cli {

struct ReportResult {
    report::YieldFigures figures;
    report::GroupBy by = report::GroupBy::Station;
    std::vector<report::GroupRow> rows;
    uint64_t skippedLines = 0;
};

std::string ReportText(const ReportResult& r, bool english);
std::string ReportJson(const ReportResult& r);
std::string ReportCsv(const ReportResult& r);

}  // namespace zl::cli
