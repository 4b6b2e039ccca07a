#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "collect/source.h"
#include "report/record_stream.h"

namespace zl::collect {
namespace {

constexpr size_t kPageRows = 2000;
constexpr size_t kPageBytes = 8 << 20;
constexpr size_t kMaxLine = report::RecordStream::kMaxLine;  // a longer line is no record

class FileSource : public Source {
public:
    explicit FileSource(std::string path) : path_(std::move(path)) {}
    const std::string& Name() const override { return path_; }
    bool Fetch(const SourcePosition& from, Page& page, std::string& error) override;

private:
    std::string path_;
    JsonDocument doc_;
};

// Whether the line that ends at offset (its line break included, if it had one) is the one
// the mark names: false when the file was replaced by another since it was read up to there.
bool SameFile(std::ifstream& in, int64_t offset, const std::string& mark) {
    const int64_t begin = std::max<int64_t>(0, offset - static_cast<int64_t>(kMaxLine) - 2);
    std::string tail(static_cast<size_t>(offset - begin), '\0');
    in.seekg(begin);
    if (!in.read(tail.data(), static_cast<std::streamsize>(tail.size()))) return false;
    if (!tail.empty() && tail.back() == '\n') tail.pop_back();
    const size_t nl = tail.rfind('\n');
    if (nl == std::string::npos && begin > 0) return true;  // a line too long to tell: keep the place
    return DerivedId(nl == std::string::npos ? tail : std::string_view(tail).substr(nl + 1)) == mark;
}

bool FileSource::Fetch(const SourcePosition& from, Page& page, std::string& error) {
    page = Page{};
    const std::filesystem::path path(std::u8string(path_.begin(), path_.end()));
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = "cannot be opened", false;
    in.seekg(0, std::ios::end);
    const int64_t size = in.tellg();
    int64_t offset = from.offset;
    if (offset > size || (offset > 0 && !from.fileMark.empty() && !SameFile(in, offset, from.fileMark))) {
        // Another file now: read it from its start (what is known already is not stored twice).
        offset = 0;
        page.restarted = true;
    }
    in.clear();
    in.seekg(offset);
    page.next = from;
    std::string line, last;
    RecordRow row;
    size_t taken = 0;
    while (page.rows.size() < kPageRows && taken < kPageBytes && std::getline(in, line)) {
        if (in.eof()) {
            // The last line has no line break yet: a writer may be in the middle of it.
            if (!ReadRow(line, doc_, row)) break;
            page.rows.push_back(std::move(row));
            offset += static_cast<int64_t>(line.size());
            last.swap(line);
            break;
        }
        offset += static_cast<int64_t>(line.size()) + 1;
        taken += line.size() + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
        } else if (line.size() <= kMaxLine && ReadRow(line, doc_, row)) {
            page.rows.push_back(std::move(row));
        } else {
            ++page.skipped;
        }
        last.swap(line);
    }
    if (in.bad()) return error = "could not be read", false;
    if (offset != page.next.offset || page.restarted) {
        page.next.offset = offset;
        page.next.fileMark = offset ? DerivedId(last) : "";
    }
    if (!page.rows.empty()) page.next.lastId = page.rows.back().id;
    page.more = offset < size && (page.rows.size() >= kPageRows || taken >= kPageBytes);
    return true;
}

}  // namespace

std::unique_ptr<Source> MakeFileSource(const std::string& path) { return std::make_unique<FileSource>(path); }

}  // namespace zl::collect
