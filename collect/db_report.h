// The yield report's figures computed by the database over zl_records: the same figures,
// by the same rules, as report::YieldTally and report::GroupTally make from record files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "collect/pg_store.h"
#include "report/group_tally.h"
#include "report/yield_tally.h"

namespace zl::collect {

struct DbFilter {
    std::optional<int64_t> sinceMs;
    std::optional<std::string> jobSha256;
};

// The SQL of the table grouped by `by` (parameters $1 since, $2 job; text or NULL).
std::string GroupSql(report::GroupBy by);

bool DbReport(PgStore& store, const DbFilter& filter, report::GroupBy by, report::YieldFigures& figures,
              std::vector<report::GroupRow>& rows, std::string& error);

}  // namespace zl::collect
