#include "collect/record_row.h"

#include "records/sha256.h"

namespace zl::collect {
namespace {

std::string_view Trimmed(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return line;
}

}  // namespace

std::string DerivedId(std::string_view line) {
    line = Trimmed(line);
    Sha256 sha;
    sha.Update(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    std::string hex = sha.HexDigest().substr(0, 32);
    hex[12] = '8';  // version 8: a name of our own making
    static const char kVariant[] = "89ab";
    const int nibble = hex[16] <= '9' ? hex[16] - '0' : hex[16] - 'a' + 10;
    hex[16] = kVariant[nibble & 3];
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
}

bool IsUuid(std::string_view t) {
    if (t.size() != 36) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

std::string JsonbText(std::string_view line) {
    line = Trimmed(line);
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            out += line[i];
            continue;
        }
        // An escape: copy it whole so that "\\u0000" (a backslash, then text) stays as it is.
        if (line.compare(i, 6, "\\u0000") == 0) {
            out += "\\ufffd";
            i += 5;
        } else {
            out += line[i];
            out += line[++i];
        }
    }
    return out;
}

bool ReadRow(const std::string& line, JsonDocument& doc, RecordRow& row) {
    if (!report::ReadRecord(line, doc, row.summary)) return false;
    const JsonValue root = doc.Root();
    if (!root["id"].GetString(row.id) || !IsUuid(row.id)) row.id = DerivedId(line);
    if (!root["program"].GetString(row.program)) row.program.clear();
    root["result"]["outcome"].GetString(row.outcome);
    if (!root["file"]["sha256"].GetString(row.fileSha256)) row.fileSha256.clear();
    row.hasDuration = root["duration_s"].IsNumber();
    row.json = JsonbText(line);
    return true;
}

}  // namespace zl::collect
