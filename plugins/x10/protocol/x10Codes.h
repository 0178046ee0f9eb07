// The X10 code tables and the bytes of the controller's serial protocol: the
// one vocabulary of the line, for the plug-in, cm11a-sim and kvq-host's probe.
// Header only and free of the framework, so that the tools take it (CMake
// target x10_codes) without linking anything of the plug-in.
//
// A module is named by one code byte: its house code in the high nibble and
// its unit code in the low nibble. A function byte carries the house code in
// the high nibble and the function in the low nibble.
#pragma once

#include <cstddef>
#include <cstdint>

// House codes A to P, by house index 0 to 15.
inline constexpr uint8_t houseCodes[16] = {0x60, 0xE0, 0x20, 0xA0, 0x10, 0x90, 0x50, 0xD0,
                                           0x70, 0xF0, 0x30, 0xB0, 0x00, 0x80, 0x40, 0xC0};
// Unit codes 1 to 16, by unit index 0 to 15.
inline constexpr uint8_t unitCodes[16] = {0x06, 0x0E, 0x02, 0x0A, 0x01, 0x09, 0x05, 0x0D,
                                          0x07, 0x0F, 0x03, 0x0B, 0x00, 0x08, 0x04, 0x0C};

// House index 0..15 (A..P) of the high nibble of `byte`.
inline int x10HouseIndex(uint8_t byte) {
    for (int i = 0; i < 16; ++i)
        if (houseCodes[i] == (byte & 0xF0)) return i;
    return 0; // unreachable: the table covers every nibble
}
// Unit index 0..15 (units 1..16) of the low nibble of `byte`.
inline int x10UnitIndex(uint8_t byte) {
    for (int i = 0; i < 16; ++i)
        if (unitCodes[i] == (byte & 0x0F)) return i;
    return 0; // unreachable
}

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
constexpr uint8_t kX10FunctionDim = 4;
constexpr uint8_t kX10FunctionBright = 5;

// Bytes on the wire. A header byte with bit 2 set starts a two-byte frame; its
// bit 1 tells a function frame from an address frame, bit 0 marks an extended
// frame and bits 3 to 7 carry the dim count.
constexpr uint8_t kX10HeaderFrameBit = 0x04;
constexpr uint8_t kX10HeaderFunctionBit = 0x02;
constexpr uint8_t kX10HeaderExtendedBit = 0x01;
constexpr uint8_t kX10AddressHeader = 0x04; // address frame, dim count 0
constexpr uint8_t kX10AddressHeaderAlt =
    0x0C;                                    // the same with dim field 1, which an address ignores
constexpr uint8_t kX10FunctionHeader = 0x06; // function frame; dims in bits 3 to 7
constexpr uint8_t kX10Ack = 0x00;
constexpr uint8_t kX10Ready = 0x55;
constexpr uint8_t kX10Poll = 0x5A;
constexpr uint8_t kX10PollAnswer = 0xC3;
// After the poll answer: the size byte (mask and data bytes, 1 to 9: the
// controller's buffer holds the size byte, the mask and at most 8 data bytes).
constexpr uint8_t kX10MaxUploadSize = 9;
// A macro report: this byte and the two bytes of the macro's address. The
// controller expects no answer.
constexpr uint8_t kX10MacroReport = 0x5B;
constexpr size_t kX10MacroAddressSize = 2;
constexpr uint8_t kX10ClockRequest = 0xA5;
constexpr uint8_t kX10ClockRequestAlt = 0xA6;
constexpr uint8_t kX10ClockFirst = 0x9B;
constexpr uint8_t kX10ClockLast = 0x61;
constexpr size_t kX10ClockFrameSize = 7; // kX10ClockFirst, the clock's five bytes, kX10ClockLast
constexpr uint8_t kX10StatusRequest = 0x8B;
constexpr size_t kX10StatusSize = 14; // the answer to kX10StatusRequest

