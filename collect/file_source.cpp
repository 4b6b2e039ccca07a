#include <cstdio>
#include <filesystem>
#include <fstream>

#include "collect/source.h"

namespace zl::collect {
namespace {

constexpr size_t kPageRows = 2000;
constexpr size_t kPageBytes = 8 << 20;
constexpr size_t kMaxLine = 1 << 20;  // as the report: a longer line is no record

class FileSource : public Source {
public:
    explicit FileSource(std::string path) : path_(std::move(path)) {}
    const std::string& Name() const override { return path_; }
    bool Fetch(const SourcePosition& from, Page& page, std::string& error) override;

private:
    std::string path_;
    JsonDocument doc_;
};

bool FileSource::Fetch(const SourcePosition& from, Page& page, std::string& error) {
    page = Page{};
    const std::filesystem::path path(std::u8string(path_.begin(), path_.end()));
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = "cannot be opened", false;
    in.seekg(0, std::ios::end);
    const int64_t size = in.tellg();
    int64_t offset = from.offset <= size ? from.offset : 0;
    in.seekg(offset);
    page.next = from;
    page.next.offset = offset;
    std::string line;
    RecordRow row;
    size_t taken = 0;
    while (page.rows.size() < kPageRows && taken < kPageBytes && std::getline(in, line)) {
        const bool whole = !in.eof();
        if (!whole) {
            // The last line has no line break yet: a writer may be in the middle of it.
            if (!ReadRow(line, doc_, row)) break;
            page.rows.push_back(std::move(row));
            offset += static_cast<int64_t>(line.size());
            break;
        }
        offset += static_cast<int64_t>(line.size()) + 1;
        taken += line.size() + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (line.size() <= kMaxLine && ReadRow(line, doc_, row)) page.rows.push_back(std::move(row));
        else ++page.skipped;
    }
    if (in.bad()) return error = "could not be read", false;
    page.next.offset = offset;
    if (!page.rows.empty()) page.next.lastId = page.rows.back().id;
    page.more = offset < size && (page.rows.size() >= kPageRows || taken >= kPageBytes);
    return true;
}

}  // namespace

std::unique_ptr<Source> MakeFileSource(const std::string& path) { return std::make_unique<FileSource>(path); }

}  // namespace zl::collect
