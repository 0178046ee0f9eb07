// The X10 code tables and the bytes of the controller's serial protocol.
//
// A module is named by one code byte: its house code in the high nibble and
// its unit code in the low nibble. A function byte carries the house code in
// the high nibble and the function in the low nibble.
#pragma once

#include <cstdint>

// House codes A to P, by house index 0 to 15.
inline constexpr uint8_t houseCodes[16] = {0x60, 0xE0, 0x20, 0xA0, 0x10, 0x90, 0x50, 0xD0,
                                           0x70, 0xF0, 0x30, 0xB0, 0x00, 0x80, 0x40, 0xC0};
// Unit codes 1 to 16, by unit index 0 to 15.
inline constexpr uint8_t unitCodes[16] = {0x06, 0x0E, 0x02, 0x0A, 0x01, 0x09, 0x05, 0x0D,
                                          0x07, 0x0F, 0x03, 0x0B, 0x00, 0x08, 0x04, 0x0C};

// The code byte of house index `house` and unit index `unit`; false, and
// nothing written, when either lies outside 0..15.
inline bool x10CodeByte(int32_t house, int32_t unit, uint8_t* code) {
    if (house < 0 || house > 15 || unit < 0 || unit > 15 || code == nullptr) return false;
    *code = static_cast<uint8_t>(houseCodes[house] | unitCodes[unit]);
    return true;
}

// Functions (low nibble of a function byte) that the plug-in sends and reacts to.
constexpr uint8_t kX10FunctionOn = 2;
constexpr uint8_t kX10FunctionOff = 3;

// Bytes on the wire.
constexpr uint8_t kX10AddressHeader = 0x04; // address frame, dim count 0
constexpr uint8_t kX10AddressHeaderAlt =
    0x0C;                                    // the same with dim field 1, which an address ignores
constexpr uint8_t kX10FunctionHeader = 0x06; // function frame; dims in bits 3 to 7
constexpr uint8_t kX10Ack = 0x00;
constexpr uint8_t kX10Ready = 0x55;
constexpr uint8_t kX10Poll = 0x5A;
constexpr uint8_t kX10PollAnswer = 0xC3;
constexpr uint8_t kX10ClockRequest = 0xA5;
constexpr uint8_t kX10ClockRequestAlt = 0xA6;
constexpr uint8_t kX10ClockFirst = 0x9B;
constexpr uint8_t kX10ClockLast = 0x61;