// The line setting: 4800 bit/s, 8 data bits, no parity, 1 stop bit.
constexpr uint32_t kX10BaudRate = 4800;

// The controller's clock as five bytes, in the clock frame (after its header)
// and in the status answer (bytes 2-6): seconds; minutes, plus 60 in an odd
// hour; hour / 2; day of the year, low 8 bits; its ninth bit in bit 7 with
// the weekday mask in bits 0-6 (bit 0 Sunday).
struct X10Clock {
    int second = 0, minute = 0, hour = 0;
    int yday = 0;     // 0..365
    int weekday = -1; // 0 = Sunday; -1 when the mask has not exactly one bit
};
constexpr size_t kX10ClockSize = 5;

inline void x10EncodeClock(const X10Clock& c, uint8_t* out) {
    out[0] = static_cast<uint8_t>(c.second);
    out[1] = static_cast<uint8_t>(c.hour % 2 * 60 + c.minute);
    out[2] = static_cast<uint8_t>(c.hour / 2);
    out[3] = static_cast<uint8_t>(c.yday & 0xFF);
    out[4] = static_cast<uint8_t>(((c.yday >> 8) << 7) | (1 << c.weekday));
}

inline X10Clock x10DecodeClock(const uint8_t* in) {
    X10Clock c;
    c.second = in[0];
    c.minute = in[1] % 60;
    c.hour = in[2] * 2 + (in[1] >= 60 ? 1 : 0);
    c.yday = in[3] | ((in[4] & 0x80) << 1);
    for (int i = 0; i < 7; ++i)
        if ((in[4] & 0x7F) == (1 << i)) c.weekday = i;
    return c;
}

// Whether every field of the five bytes is in range.
inline bool x10ClockValid(const uint8_t* in) {
    X10Clock c = x10DecodeClock(in);
    return in[0] <= 59 && in[1] <= 119 && in[2] <= 11 && c.yday <= 365 && c.weekday >= 0;
}

// The status answer: battery timer (2 bytes, high first), the clock (5 bytes),
// the monitored house's code nibble << 4 | firmware revision, then three unit
// bitmaps of the monitored house (2 bytes each, high first; bit n = unit n+1):
// addressed, on, dimmed.
struct X10Status {
    uint16_t batteryTimer = 0;
    X10Clock clock;
    uint8_t house = 0; // code nibble (0x6 = A)
    uint8_t firmware = 0;
    uint16_t addressed = 0, on = 0, dimmed = 0;
};

inline void x10EncodeStatus(const X10Status& s, uint8_t* out) {
    out[0] = static_cast<uint8_t>(s.batteryTimer >> 8);
    out[1] = static_cast<uint8_t>(s.batteryTimer & 0xFF);
    x10EncodeClock(s.clock, out + 2);
    out[7] = static_cast<uint8_t>(s.house << 4 | (s.firmware & 0x0F));
    const uint16_t maps[3] = {s.addressed, s.on, s.dimmed};
    for (int i = 0; i < 3; ++i) {
        out[8 + 2 * i] = static_cast<uint8_t>(maps[i] >> 8);
        out[9 + 2 * i] = static_cast<uint8_t>(maps[i] & 0xFF);
    }
}

// Decodes `in` into `s`; false when it cannot be a status answer (a clock
// field out of range).
inline bool x10DecodeStatus(const uint8_t* in, X10Status& s) {
    s.batteryTimer = static_cast<uint16_t>(in[0] << 8 | in[1]);
    s.clock = x10DecodeClock(in + 2);
    s.house = static_cast<uint8_t>(in[7] >> 4);
    s.firmware = static_cast<uint8_t>(in[7] & 0x0F);
    s.addressed = static_cast<uint16_t>(in[8] << 8 | in[9]);
    s.on = static_cast<uint16_t>(in[10] << 8 | in[11]);
    s.dimmed = static_cast<uint16_t>(in[12] << 8 | in[13]);
    return x10ClockValid(in + 2);
}
