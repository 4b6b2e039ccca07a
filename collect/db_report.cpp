#include "collect/db_report.h"

#include <cstdlib>

#include "records/record_line.h"

namespace zl::collect {
namespace {

using report::GroupBy;
using Cell = PgStore::Cell;

// The records the filter keeps (r) and their loads (l); the columns the figures need only
// (the jsonb would be carried through every step).
const char* kRecords =
    "WITH r AS (SELECT id, time, host, station, unit_id, operation, outcome, cause, duration_s, firmware,"
    " line_efficiency FROM zl_records WHERE ($1::timestamptz IS NULL OR time >= $1::timestamptz)"
    " AND ($2::text IS NULL OR job_sha256 = $2::text)),"
    " l AS (SELECT *, outcome = 'ok' AS ok FROM r WHERE operation = 'load') ";

// The median of the values v of rows named `from` (the mean of the middle two of an even
// count), per group k when grouped.
std::string Median(const std::string& from, bool grouped) {
    const std::string part = grouped ? "PARTITION BY k " : "";
    return "SELECT " + std::string(grouped ? "k, " : "") + "avg(v) AS m FROM (SELECT " + (grouped ? "k, " : "") +
           "v, row_number() OVER (" + part + "ORDER BY v) AS rn, count(*) OVER (" + part + ") AS n FROM " + from +
           ") x WHERE rn IN ((n + 1) / 2, (n + 2) / 2)" + (grouped ? " GROUP BY k" : "");
}

// The nearest-rank 95th percentile, with the same guard against rounding as Percentile().
std::string P95(const std::string& from) {
    return "SELECT v FROM (SELECT v, row_number() OVER (ORDER BY v) AS rn, count(*) OVER () AS n FROM " + from +
           ") x WHERE rn = greatest(1, ceil(0.95::float8 * n::float8 - 1e-9::float8))";
}

std::string TotalsSql() {
    const std::string good = "(SELECT duration_s AS v FROM l WHERE ok) d";
    const std::string eff = "(SELECT line_efficiency AS v FROM l WHERE ok AND line_efficiency IS NOT NULL) e";
    return std::string(kRecords) +
           ", u AS (SELECT DISTINCT ON (unit_id) unit_id, ok FROM l WHERE unit_id IS NOT NULL ORDER BY unit_id, time, id),"
           " t AS MATERIALIZED (SELECT (SELECT (extract(epoch FROM min(time)) * 1000)::bigint FROM r) AS from_ms,"
           " (SELECT (extract(epoch FROM max(time)) * 1000)::bigint FROM r) AS to_ms,"
           " (SELECT count(*) FROM l) AS attempts, (SELECT count(*) FROM l WHERE ok) AS good,"
           " (SELECT count(*) FROM u) + (SELECT count(*) FROM l WHERE unit_id IS NULL) AS units,"
           " (SELECT count(*) FROM u WHERE ok) + (SELECT count(*) FROM l WHERE unit_id IS NULL AND ok) AS first_good,"
           " (SELECT count(*) FROM (SELECT 1 FROM l WHERE unit_id IS NOT NULL GROUP BY unit_id HAVING count(*) > 1) x)"
           " AS retested) "
           "SELECT from_ms, to_ms, attempts, good, units, first_good, retested,"
           " CASE WHEN units > 0 THEN first_good::float8 / units::float8 END,"
           " CASE WHEN to_ms - from_ms >= 60000 THEN good::float8 * 3600000::float8 / (to_ms - from_ms)::float8 END,"
           " (" + Median(good, false) + "), (" + P95(good) + "), (" + Median(eff, false) + ") FROM t";
}

std::string KeySql(GroupBy by) {
    switch (by) {
        case GroupBy::Station: return "station";
        case GroupBy::Host: return "host";
        case GroupBy::Firmware: return "firmware";
        case GroupBy::Cause: return "CASE WHEN ok THEN 'ok' ELSE coalesce(cause, '') END";
        case GroupBy::Hour: return "to_char(time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24')";
        case GroupBy::UnitId: return "coalesce(unit_id, '')";
    }
    return "''";
}

std::optional<double> Real(const Cell& c) {
    if (!c) return std::nullopt;
    return std::strtod(c->c_str(), nullptr);
}

uint64_t Count(const Cell& c) { return c ? std::strtoull(c->c_str(), nullptr, 10) : 0; }

}  // namespace

std::string GroupSql(GroupBy by) {
    const bool station = by == GroupBy::Station;
    return std::string(kRecords) + ", g AS (SELECT " + KeySql(by) + " AS k, ok, duration_s, line_efficiency FROM l),"
           " c AS (SELECT k, count(*) FILTER (WHERE ok) AS good, count(*) FILTER (WHERE NOT ok) AS failed FROM g GROUP BY k),"
           " dm AS (" + Median("(SELECT k, duration_s AS v FROM g WHERE ok) d", true) + "),"
           " em AS (" + Median("(SELECT k, line_efficiency AS v FROM g WHERE ok AND line_efficiency IS NOT NULL) e", true) +
           ") SELECT c.k, c.good, c.failed, c.good::float8 / (c.good + c.failed)::float8, dm.m, em.m, " +
           (station ? "coalesce(em.m < 0.9::float8 * greatest(max(em.m) OVER (), 0::float8), false)" : "false") +
           " FROM c LEFT JOIN dm USING (k) LEFT JOIN em USING (k) ORDER BY c.k COLLATE \"C\"";
}

bool DbReport(PgStore& store, const DbFilter& filter, GroupBy by, report::YieldFigures& f,
              std::vector<report::GroupRow>& rows, std::string& error) {
    std::vector<Cell> params{filter.sinceMs ? Cell(FormatUtc(*filter.sinceMs)) : Cell(), filter.jobSha256 ? Cell(*filter.jobSha256) : Cell()};
    std::vector<std::vector<Cell>> out;
    if (!store.Query(TotalsSql(), params, out, error)) return false;
    const std::vector<Cell>& t = out.at(0);
    f = report::YieldFigures{};
    f.any = t[0].has_value();
    f.fromMs = f.any ? std::stoll(*t[0]) : 0;
    f.toMs = f.any ? std::stoll(*t[1]) : 0;
    f.attempts = Count(t[2]);
    f.good = Count(t[3]);
    f.failed = f.attempts - f.good;
    f.units = Count(t[4]);
    f.firstPassGood = Count(t[5]);
    f.retestedUnits = Count(t[6]);
    f.firstPassYield = Real(t[7]);
    f.perHour = Real(t[8]);
    f.loadMedianS = Real(t[9]);
    f.loadP95S = Real(t[10]);
    f.lineEfficiencyMedian = Real(t[11]);

    const std::string causes = std::string(kRecords) + "SELECT cause, count(*) FROM l WHERE NOT ok GROUP BY cause";
    if (!store.Query(causes, params, out, error)) return false;
    for (const std::vector<Cell>& c : out)
        for (size_t i = 0; i < report::kCauseCount; ++i)
            if (c[0] && *c[0] == report::kCauses[i]) f.byCause[i] = Count(c[1]);

    if (!store.Query(GroupSql(by), params, out, error)) return false;
    rows.clear();
    for (const std::vector<Cell>& c : out) {
        report::GroupRow& row = rows.emplace_back();
        row.key = c[0].value_or("");
        row.good = Count(c[1]);
        row.failed = Count(c[2]);
        row.yield = Real(c[3]);
        row.loadMedianS = Real(c[4]);
        row.lineEfficiencyMedian = Real(c[5]);
        row.slowLine = c[6] && *c[6] == "t";
    }
    return true;
}

}  // namespace zl::collect
