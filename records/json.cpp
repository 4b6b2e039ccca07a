#include "records/json.h"

#include <cmath>
#include <cstdio>

#include "platform/text_convert.h"

namespace zl {

std::string JsonQuote(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const Utf8Step step = DecodeUtf8(s, i);
        const size_t len = step.length;
        if (!step.ok) {
            out += "\\ufffd";
            i += len;
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
