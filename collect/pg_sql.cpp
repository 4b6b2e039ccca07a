#include "collect/pg_sql.h"

namespace zl::collect {

const char* SchemaSql() {
    return "CREATE TABLE IF NOT EXISTS zl_records ("
           " id uuid PRIMARY KEY,"
           " time timestamptz NOT NULL,"
           " host text NOT NULL,"
           " program text,"
           " station text NOT NULL,"
           " unit_id text,"
           " job_sha256 text,"
           " operation text NOT NULL,"
           " outcome text NOT NULL,"
           " cause text,"
           " duration_s double precision,"
           " file_sha256 text,"
           " firmware text NOT NULL,"
           " line_efficiency double precision,"
           " schema smallint NOT NULL,"
           " record jsonb NOT NULL);"
           "CREATE INDEX IF NOT EXISTS zl_records_time ON zl_records (time);"
           "CREATE TABLE IF NOT EXISTS zl_sources ("
           " source text PRIMARY KEY,"
           " last_id text,"
           " file_offset bigint NOT NULL DEFAULT 0,"
           " file_mark text,"
           " updated timestamptz NOT NULL DEFAULT now());";
}

std::string InsertSql(size_t rows) {
    std::string sql = "INSERT INTO zl_records (";
    for (size_t c = 0; c < kRecordColumnCount; ++c) sql += (c ? "," : "") + std::string(kRecordColumns[c]);
    sql += ") VALUES ";
    size_t n = 1;
    for (size_t r = 0; r < rows; ++r) {
        sql += r ? ",(" : "(";
        for (size_t c = 0; c < kRecordColumnCount; ++c) sql += (c ? ",$" : "$") + std::to_string(n++);
        sql += ")";
    }
    return sql + " ON CONFLICT (id) DO NOTHING";
}

const char* PositionSql() {
    return "INSERT INTO zl_sources (source, last_id, file_offset, file_mark, updated) VALUES ($1, $2, $3, $4, now())"
           " ON CONFLICT (source) DO UPDATE SET last_id = EXCLUDED.last_id, file_offset = EXCLUDED.file_offset,"
           " file_mark = EXCLUDED.file_mark, updated = now()";
}

}  // namespace zl::collect
