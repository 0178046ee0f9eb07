#include "x10Codes.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace cm11a {

namespace {

const char* const kFunctionNames[16] = {"ALL-UNITS-OFF",
                                        "ALL-LIGHTS-ON",
                                        "ON",
                                        "OFF",
                                        "DIM",
                                        "BRIGHT",
                                        "ALL-LIGHTS-OFF",
                                        "EXTENDED-CODE",
                                        "HAIL-REQUEST",
                                        "HAIL-ACK",
                                        "PRESET-DIM-1",
                                        "PRESET-DIM-2",
                                        "EXTENDED-DATA",
                                        "STATUS-ON",
                                        "STATUS-OFF",
                                        "STATUS-REQUEST"};

std::string upper(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Parses a whole decimal number in [lo, hi].
std::optional<int> parseNumber(const std::string& text, int lo, int hi) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    int value = std::atoi(text.c_str());
    if (value < lo || value > hi) return std::nullopt;
    return value;
}

std::optional<int> parseHouse(char letter) {
    int c = std::toupper(static_cast<unsigned char>(letter));
    if (c < 'A' || c > 'P') return std::nullopt;
    return c - 'A';
}

} // namespace

char houseLetter(uint8_t byte) {
    return static_cast<char>('A' + x10HouseIndex(byte));
}

int unitNumber(uint8_t byte) {
    return x10UnitIndex(byte) + 1;
}

std::string addressName(uint8_t byte) {
    return std::string(1, houseLetter(byte)) + std::to_string(unitNumber(byte));
}

std::string functionName(uint8_t code) {
    return kFunctionNames[code & 0x0F];
}

std::string functionByteName(uint8_t byte) {
    return std::string(1, houseLetter(byte)) + "-" + functionName(byte & 0x0F);
}

std::optional<uint8_t> parseAddress(const std::string& text) {
    if (text.size() < 2) return std::nullopt;
    auto house = parseHouse(text[0]);
    auto unit = parseNumber(text.substr(1), 1, 16);
    if (!house || !unit) return std::nullopt;
    return static_cast<uint8_t>(houseCodes[*house] | unitCodes[*unit - 1]);
}

std::optional<uint8_t> parseFunctionByte(const std::string& text) {
    if (text.size() < 3 || text[1] != '-') return std::nullopt;
    auto house = parseHouse(text[0]);
    if (!house) return std::nullopt;
    std::string name = upper(text.substr(2));
    std::optional<int> code;
    for (int i = 0; i < 16; ++i)
        if (name == kFunctionNames[i]) code = i;
    if (!code && name.size() > 1 && name[0] == 'F') code = parseNumber(name.substr(1), 0, 15);
    if (!code) return std::nullopt;
    return static_cast<uint8_t>(houseCodes[*house] | *code);
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

std::optional<uint8_t> parseHexByte(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2) return std::nullopt;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

std::string describeUpload(const std::vector<uint8_t>& upload) {
    if (upload.empty()) return "empty upload";
    std::string out = "upload size " + std::to_string(upload[0]);
    if (upload.size() < 2) return out;
    uint8_t mask = upload[1];
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x", mask);
    out += " mask ";
    out += buf;
    out += ":";
    for (size_t i = 2; i < upload.size(); ++i) {
        size_t k = i - 2;
        bool function = k < 8 && (mask >> k) & 1;
        out += ' ';
        out += function ? functionByteName(upload[i]) : addressName(upload[i]);
    }
    if (upload.size() != static_cast<size_t>(upload[0]) + 1)
        out += " (size byte disagrees with " + std::to_string(upload.size() - 1) + " bytes)";
    return out;
}

} // namespace cm11a
