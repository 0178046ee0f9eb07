// Numbers as kvq-host's users write them, on the command line and in the
// commands of watch --commands.
#pragma once

#include <cstdint>
#include <string>

namespace kvqhost {

// Decimal or 0x hexadecimal, no sign, at most `max`.
bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value);
// A command code: like parseUnsigned up to 2^64-1, or a negative decimal
// (stored as its 64-bit two's complement).
bool parseCode(const std::string& text, uint64_t& value);
// Seconds: a non-negative decimal number, at most one million.
bool parseSeconds(const std::string& text, double& value);

} // namespace kvqhost
