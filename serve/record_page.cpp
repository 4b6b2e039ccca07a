#include "serve/record_page.h"

#include <cctype>
#include <cstring>
#include <fstream>

#include "records/json_reader.h"

namespace zl::serve {
namespace {

constexpr size_t kMaxLine = 1u << 20;  // longer lines are no records (as the report reads them)

// Goes through the file's whole lines; stops when each returns false.
template <class Each>
bool ForEachLine(std::ifstream& in, Each each) {
    std::string line;
    bool tooLong = false;
    char buf[64 * 1024];
    while (in) {
        in.read(buf, sizeof buf);
        const size_t n = static_cast<size_t>(in.gcount());
        size_t p = 0;
        while (p < n) {
            const char* nl = static_cast<const char*>(std::memchr(buf + p, '\n', n - p));
            const size_t take = nl ? static_cast<size_t>(nl - (buf + p)) : n - p;
            if (!tooLong && line.size() + take <= kMaxLine) line.append(buf + p, take);
            else tooLong = true, line.clear();
            if (!nl) break;
            if (!tooLong && !each(line)) return true;
            line.clear();
            tooLong = false;
            p += take + 1;
        }
    }
    return !in.bad();
}

}  // namespace

bool LooksLikeRecordId(const std::string& id) {
    if (id.size() != 36) return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : !std::isxdigit(static_cast<unsigned char>(id[i]))) return false;
    }
    return true;
}

RecordPage ReadRecordPage(const std::string& path, const std::string& after, size_t limit) {
    RecordPage page;
    page.afterFound = after.empty();
    std::ifstream in(path, std::ios::binary);
    if (!in) return page;  // no file yet: no records
    JsonDocument doc;
    std::string id;
    const bool ok = ForEachLine(in, [&](const std::string& line) {
        if (!doc.Parse(line) || !doc.Root().IsObject() || !doc.Root()["id"].GetString(id)) return true;
        if (!page.afterFound) {
            page.afterFound = id == after;
            return true;
        }
        page.body += line;
        page.body += '\n';
        ++page.count;
        return page.count < limit && page.body.size() < kMaxPageBytes;
    });
    if (!ok) page.error = "the record file could not be read";
    return page;
}

}  // namespace zl::serve
