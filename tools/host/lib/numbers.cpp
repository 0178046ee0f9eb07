#include "numbers.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kvqhost {

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    int base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (v > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    value = v;
    return true;
}

bool parseCode(const std::string& text, uint64_t& value) {
    if (!text.empty() && text[0] == '-') {
        uint64_t magnitude;
        if (text.size() < 2 || (text.size() > 2 && text[1] == '0' && text[2] == 'x')) return false;
        if (!parseUnsigned(text.substr(1), uint64_t(1) << 63, magnitude)) return false;
        value = ~magnitude + 1;
        return true;
    }
    return parseUnsigned(text, UINT64_MAX, value);
}

bool parseSeconds(const std::string& text, double& value) {
    if (text.empty() || !(text[0] == '.' || (text[0] >= '0' && text[0] <= '9'))) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (errno || !end || *end || !std::isfinite(v) || v < 0 || v > 1e6) return false;
    value = v;
    return true;
}

} // namespace kvqhost
