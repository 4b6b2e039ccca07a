#include "records/json_reader.h"

#include <charconv>
#include <cstring>

#include "platform/text_convert.h"

namespace zl {
namespace {

constexpr int kMaxDepth = 64;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hex digits at text[i], or -1.
long Hex4(const std::string& text, size_t i) {
    if (i + 4 > text.size()) return -1;
    long v = 0;
    for (size_t k = 0; k < 4; ++k) {
        const int d = HexDigit(text[i + k]);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The bytes a string holds as they are: printable ASCII but the quote and the backslash.
struct PlainBytes {
    bool plain[256] = {};
    constexpr PlainBytes() {
        for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
    }
};
constexpr PlainBytes kPlain;

}  // namespace

void JsonDocument::Push(JsonType type, bool escaped, bool truth, uint32_t begin, uint32_t end, uint32_t after,
                        double number) {
    if (used_ == nodes_.size()) nodes_.resize(nodes_.empty() ? 256 : nodes_.size() * 2);
    // Field by field: a whole Node built on the stack and copied stalls on its loads.
    Node& n = nodes_[used_++];
    n.type = type;
    n.escaped = escaped;
    n.truth = truth;
    n.begin = begin;
    n.end = end;
    n.after = after;
    n.number = number;
}

bool JsonDocument::Fail(size_t at, const char* why) {
    error_ = "byte " + std::to_string(at + 1) + ": " + why;
    used_ = 0;
    return false;
}

void JsonDocument::SkipSpace(size_t& i) const {
    const std::string& t = *text_;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r')) ++i;
}

bool JsonDocument::Parse(const std::string& text) {
    text_ = &text;
    used_ = 0;
    error_.clear();
    if (text.size() >= UINT32_MAX) return Fail(0, "too long");
    size_t i = 0;
    SkipSpace(i);
    if (!Value(i, 0)) return false;
    SkipSpace(i);
    if (i != text.size()) return Fail(i, "more after the value");
    return true;
}

bool JsonDocument::Value(size_t& i, int depth) {
    const std::string& t = *text_;
    if (i >= t.size()) return Fail(i, "a value is missing");
    const char c = t[i];
    if (c == '"') return StringNode(i);
    if (c == '{' || c == '[') return Container(i, depth, c == '{');
    if (c == '-' || IsDigit(c)) return NumberNode(i);
    const uint32_t at = static_cast<uint32_t>(i);
    const uint32_t next = static_cast<uint32_t>(used_ + 1);
    if (t.compare(i, 4, "null") == 0) {
        Push(JsonType::Null, false, false, at, at + 4, next, 0);
        i += 4;
    } else if (t.compare(i, 4, "true") == 0) {
        Push(JsonType::Bool, false, true, at, at + 4, next, 0);
        i += 4;
    } else if (t.compare(i, 5, "false") == 0) {
        Push(JsonType::Bool, false, false, at, at + 5, next, 0);
        i += 5;
    } else {
        return Fail(i, "not a JSON value");
    }
    return true;
}

bool JsonDocument::StringNode(size_t& i) {
    const std::string& t = *text_;
    const size_t begin = ++i;  // past the quote
    bool escaped = false;
    const size_t size = t.size();
    const char* data = t.data();
    while (true) {
        while (i < size && kPlain.plain[static_cast<unsigned char>(data[i])]) ++i;
        if (i >= size) return Fail(begin - 1, "a string is not closed");
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '"') break;
        if (c < 0x20) return Fail(i, "a control character in a string");
        if (c == '\\') {
            escaped = true;
            if (i + 1 >= t.size()) return Fail(i, "a string is not closed");
            const char e = t[i + 1];
            if (e == 'u') {
                if (Hex4(t, i + 2) < 0) return Fail(i, "a bad \\u escape");
                i += 6;
            } else if (std::strchr("\"\\/bfnrt", e) && e != '\0') {
                i += 2;
            } else {
                return Fail(i, "a bad escape");
            }
        } else if (c < 0x80) {
            ++i;
        } else {
            const Utf8Step step = DecodeUtf8(t, i);
            if (!step.ok) return Fail(i, "not UTF-8");
            i += step.length;
        }
    }
    Push(JsonType::String, escaped, false, static_cast<uint32_t>(begin), static_cast<uint32_t>(i),
                      static_cast<uint32_t>(used_ + 1), 0);
    ++i;  // past the closing quote
    return true;
}

bool JsonDocument::NumberNode(size_t& i) {
    const std::string& t = *text_;
    const size_t begin = i;
    if (t[i] == '-') ++i;
    if (i < t.size() && t[i] == '0') {
        ++i;
    } else {
        if (i >= t.size() || !IsDigit(t[i])) return Fail(begin, "a bad number");
        while (i < t.size() && IsDigit(t[i])) ++i;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        if (i >= t.size() || !IsDigit(t[i])) return Fail(begin, "a bad number");
        while (i < t.size() && IsDigit(t[i])) ++i;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        if (i >= t.size() || !IsDigit(t[i])) return Fail(begin, "a bad number");
        while (i < t.size() && IsDigit(t[i])) ++i;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(t.data() + begin, t.data() + i, value);
    if (ec != std::errc() || end != t.data() + i) return Fail(begin, "a number out of range");
    Push(JsonType::Number, false, false, static_cast<uint32_t>(begin), static_cast<uint32_t>(i),
                      static_cast<uint32_t>(used_ + 1), value);
    return true;
}

bool JsonDocument::Container(size_t& i, int depth, bool object) {
    if (depth >= kMaxDepth) return Fail(i, "nested too deep");
    const std::string& t = *text_;
    const size_t self = used_;
    Push(object ? JsonType::Object : JsonType::Array, false, false, static_cast<uint32_t>(i), 0, 0, 0);
    const char close = object ? '}' : ']';
    ++i;
    SkipSpace(i);
    if (i < t.size() && t[i] == close) {
        ++i;
    } else {
        while (true) {
            if (object) {
                if (i >= t.size() || t[i] != '"') return Fail(i, "a member name is missing");
                if (!StringNode(i)) return false;
                SkipSpace(i);
                if (i >= t.size() || t[i] != ':') return Fail(i, "':' is missing");
                ++i;
                SkipSpace(i);
            }
            if (!Value(i, depth + 1)) return false;
            SkipSpace(i);
            if (i < t.size() && t[i] == ',') {
                ++i;
                SkipSpace(i);
                continue;
            }
            if (i < t.size() && t[i] == close) {
                ++i;
                break;
            }
            return Fail(i, object ? "',' or '}' is missing" : "',' or ']' is missing");
        }
    }
    nodes_[self].end = static_cast<uint32_t>(i);
    nodes_[self].after = static_cast<uint32_t>(used_);
    return true;
}

bool JsonDocument::Equal(const Node& key, std::string_view name) const {
    if (!key.escaped)
        return key.end - key.begin == name.size() && std::memcmp(text_->data() + key.begin, name.data(), name.size()) == 0;
    std::string decoded;
    Unescape(key, decoded);
    return decoded == name;
}

void JsonDocument::Unescape(const Node& n, std::string& out) const {
    const std::string& t = *text_;
    out.clear();
    if (!n.escaped) {
        out.assign(t, n.begin, n.end - n.begin);
        return;
    }
    for (size_t i = n.begin; i < n.end;) {
        if (t[i] != '\\') {
            out.push_back(t[i++]);
            continue;
        }
        const char e = t[i + 1];
        i += 2;
        switch (e) {
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                uint32_t c = static_cast<uint32_t>(Hex4(t, i));
                i += 4;
                if (c >= 0xD800 && c <= 0xDBFF && i + 6 <= n.end && t[i] == '\\' && t[i + 1] == 'u') {
                    const long low = Hex4(t, i + 2);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
                        i += 6;
                    }
                }
                if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate has no UTF-8 form
                AppendUtf8(out, c);
                break;
            }
            default: out.push_back(e);  // " \ /
        }
    }
}

bool JsonValue::Is(JsonType type) const { return doc_ && doc_->nodes_[index_].type == type; }

JsonValue JsonValue::operator[](std::string_view key) const {
    if (!IsObject()) return {};
    const auto& nodes = doc_->nodes_;
    for (uint32_t k = index_ + 1; k < nodes[index_].after; k = nodes[k + 1].after)
        if (doc_->Equal(nodes[k], key)) return JsonValue(doc_, k + 1);
    return {};
}

std::vector<JsonValue> JsonValue::Elements() const {
    std::vector<JsonValue> out;
    if (!IsObject() && !IsArray()) return out;
    const auto& nodes = doc_->nodes_;
    const bool object = IsObject();
    for (uint32_t k = index_ + 1; k < nodes[index_].after;) {
        const uint32_t v = object ? k + 1 : k;
        out.push_back(JsonValue(doc_, v));
        k = nodes[v].after;
    }
    return out;
}

bool JsonValue::Bool() const { return Is(JsonType::Bool) && doc_->nodes_[index_].truth; }

double JsonValue::Number() const { return IsNumber() ? doc_->nodes_[index_].number : 0.0; }

std::string JsonValue::String() const {
    std::string out;
    GetString(out);
    return out;
}

bool JsonValue::GetString(std::string& out) const {
    if (!IsString()) return false;
    doc_->Unescape(doc_->nodes_[index_], out);
    return true;
}

}  // namespace zl
