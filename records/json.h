// A small JSON writer for one-line objects (records, command-line events). Strings are
// written as valid UTF-8: bytes that are not UTF-8 become U+FFFD.
#pragma once

#include <cstdint>
#include <string>

namespace zl {

// s as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& utf8);
std::string JsonQuote(const std::u16string& text);

class JsonObject {
public:
    JsonObject& Str(const char* key, const std::string& utf8) { return Raw(key, JsonQuote(utf8)); }
    JsonObject& Str(const char* key, const std::u16string& text) { return Raw(key, JsonQuote(text)); }
    JsonObject& Str(const char* key, const char* utf8) { return Raw(key, JsonQuote(std::string(utf8))); }
    JsonObject& Int(const char* key, int64_t value) { return Raw(key, std::to_string(value)); }
    JsonObject& Real(const char* key, double value, int decimals);
    JsonObject& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonObject& Null(const char* key) { return Raw(key, "null"); }
    // A value that is already JSON (a nested object).
    JsonObject& Raw(const char* key, const std::string& json);
    std::string Text() const { return body_ + "}"; }

private:
    std::string body_ = "{";
};

}  // namespace zl
