// Where records come from: a station's HTTP records endpoint or a records file. Each is read
// page by page from a position that the database keeps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "collect/pg_store.h"
#include "collect/record_row.h"

namespace zl::collect {

struct Page {
    std::vector<RecordRow> rows;
    SourcePosition next;      // where the next page begins
    uint64_t skipped = 0;     // lines that are not records
    bool more = false;        // another page may follow at once
    bool restarted = false;   // the file was replaced: read again from its start
};

class Source {
public:
    virtual ~Source() = default;
    // The name it is kept under in zl_sources: the URL, or the file's absolute path.
    virtual const std::string& Name() const = 0;
    // The page after from; false with the reason when the source cannot be read now.
    virtual bool Fetch(const SourcePosition& from, Page& page, std::string& error) = 0;
};

// Records served as NDJSON by GET <url>/api/v1/records?after=ID&limit=N, oldest first.
// token: sent as "Authorization: Bearer <token>" when not empty.
std::unique_ptr<Source> MakeHttpSource(const std::string& url, const std::string& token);

// A records file, read on from a byte offset; a file now shorter than the offset, or whose
// line before the offset is not the one read last, was replaced and is read from its start. Only whole lines are taken (the last line of a file
// without its line break only once it is a complete record).
std::unique_ptr<Source> MakeFileSource(const std::string& path);

// Splits an http:// or https:// URL into "http://host:port" and a path prefix without a trailing
// slash; false with the reason for anything else.
bool SplitUrl(const std::string& url, std::string& hostPort, std::string& prefix, std::string& error);

}  // namespace zl::collect
