// The records database over libpq: one connection, the tables made when missing, batches
// of rows stored together with their source's position in one transaction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "collect/record_row.h"

struct pg_conn;

namespace zl::collect {

// Where a source was read up to: the last record id taken (HTTP) or the byte offset
// after the last line taken (file).
struct SourcePosition {
    std::string lastId;   // empty: from the beginning
    int64_t offset = 0;
    std::string fileMark; // a file's: DerivedId() of the line that ends at offset
};

class PgStore {
public:
    explicit PgStore(std::string conninfo) : conninfo_(std::move(conninfo)) {}
    ~PgStore();
    PgStore(const PgStore&) = delete;
    PgStore& operator=(const PgStore&) = delete;

    // Connects (again, after a loss) and, for writing, creates the tables; false with the reason.
    bool Open(std::string& error, bool createTables = true);
    bool IsOpen() const;
    // The connection was lost (the server went away): Open again later.
    bool Lost() const;

    bool Position(const std::string& source, SourcePosition& pos, std::string& error);
    // Inserts the rows that are new and sets the source's position, all or nothing;
    // inserted counts the new ones.
    bool Store(const std::vector<RecordRow>& rows, const std::string& source, const SourcePosition& pos,
               uint64_t& inserted, std::string& error);

    // One statement with text parameters (nullopt: NULL); its rows as text, a NULL cell as nullopt.
    using Cell = std::optional<std::string>;
    bool Query(const std::string& sql, const std::vector<Cell>& params, std::vector<std::vector<Cell>>& rows,
               std::string& error);

private:
    bool Exec(const char* sql, std::string& error);
    bool Run(const std::string& sql, const std::vector<Cell>& params, void** result, std::string& error);
    bool InsertBatch(const std::vector<RecordRow>& rows, size_t begin, size_t end, uint64_t& inserted, std::string& error);
    std::string Message() const;

    std::string conninfo_;
    pg_conn* conn_ = nullptr;
};

}  // namespace zl::collect
