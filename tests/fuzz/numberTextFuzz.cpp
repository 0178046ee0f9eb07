// Fuzz target: the number text engine against the C runtime. An input is a text
// (up to its first zero byte) and, in its first eight bytes, a double and a
// 64-bit integer. The engine must agree with glibc, which rounds exactly, in the
// C locale: formatReal with "%f" (or "%.17g" where "%f" does not fit, and then
// the text reads back to the same double), formatInteger with "%lld" and back,
// scanReal with strtod (value, sign and end) on texts without the hex and
// "inf"/"nan" forms it does not read, scanInteger with strtoll saturated.
#include "value/numberText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace numberText;

void require(bool condition) {
    if (!condition) std::abort();
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkReal(double value) {
    char text[realTextSize];
    formatReal(value, text);
    char expected[400];
    int length = std::snprintf(expected, sizeof expected, "%f", value);
    if (static_cast<size_t>(length) < realTextSize) {
        require(std::strcmp(text, expected) == 0);
        return;
    }
    std::snprintf(expected, sizeof expected, "%.17g", value);
    require(std::strcmp(text, expected) == 0);
    const char* end;
    require(sameBits(scanReal(text, &end), value) && *end == '\0');
}

void checkInteger(int64_t value) {
    char text[21];
    size_t length = formatInteger(value, text);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%lld", static_cast<long long>(value));
    require(length == std::strlen(expected) && std::strcmp(text, expected) == 0);
    require(scanInteger(text, INT64_MIN, INT64_MAX) == value);
}

// Whether strtod would read a form scanReal leaves alone: hex, "inf", "nan".
bool hasOtherRealForm(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-') ++p;
    char c = static_cast<char>(*p | 0x20);
    return c == 'i' || c == 'n' || (p[0] == '0' && (p[1] | 0x20) == 'x');
}

void checkScans(const char* text) {
    const char* end;
    double value = scanReal(text, &end);
    if (!hasOtherRealForm(text)) {
        char* expectedEnd;
        double expected = std::strtod(text, &expectedEnd);
        require(sameBits(value, expected) && end == expectedEnd);
    }
    checkReal(value);

    long long wide = std::strtoll(text, nullptr, 10);
    require(scanInteger(text, INT64_MIN, INT64_MAX) == wide);
    long long narrow = wide < INT32_MIN ? INT32_MIN : wide > INT32_MAX ? INT32_MAX : wide;
    require(scanInteger(text, INT32_MIN, INT32_MAX) == narrow);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkScans(text.c_str());
    if (size >= 8) {
        double real;
        int64_t integer;
        std::memcpy(&real, data, sizeof real);
        std::memcpy(&integer, data, sizeof integer);
        checkReal(real);
        checkInteger(integer);
    }
    return 0;
}
