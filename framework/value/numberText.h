// Number text: the decimal text forms of integers and doubles, and the reading
// of numbers from texts, as vValue converts them. Scanning and formatting are
// done here rather than through the C runtime's printf/scanf families, so that
// the texts and the numbers read from them are the same on every target and in
// every locale ("." is always the decimal point). The forms are those of "%lld",
// "%f" (with "%.17g" for magnitudes too long for a value's text) and "%d"/"%lf"
// reading with C-locale rules; only plain decimal syntax is read (no hex, no
// "inf" or "nan" words).
#pragma once

#include <cstddef>
#include <cstdint>

namespace numberText {

// The room formatReal needs: the size of a value's conversion buffer.
constexpr size_t realTextSize = 64;

// Writes the decimal form of `value` (with its terminator) to `out`, which has
// room for at least 21 bytes; returns the length.
size_t formatInteger(int64_t value, char* out);

// Reads a signed decimal integer as "%d" does: leading white space, an optional
// sign, then digits as far as they go. No digits give 0. Digits beyond the range
// [lowest, highest] saturate at the nearer limit.
int64_t scanInteger(const char* text, int64_t lowest, int64_t highest);

// Reads the longest prefix of `text` in plain decimal syntax (leading white
// space, optional sign, digits with an optional fraction, optional exponent) and
// returns its value, correctly rounded; `end` receives the first character after
// it, or `text` itself when no number is there (and the result is 0.0).
double scanReal(const char* text, const char** end);

// Writes the "%f" form of `value` (six digits after the point, exact decimal
// rounding with ties to even) into `out` of realTextSize bytes. Magnitudes whose
// "%f" form would not fit are written in the "%.17g" form instead; infinities
// and NaNs as "inf", "-inf", "nan", "-nan".
void formatReal(double value, char* out);

} // namespace numberText
