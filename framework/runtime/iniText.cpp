#include "runtime/iniText.h"

#include "base/memory.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Span {
    const char* begin;
    const char* end;
};

Span trimmed(Span s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (s.begin < s.end && blank(*s.begin))
        ++s.begin;
    while (s.end > s.begin && blank(s.end[-1]))
        --s.end;
    return s;
}

// As the profile functions compare names: without regard to case.
bool sameName(Span s, const char* name) {
    size_t length = std::strlen(name);
    if (static_cast<size_t>(s.end - s.begin) != length) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (size_t i = 0; i < length; ++i)
        if (lower(s.begin[i]) != lower(name[i])) return false;
    return true;
}

const char* find(Span s, char c) {
    const void* at = std::memchr(s.begin, c, static_cast<size_t>(s.end - s.begin));
    return at != nullptr ? static_cast<const char*>(at) : s.end;
}

// UTF-16 LE code units as UTF-8 into `out` (3 bytes a unit at most); a lone
// surrogate becomes U+FFFD. The number of bytes written.
size_t utf8FromUtf16(const unsigned char* units, size_t count, char* out) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        unsigned long c = units[2 * i] | units[2 * i + 1] << 8;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count) {
            unsigned long low = units[2 * i + 2] | units[2 * i + 3] << 8;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        if (c < 0x80) {
            out[n++] = static_cast<char>(c);
        } else if (c < 0x800) {
            out[n++] = static_cast<char>(0xC0 | c >> 6);
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out[n++] = static_cast<char>(0xE0 | c >> 12);
            out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xF0 | c >> 18);
            out[n++] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return n;
}

IniLookup lookUp(Span text, const char* section, const char* key, char* value, size_t size) {
    bool inSection = false;
    while (text.begin < text.end) {
        const char* end = find(text, '\n');
        Span line = trimmed({text.begin, end});
        text.begin = end < text.end ? end + 1 : end;
        if (line.begin == line.end || *line.begin == ';') continue;
        if (*line.begin == '[') {
            inSection = sameName(trimmed({line.begin + 1, find(line, ']')}), section);
            continue;
        }
        if (!inSection) continue;
        const char* equals = find(line, '=');
        if (!sameName(trimmed({line.begin, equals}), key)) continue;
        Span found = trimmed({equals < line.end ? equals + 1 : equals, line.end});
        if (found.end - found.begin >= 2 && (*found.begin == '"' || *found.begin == '\'') &&
            found.end[-1] == *found.begin) {
            ++found.begin;
            --found.end;
        }
        size_t length = static_cast<size_t>(found.end - found.begin);
        if (length >= size) length = size - 1;
        std::memcpy(value, found.begin, length);
        value[length] = '\0';
        return kIniFound;
    }
    return kIniNotFound;
}

} // namespace

IniLookup iniValue(const char* bytes, size_t length, const char* section, const char* key,
                   char* value, size_t size) {
    if (value == nullptr || size == 0) return kIniNotFound;
    value[0] = '\0';
    if (bytes == nullptr || section == nullptr || key == nullptr) return kIniNotFound;
    const auto* mark = reinterpret_cast<const unsigned char*>(bytes);
    if (length >= 2 && mark[0] == 0xFE && mark[1] == 0xFF) return kIniUndecodable;
    if (length >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
        size_t units = (length - 2) / 2;
        char* text = static_cast<char*>(kvqAllocate(units * 3));
        size_t written = utf8FromUtf16(mark + 2, units, text);
        IniLookup found = lookUp({text, text + written}, section, key, value, size);
        std::free(text);
        return found;
    }
    size_t skip = length >= 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF ? 3 : 0;
    return lookUp({bytes + skip, bytes + length}, section, key, value, size);
}
