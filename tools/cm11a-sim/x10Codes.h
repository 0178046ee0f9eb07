// The X10 codes as the simulator names them: a house code in the high nibble of
// a byte, a unit or function code in the low nibble, written as "A1" or "A-ON"
// for its log, its upload builder and its command parser. The code tables
// themselves are the plug-in's (protocol/x10Codes.h); they are permutations of
// 0..15, so every byte decodes.
#pragma once

#include "protocol/x10Codes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cm11a {

// House letter 'A'..'P' of the high nibble of a byte.
char houseLetter(uint8_t byte);
// Unit number 1..16 of the low nibble of a byte.
int unitNumber(uint8_t byte);
// "A1" for the address byte 0x66.
std::string addressName(uint8_t byte);
// "ON", "OFF", "DIM", ... for a function code 0..15.
std::string functionName(uint8_t code);
// "A-ON" for the function byte 0x62.
std::string functionByteName(uint8_t byte);

// "A1" .. "P16" (house letter in either case) to the address byte.
std::optional<uint8_t> parseAddress(const std::string& text);
// "A-ON", "a-off", "A-DIM", "A-F4" (0..15) to the function byte.
std::optional<uint8_t> parseFunctionByte(const std::string& text);

// Lower-case hex bytes separated by single spaces: "04 66".
std::string hexBytes(const std::vector<uint8_t>& bytes);
// One byte written as 1 or 2 hex digits, with or without "0x".
std::optional<uint8_t> parseHexByte(const std::string& text);

// Describes an upload (size byte, mask, data bytes) the way the plug-in reads
// it: bit k of the mask marks data byte k as a function byte, for k below 8.
std::string describeUpload(const std::vector<uint8_t>& upload);

} // namespace cm11a
