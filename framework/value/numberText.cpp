// The number text engine: integers by plain digit loops, double to text by an
// exact big-integer expansion of the binary value, text to double by collecting
// the decimal digits and handing one plain digits-and-exponent text to strtod
// (the only part left to the C runtime, and a text every runtime reads alike).
#include "value/numberText.h"

#include "value/characters.h"

#include <cstdlib>
#include <cstring>

namespace numberText {

using chars::isDigit;
using chars::isSpace;

// ---- integers -------------------------------------------------------------

size_t formatInteger(int64_t value, char* out) {
    char digits[20];
    size_t count = 0;
    uint64_t magnitude = value < 0 ? 0u - static_cast<uint64_t>(value) : value;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t length = 0;
    if (value < 0) out[length++] = '-';
    while (count > 0)
        out[length++] = digits[--count];
    out[length] = '\0';
    return length;
}

int64_t scanInteger(const char* text, int64_t lowest, int64_t highest) {
    const char* p = text;
    while (isSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!isDigit(*p)) return 0;
    uint64_t limit = negative ? 0u - static_cast<uint64_t>(lowest) : static_cast<uint64_t>(highest);
    uint64_t magnitude = 0;
    for (; isDigit(*p); ++p) {
        unsigned digit = static_cast<unsigned>(*p - '0');
        if (magnitude > (limit - digit) / 10)
            magnitude = limit;
        else
            magnitude = magnitude * 10 + digit;
    }
    if (!negative) return static_cast<int64_t>(magnitude);
    return magnitude == 0u - static_cast<uint64_t>(INT64_MIN) ? INT64_MIN
                                                              : -static_cast<int64_t>(magnitude);
}

// ---- reals: text to double ------------------------------------------------

double scanReal(const char* text, const char** end) {
    // Enough significant digits to round any decimal correctly; the digits
    // after them only matter through whether one of them is non-zero.
    constexpr size_t kKeptDigits = 800;
    const char* p = text;
    *end = text;
    while (isSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';

    char digits[kKeptDigits + 2];
    size_t kept = 0;
    bool droppedNonZero = false;
    int64_t droppedCount = 0;   // significant digits not kept
    int64_t fractionDigits = 0; // digits after the point
    bool anyDigit = false;
    auto take = [&](char c) {
        anyDigit = true;
        if (kept == 0 && c == '0') return; // leading zeros carry no value
        if (kept < kKeptDigits) {
            digits[kept++] = c;
        } else {
            ++droppedCount;
            if (c != '0') droppedNonZero = true;
        }
    };
    for (; isDigit(*p); ++p)
        take(*p);
    if (*p == '.') {
        ++p;
        for (; isDigit(*p); ++p) {
            take(*p);
            ++fractionDigits;
        }
    }
    if (!anyDigit) return 0.0;

    int64_t exponent = 0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool negativeExponent = false;
        if (*q == '+' || *q == '-') negativeExponent = *q++ == '-';
        if (isDigit(*q)) {
            for (; isDigit(*q); ++q)
                if (exponent < 1000000000) exponent = exponent * 10 + (*q - '0');
            if (negativeExponent) exponent = -exponent;
            p = q;
        }
    }
    *end = p;
    if (kept == 0) return negative ? -0.0 : 0.0;

    // value = digits * 10^(exponent - fractionDigits + droppedCount); a dropped
    // non-zero digit is kept as a trailing 1 so that ties round the right way.
    exponent += droppedCount - fractionDigits;
    if (droppedNonZero) {
        digits[kept++] = '1';
        --exponent;
    }
    // Beyond these bounds the result is 0 or infinity whatever the digits.
    if (exponent > 100000) exponent = 100000;
    if (exponent < -100000) exponent = -100000;
    char form[kKeptDigits + 16];
    std::memcpy(form, digits, kept);
    form[kept] = 'e';
    formatInteger(exponent, form + kept + 1);
    double value = std::strtod(form, nullptr);
    return negative ? -value : value;
}

// ---- reals: double to text ------------------------------------------------

namespace {

// An unsigned integer of up to 1280 bits, enough for any double times 10^6.
class BigNumber {
public:
    explicit BigNumber(uint64_t value) {
        limbs_[0] = static_cast<uint32_t>(value);
        limbs_[1] = static_cast<uint32_t>(value >> 32);
        size_ = 2;
        trim();
    }

    void multiply(uint32_t factor) {
        uint64_t carry = 0;
        for (int i = 0; i < size_; ++i) {
            uint64_t product = static_cast<uint64_t>(limbs_[i]) * factor + carry;
            limbs_[i] = static_cast<uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0) limbs_[size_++] = static_cast<uint32_t>(carry);
    }

    void shiftLeft(int bits) {
        int whole = bits / 32, part = bits % 32;
        for (int i = size_ - 1 + whole + 1; i >= 0; --i) {
            uint32_t high = limbAt(i - whole);
            uint32_t low = limbAt(i - whole - 1);
            limbs_[i] = part == 0 ? high : (high << part) | (low >> (32 - part));
        }
        size_ += whole + 1;
        trim();
    }

    void shiftRight(int bits) {
        int whole = bits / 32, part = bits % 32;
        for (int i = 0; i < size_; ++i) {
            uint32_t low = limbAt(i + whole);
            uint32_t high = limbAt(i + whole + 1);
            limbs_[i] = part == 0 ? low : (low >> part) | (high << (32 - part));
        }
        trim();
    }

