// A strict JSON reader for one text at a time (a record line): RFC 8259, UTF-8 checked
// with the project's strict decoder, nesting at most 64 deep. The parsed document is a
// flat list of nodes that point into the text; strings are unescaped only when asked for.
// One document is meant to be reused line after line: its storage is kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zl {

enum class JsonType : uint8_t { Null, Bool, Number, String, Array, Object };

class JsonDocument;

// A value in a parsed document, or nothing (a missing member, a wrong index).
class JsonValue {
public:
    JsonValue() = default;
    bool Exists() const { return doc_ != nullptr; }
    bool Is(JsonType type) const;
    bool IsNull() const { return Is(JsonType::Null); }
    bool IsString() const { return Is(JsonType::String); }
    bool IsNumber() const { return Is(JsonType::Number); }
    bool IsObject() const { return Is(JsonType::Object); }
    bool IsArray() const { return Is(JsonType::Array); }

    // An object's member (the first of that name), or nothing.
    JsonValue operator[](std::string_view key) const;
    // An array's elements or an object's values, in order.
    std::vector<JsonValue> Elements() const;

    bool Bool() const;            // false unless a true
    double Number() const;        // 0 unless a number
    std::string String() const;   // unescaped UTF-8; empty unless a string
    // Sets out to the string and returns true when this is a string (out keeps its storage).
    bool GetString(std::string& out) const;

private:
    friend class JsonDocument;
    JsonValue(const JsonDocument* doc, uint32_t index) : doc_(doc), index_(index) {}
    const JsonDocument* doc_ = nullptr;
    uint32_t index_ = 0;
};

class JsonDocument {
public:
    // Parses text whole; false (and Root() is nothing) when it is not one JSON value.
    // The values point into text: keep it unchanged while they are read.
    bool Parse(const std::string& text);
    bool Parse(std::string&& text) = delete;  // the values would point into a text gone
    JsonValue Root() const { return used_ == 0 ? JsonValue() : JsonValue(this, 0); }
    // Where parsing stopped and why, for messages ("byte 17: ...").
    const std::string& Error() const { return error_; }

private:
    friend class JsonValue;
    struct Node {
        JsonType type;
        bool escaped;       // a string with escapes: unescape when read
        bool truth;         // a Bool's value
        uint32_t begin;     // a string's content, a number's text
        uint32_t end;
        uint32_t after;     // the index of the node after this value and all it holds
        double number;
    };
    void Push(JsonType type, bool escaped, bool truth, uint32_t begin, uint32_t end, uint32_t after, double number);
    bool Value(size_t& i, int depth);
    bool StringNode(size_t& i);
    bool NumberNode(size_t& i);
    bool Container(size_t& i, int depth, bool object);
    bool Fail(size_t at, const char* why);
    void SkipSpace(size_t& i) const;
    bool Equal(const Node& key, std::string_view name) const;
    void Unescape(const Node& n, std::string& out) const;

    const std::string* text_ = nullptr;
    std::vector<Node> nodes_;  // the first used_ are this text's
    size_t used_ = 0;
    std::string error_;
};

}  // namespace zl
