#include "collect/pg_store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "collect/pg_sql.h"
#include "records/record_line.h"

namespace zl::collect {
namespace {

// 16 parameters a row: 500 rows stay well below the protocol's 65535 parameters.
constexpr size_t kBatchRows = 500;

std::string Real(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

void AddRow(const RecordRow& row, std::vector<PgStore::Cell>& p) {
    const report::RecordSummary& s = row.summary;
    auto text = [](const std::string& v) { return v.empty() ? PgStore::Cell() : PgStore::Cell(v); };
    p.emplace_back(row.id);
    p.emplace_back(FormatUtc(s.timeMs));
    p.emplace_back(s.host);
    p.push_back(text(row.program));
    p.emplace_back(s.station);
    p.push_back(s.hasUnit ? PgStore::Cell(s.unitId) : PgStore::Cell());
    p.push_back(text(s.jobSha256));
    p.emplace_back(s.operation);
    p.emplace_back(row.outcome);
    p.push_back(s.good || s.cause < 0 ? PgStore::Cell() : PgStore::Cell(report::kCauses[s.cause]));
    p.push_back(row.hasDuration ? PgStore::Cell(Real(s.durationS)) : PgStore::Cell());
    p.push_back(text(row.fileSha256));
    p.emplace_back(s.firmware);
    p.push_back(s.hasEfficiency ? PgStore::Cell(Real(s.lineEfficiency)) : PgStore::Cell());
    p.emplace_back(std::to_string(s.schema));
    p.emplace_back(row.json);
}

}  // namespace

PgStore::~PgStore() {
    if (conn_) PQfinish(conn_);
}

std::string PgStore::Message() const {
    std::string m = conn_ ? PQerrorMessage(conn_) : "no connection";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    for (char& c : m)
        if (c == '\n' || c == '\t') c = ' ';
    return m;
}

bool PgStore::IsOpen() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }
bool PgStore::Lost() const { return !IsOpen(); }

bool PgStore::Open(std::string& error, bool createTables) {
    if (conn_) PQfinish(conn_);
    // A server that does not answer is given up after 5 s, not the system's minutes.
    // A server that stops answering over the network is noticed within about half a
    // minute (TCP keepalives and the user timeout), not the system's hours. The URL comes
    // last: what it says itself wins.
    const char* keys[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                          "tcp_user_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"5", "10", "5", "3", "30000", "bzl collect", conninfo_.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (!IsOpen()) {
        error = Message();
        return false;
    }
    PQclear(PQexec(conn_, "SET client_min_messages = warning"));
    // Two collectors that start together must not both create the tables.
    return !createTables || Exec((std::string("BEGIN; SELECT pg_advisory_xact_lock(7426001); ") + SchemaSql() + " COMMIT;").c_str(), error);
}

bool PgStore::Exec(const char* sql, std::string& error) {
    PGresult* r = PQexec(conn_, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) error = Message();
    PQclear(r);
    return ok;
}

bool PgStore::Run(const std::string& sql, const std::vector<Cell>& params, void** out, std::string& error) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const Cell& c : params) values.push_back(c ? c->c_str() : nullptr);
    PGresult* r = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                               nullptr, 0);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) {
        error = Message();
        PQclear(r);
        return false;
    }
    *out = r;
    return true;
}

bool PgStore::Query(const std::string& sql, const std::vector<Cell>& params, std::vector<std::vector<Cell>>& rows,
                    std::string& error) {
    if (!conn_) return error = "no connection", false;
    void* raw = nullptr;
    if (!Run(sql, params, &raw, error)) return false;
    PGresult* r = static_cast<PGresult*>(raw);
    rows.clear();
    for (int i = 0; i < PQntuples(r); ++i) {
        std::vector<Cell>& row = rows.emplace_back();
        for (int j = 0; j < PQnfields(r); ++j)
            row.push_back(PQgetisnull(r, i, j) ? Cell() : Cell(std::string(PQgetvalue(r, i, j), PQgetlength(r, i, j))));
    }
    PQclear(r);
    return true;
}

bool PgStore::Position(const std::string& source, SourcePosition& pos, std::string& error) {
    std::vector<std::vector<Cell>> rows;
    if (!Query("SELECT last_id, file_offset, file_mark FROM zl_sources WHERE source = $1", {source}, rows, error)) return false;
    pos = SourcePosition{};
    if (!rows.empty()) {
        pos.lastId = rows[0][0].value_or("");
        pos.offset = std::stoll(rows[0][1].value_or("0"));
        pos.fileMark = rows[0][2].value_or("");
    }
    return true;
}

bool PgStore::InsertBatch(const std::vector<RecordRow>& rows, size_t begin, size_t end, uint64_t& inserted,
                          std::string& error) {
    std::vector<Cell> params;
    params.reserve((end - begin) * kRecordColumnCount);
    for (size_t i = begin; i < end; ++i) AddRow(rows[i], params);
    void* raw = nullptr;
    if (!Run(InsertSql(end - begin), params, &raw, error)) return false;
    PGresult* r = static_cast<PGresult*>(raw);
    inserted += std::strtoull(PQcmdTuples(r), nullptr, 10);
    PQclear(r);
    return true;
}

bool PgStore::Store(const std::vector<RecordRow>& rows, const std::string& source, const SourcePosition& pos,
                    uint64_t& inserted, std::string& error) {
    if (!conn_) return error = "no connection", false;
    inserted = 0;
    if (!Exec("BEGIN", error)) return false;
    bool ok = true;
    for (size_t i = 0; ok && i < rows.size(); i += kBatchRows)
        ok = InsertBatch(rows, i, std::min(rows.size(), i + kBatchRows), inserted, error);
    void* raw = nullptr;
    if (ok) {
        const Cell lastId = pos.lastId.empty() ? Cell() : Cell(pos.lastId);
        const Cell mark = pos.fileMark.empty() ? Cell() : Cell(pos.fileMark);
        ok = Run(PositionSql(), {source, lastId, std::to_string(pos.offset), mark}, &raw, error);
        if (ok) PQclear(static_cast<PGresult*>(raw));
    }
    if (ok) return Exec("COMMIT", error);
    std::string ignored;
    if (IsOpen()) Exec("ROLLBACK", ignored);
    inserted = 0;
    return false;
}

}  // namespace zl::collect
