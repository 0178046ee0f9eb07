// The character tests shared by the text conversions of values (numbers,
// GUIDs, `parse`). They are written out rather than taken from <cctype>, so
// that no locale changes what a value reads from a text.
#pragma once

#include <cstddef>

namespace chars {

// White space as the C locale's isspace sees it (skipped by the number scans).
inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit of either case, or -1.
inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of `text`, but never more than `limit` (reads no further than either).
inline size_t boundedLength(const char* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != '\0')
        ++n;
    return n;
}

} // namespace chars