    bool bit(int index) const { return (limbAt(index / 32) >> (index % 32)) & 1u; }

    // Whether any bit below `index` is set.
    bool anyBelow(int index) const {
        for (int i = 0; i < index / 32 && i < size_; ++i)
            if (limbs_[i] != 0) return true;
        uint32_t mask = (1u << (index % 32)) - 1u;
        return (limbAt(index / 32) & mask) != 0;
    }

    void increment() {
        for (int i = 0; i < size_; ++i)
            if (++limbs_[i] != 0) return;
        limbs_[size_++] = 1;
    }

    // Writes the decimal digits (no terminator); returns their number.
    size_t toDecimal(char* out) {
        uint32_t chunks[kLimbs * 10 / 9 + 2];
        int count = 0;
        do
            chunks[count++] = divide(1000000000u);
        while (size_ > 0);
        size_t length = formatInteger(chunks[count - 1], out);
        for (int i = count - 2; i >= 0; --i) {
            for (int d = 8; d >= 0; --d) {
                out[length + d] = static_cast<char>('0' + chunks[i] % 10);
                chunks[i] /= 10;
            }
            length += 9;
        }
        return length;
    }

private:
    static constexpr int kLimbs = 40;

    uint32_t limbAt(int i) const { return i >= 0 && i < size_ ? limbs_[i] : 0u; }

    void trim() {
        while (size_ > 0 && limbs_[size_ - 1] == 0)
            --size_;
    }

    uint32_t divide(uint32_t divisor) {
        uint64_t remainder = 0;
        for (int i = size_ - 1; i >= 0; --i) {
            uint64_t current = (remainder << 32) | limbs_[i];
            limbs_[i] = static_cast<uint32_t>(current / divisor);
            remainder = current % divisor;
        }
        trim();
        return static_cast<uint32_t>(remainder);
    }

    uint32_t limbs_[kLimbs] = {};
    int size_ = 0;
};

// Writes the "%.17g" form of the integer `mantissa` * 2^`exponent` (exponent
// >= 0, magnitude far beyond 10^17) with the given sign.
void formatSeventeenDigits(bool negative, uint64_t mantissa, int exponent, char* out) {
    BigNumber number(mantissa);
    number.shiftLeft(exponent);
    char digits[330];
    size_t count = number.toDecimal(digits);

    // Round to 17 significant digits, ties to even, on the exact digits.
    constexpr size_t kSignificant = 17;
    int decimalExponent = static_cast<int>(count) - 1;
    bool roundUp = false;
    if (count > kSignificant) {
        char next = digits[kSignificant];
        bool restNonZero = false;
        for (size_t i = kSignificant + 1; i < count && !restNonZero; ++i)
            restNonZero = digits[i] != '0';
        bool lastOdd = (digits[kSignificant - 1] - '0') % 2 != 0;
        roundUp = next > '5' || (next == '5' && (restNonZero || lastOdd));
        count = kSignificant;
    }
    if (roundUp) {
        size_t i = count;
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0) {
            digits[0] = '1'; // 99..9 became 100..0
            ++decimalExponent;
        } else {
            ++digits[i - 1];
        }
    }
    while (count > 1 && digits[count - 1] == '0')
        --count;

    size_t length = 0;
    if (negative) out[length++] = '-';
    out[length++] = digits[0];
    if (count > 1) {
        out[length++] = '.';
        std::memcpy(out + length, digits + 1, count - 1);
        length += count - 1;
    }
    out[length++] = 'e';
    out[length++] = decimalExponent < 0 ? '-' : '+';
    int magnitude = decimalExponent < 0 ? -decimalExponent : decimalExponent;
    if (magnitude < 10) out[length++] = '0';
    formatInteger(magnitude, out + length);
}

} // namespace

void formatReal(double value, char* out) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bool negative = (bits >> 63) != 0;
    int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0x7FF) {
        std::strcpy(out,
                    negative ? (fraction != 0 ? "-nan" : "-inf") : (fraction != 0 ? "nan" : "inf"));
        return;
    }
    uint64_t mantissa = biased == 0 ? fraction : fraction | (uint64_t{1} << 52);
    int exponent = biased == 0 ? -1074 : biased - 1075;

    // scaled = round(|value| * 10^6)
    BigNumber scaled(mantissa);
    scaled.multiply(1000000u);
    if (exponent >= 0) {
        scaled.shiftLeft(exponent);
    } else {
        int shift = -exponent;
        bool half = scaled.bit(shift - 1);
        bool sticky = scaled.anyBelow(shift - 1);
        scaled.shiftRight(shift);
        if (half && (sticky || scaled.bit(0))) scaled.increment();
    }
    char digits[330];
    size_t count = scaled.toDecimal(digits);
    size_t shown = count < 7 ? 7 : count; // at least "0.000000"
    if ((negative ? 1 : 0) + shown + 1 > realTextSize - 1) {
        formatSeventeenDigits(negative, mantissa, exponent, out);
        return;
    }
    size_t length = 0;
    if (negative) out[length++] = '-';
    if (count < shown) {
        std::memmove(digits + (shown - count), digits, count);
        std::memset(digits, '0', shown - count);
    }
    std::memcpy(out + length, digits, shown - 6);
    length += shown - 6;
    out[length++] = '.';
    std::memcpy(out + length, digits + shown - 6, 6);
    length += 6;
    out[length] = '\0';
}

} // namespace numberText
