#include "json.h"

#include <cmath>
#include <cstdio>

namespace kvqtools {
namespace {

// Length of the valid UTF-8 sequence starting at s[i], 0 if there is none.
size_t utf8Length(const std::string& s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values above U+10FFFF are not valid.
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            size_t n = utf8Length(text, i);
            if (n) {
                out.append(text, i, n);
                i += n;
                continue;
            }
        }
        char buf[8];
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out + "\"";
}

void JsonObject::key(const std::string& k) {
    if (!body_.empty()) body_ += ",";
    body_ += jsonString(k) + ":";
}

JsonObject& JsonObject::text(const std::string& k, const std::string& value) {
    key(k);
    body_ += jsonString(value);
    return *this;
}

JsonObject& JsonObject::number(const std::string& k, int64_t value) {
    key(k);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::real(const std::string& k, double value, int decimals) {
    key(k);
    if (!std::isfinite(value)) {
        body_ += "null";
        return *this;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    body_ += buf;
    return *this;
}

JsonObject& JsonObject::boolean(const std::string& k, bool value) {
    key(k);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::null(const std::string& k) {
    key(k);
    body_ += "null";
    return *this;
}

JsonObject& JsonObject::texts(const std::string& k, const std::vector<std::string>& values) {
    std::string array = "[";
    for (size_t i = 0; i < values.size(); ++i)
        array += (i ? "," : "") + jsonString(values[i]);
    return raw(k, array + "]");
}

JsonObject& JsonObject::raw(const std::string& k, const std::string& json) {
    key(k);
    body_ += json;
    return *this;
}

} // namespace kvqtools
