#include "value/guidText.h"

#include "value/characters.h"

#include <cstring>

using chars::boundedLength;
using chars::hexValue;
using chars::isDigit;
using chars::isSpace;

namespace {

// One "%Nx" conversion of scanf: white space skipped, then at most `width`
// characters of an optionally signed hex number with an optional 0x prefix.
bool scanHex(const char*& p, int width, uint32_t& out) {
    while (isSpace(*p))
        ++p;
    const char* q = p;
    int left = width;
    bool negative = false;
    if (left > 0 && (*q == '+' || *q == '-')) {
        negative = *q++ == '-';
        --left;
    }
    if (left > 2 && q[0] == '0' && (q[1] == 'x' || q[1] == 'X') && hexValue(q[2]) >= 0) {
        q += 2;
        left -= 2;
    }
    uint32_t value = 0;
    int digits = 0;
    for (; left > 0 && hexValue(*q) >= 0; ++q, --left, ++digits)
        value = value * 16 + static_cast<uint32_t>(hexValue(*q));
    if (digits == 0) return false;
    out = negative ? 0u - value : value;
    p = q;
    return true;
}

void hexDigits(uint32_t value, int count, char* out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = count - 1; i >= 0; --i, value >>= 4)
        out[i] = kHex[value & 0xF];
}

} // namespace

char* guidToText(const vGuid& guid, char* buffer) {
    if (buffer == nullptr) return nullptr;
    char* p = buffer;
    *p++ = '{';
    hexDigits(guid.Data1, 8, p);
    p += 8;
    *p++ = '-';
    hexDigits(guid.Data2, 4, p);
    p += 4;
    *p++ = '-';
    hexDigits(guid.Data3, 4, p);
    p += 4;
    *p++ = '-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) *p++ = '-';
        hexDigits(guid.Data4[i], 2, p);
        p += 2;
    }
    *p++ = '}';
    *p = '\0';
    return buffer;
}

vGuid textToGuid(const char* text) {
    vGuid result{};
    if (text == nullptr || boundedLength(text, 10) < 10) return result;
    // " { %08x - %04x - %04x - %02x%02x - %02x%02x%02x%02x%02x%02x } ": a
    // literal is preceded by any white space; a digit is the width of a field.
    static const char kPattern[] = "{8-4-4-22-222222";
    uint32_t fields[11] = {};
    int field = 0;
    const char* p = text;
    for (const char* step = kPattern; *step != '\0'; ++step) {
        if (isDigit(*step)) {
            if (!scanHex(p, *step - '0', fields[field])) break;
            ++field;
        } else {
            while (isSpace(*p))
                ++p;
            if (*p != *step) break;
            ++p;
        }
    }
    result.Data1 = fields[0];
    result.Data2 = static_cast<uint16_t>(fields[1]);
    result.Data3 = static_cast<uint16_t>(fields[2]);
    for (int i = 0; i < 8; ++i)
        result.Data4[i] = static_cast<uint8_t>(fields[3 + i]);
    return result;
}

int isGuidText(const char* text, int32_t length) {
    if (text == nullptr) return 0;
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    if (n < 38) return 0;
    // In order from the start, so that a terminator ends the test before
    // anything beyond it is read.
    for (size_t i = 0; i < 38; ++i) {
        char c = text[i];
        bool fits;
        if (i == 0)
            fits = c == '{';
        else if (i == 37)
            fits = c == '}';
        else if (i == 9 || i == 14 || i == 19 || i == 24)
            fits = c == '-';
        else
            fits = hexValue(c) >= 0;
        if (!fits) return 0;
    }
    return 1;
}
