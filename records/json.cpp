#include "records/json.h"

#include <cmath>
#include <cstdio>

#include "platform/text_convert.h"

namespace zl {
namespace {

// The length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t c;
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) len = 2, c = b & 0x1F;
    else if ((b & 0xF0) == 0xE0) len = 3, c = b & 0x0F;
    else if ((b & 0xF8) == 0xF0) len = 4, c = b & 0x07;
    else return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) return 0;
        c = (c << 6) | (cb & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[len] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
    return len;
}

}  // namespace

std::string JsonQuote(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const size_t len = Utf8Length(s, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (len == 1) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "\\u%04x", c);
                        out += buf;
                    } else {
                        out.push_back(static_cast<char>(c));
                    }
            }
        } else {
            out.append(s, i, len);
        }
        i += len;
    }
    return out + "\"";
}

std::string JsonQuote(const std::u16string& text) { return JsonQuote(ToUtf8(text)); }

JsonObject& JsonObject::Real(const char* key, double value, int decimals) {
    if (!std::isfinite(value)) return Null(key);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return Raw(key, buf);
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json) {
    if (body_.size() > 1) body_ += ",";
    body_ += JsonQuote(std::string(key));
    body_ += ":";
    body_ += json;
    return *this;
}

}  // namespace zl
