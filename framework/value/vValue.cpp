// vValue: storage, conversions and the generic `parse`, plus the word and GUID
// helpers. Number scanning and formatting are done here rather than through the
// C runtime's printf/scanf families, so that the text forms and the numbers read
// from texts are the same on every target and in every locale ("." is always the
// decimal point). Only the final decimal-to-double rounding is left to strtod,
// and it is given a plain digits-and-exponent text that every runtime reads alike.
#include "value/vValue.h"

#include "tree/memory.h"

#include <cstdlib>
#include <cstring>

char conversionBuffer[64];

namespace {

constexpr size_t kConversionSize = sizeof(conversionBuffer);

// White space as the C locale's isspace sees it (skipped by the number scans).
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The blanks that `parse` trims: space, tab, CR, LF.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of `text`, but never more than `limit` (reads no further than either).
size_t boundedLength(const char* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != '\0')
        ++n;
    return n;
}

bool liesWithin(const char* p, const char* begin, size_t size) {
    auto at = reinterpret_cast<uintptr_t>(p);
    auto start = reinterpret_cast<uintptr_t>(begin);
    return at >= start && at - start < size;
}

// ---- integers -------------------------------------------------------------

// Writes the decimal form of `value` (with its terminator) to `out`, which has
// room for at least 21 bytes; returns the length.
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

// Reads a signed decimal integer as "%d" does: leading white space, an optional
// sign, then digits as far as they go. No digits give 0. Digits beyond the range
// [lowest, highest] saturate at the nearer limit.
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

// Truncates toward zero; values beyond the 64-bit range saturate, NaN gives 0.
int64_t truncateReal(double d) {
    if (d != d) return 0;
    if (d >= 9223372036854775808.0) return INT64_MAX;
    if (d < -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(d);
}

int32_t low32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

// ---- reals: text to double ------------------------------------------------

// Reads the longest prefix of `text` in plain decimal syntax (leading white
// space, optional sign, digits with an optional fraction, optional exponent) and
// returns its value; `end` receives the first character after it, or `text`
// itself when no number is there (and the result is 0.0).
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

// Writes the "%f" form of `value` (six digits after the point, exact decimal
// rounding with ties to even) into `out` of kConversionSize bytes. Magnitudes
// whose "%f" form would not fit are written in the "%.17g" form instead.
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
    if ((negative ? 1 : 0) + shown + 1 > kConversionSize - 1) {
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

// ---- GUIDs ----------------------------------------------------------------

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

// ---- vValue ---------------------------------------------------------------

vValue::vValue(const char* name) {
    std::memset(&payload_, 0, sizeof payload_);
    name_.set(name, false);
}

vValue::~vValue() {
    clear();
}

void vValue::setHeaderBit(uint32_t bit, bool on) {
    bit &= flag24Bit | flag25Bit | flag26Bit | lockedBit;
    header_ = on ? header_ | bit : header_ & ~bit;
}

void vValue::setTag(uint32_t tag) {
    header_ = (header_ & ~tagMask) | ((tag & 0xFu) << 28);
}

void vValue::clear() {
    if (kind() == longText) std::free(payload_.block);
    std::memset(&payload_, 0, sizeof payload_);
    setKind(empty);
}

const char* vValue::textForm(char* buffer) const {
    switch (kind()) {
    case shortText:
        return payload_.text;
    case longText:
        return payload_.block;
    case int32:
        formatInteger(payload_.i32, buffer);
        return buffer;
    case int64:
        formatInteger(payload_.i64, buffer);
        return buffer;
    case real:
        formatReal(payload_.d, buffer);
        return buffer;
    case guid:
        return guidToText(payload_.g, buffer);
    default:
        return nullptr;
    }
}

const char* vValue::asText() const {
    return textForm(conversionBuffer);
}

int32_t vValue::asInt() const {
    switch (kind()) {
    case shortText:
    case longText:
        return static_cast<int32_t>(scanInteger(asText(), INT32_MIN, INT32_MAX));
    case int32:
        return payload_.i32;
    case int64:
        return low32(payload_.i64);
    case real:
        return low32(truncateReal(payload_.d));
    default:
        return 0;
    }
}

int64_t vValue::asInt64() const {
    switch (kind()) {
    case shortText:
    case longText:
        return scanInteger(asText(), INT64_MIN, INT64_MAX);
    case int32:
        return payload_.i32;
    case int64:
        return payload_.i64;
    case real:
        return truncateReal(payload_.d);
    default:
        return 0;
    }
}

double vValue::asReal() const {
    const char* end;
    switch (kind()) {
    case shortText:
    case longText:
        return scanReal(asText(), &end);
    case int32:
        return payload_.i32;
    case int64:
        return static_cast<double>(payload_.i64);
    case real:
        return payload_.d;
    default:
        return 0.0;
    }
}

vGuid vValue::asGuid() const {
    if (kind() == guid) return payload_.g;
    return vGuid{};
}

int vValue::textEquals(const char* text) const {
    // A private buffer: `text` itself may be the shared conversion buffer.
    char buffer[kConversionSize];
    const char* own = textForm(buffer);
    if (text == nullptr) return own == nullptr ? 1 : 0;
    if (own == nullptr) return 0;
    return std::strcmp(own, text) == 0 ? 1 : 0;
}

void vValue::setText(const char* text, int32_t length) {
    if (isLocked()) return;
    if (text == nullptr) {
        clear();
        return;
    }
    // A given length never takes the copy past the text's terminator.
    size_t n = length < 0 ? std::strlen(text) : boundedLength(text, static_cast<size_t>(length));

    if (n < sizeof payload_.text) {
        // The text may be our own short text: take it out before clearing.
        char copy[sizeof payload_.text];
        std::memcpy(copy, text, n);
        clear();
        std::memcpy(payload_.text, copy, n);
        setKind(shortText);
        return;
    }
    if (kind() == longText) {
        char* block = payload_.block;
        size_t held = std::strlen(block);
        if (liesWithin(text, block, held + 1)) {
            // A tail of our own text: move it to the front, then shrink.
            std::memmove(block, text, n);
            block[n] = '\0';
            payload_.block = static_cast<char*>(kvqReallocate(block, n + 1));
        } else {
            block = static_cast<char*>(kvqReallocate(block, n + 1));
            std::memcpy(block, text, n);
            block[n] = '\0';
            payload_.block = block;
        }
        return;
    }
    auto* block = static_cast<char*>(kvqAllocate(n + 1));
    std::memcpy(block, text, n);
    block[n] = '\0';
    clear();
    payload_.block = block;
    setKind(longText);
}

void vValue::setInt(int32_t value) {
    if (isLocked()) return;
    clear();
    payload_.i32 = value;
    setKind(int32);
}

void vValue::setInt64(int64_t value) {
    if (isLocked()) return;
    clear();
    payload_.i64 = value;
    setKind(int64);
}

void vValue::setReal(double value) {
    if (isLocked()) return;
    clear();
    payload_.d = value;
    setKind(real);
}

void vValue::setGuid(const vGuid& value) {
    if (isLocked()) return;
    vGuid copy = value;
    clear();
    payload_.g = copy;
    setKind(guid);
}

void vValue::parse(const char* text) {
    if (isLocked()) return;
    if (text == nullptr) {
        clear();
        return;
    }
    const char* s = text;
    while (isBlank(*s))
        ++s;
    if (*s == '\0') {
        clear();
        setKind(shortText);
        return;
    }
    size_t n = std::strlen(s);
    if (n == 38 && isGuidText(s, 38)) {
        setGuid(textToGuid(s));
        return;
    }
    switch (classifyWord(s)) {
    case 1:
        setInt(1);
        return;
    case 0:
        setInt(0);
        return;
    default:
        break;
    }
    const int32_t length = static_cast<int32_t>(n);
    if (*s == '0') {
        setText(s, length);
        return;
    }
    const char* end;
    double d = scanReal(s, &end);
    if (d == 0.0) {
        setText(s, length);
        return;
    }
    while (isBlank(*end))
        ++end;
    if (*end != '\0') {
        setText(s, length);
        return;
    }
    // Fractions, infinities and magnitudes beyond the 64-bit range stay reals.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) {
        setReal(d);
        return;
    }
    int64_t i = static_cast<int64_t>(d);
    if (static_cast<double>(i) != d) {
        setReal(d);
        return;
    }
    if (i >= INT32_MIN && i <= INT32_MAX)
        setInt(static_cast<int32_t>(i));
    else
        setInt64(i);
}

// ---- helpers without a value ----------------------------------------------

int classifyWord(const char* text) {
    static const char* const kYes[] = {"1", "ok", "yes", "true", "enable", "enabled", "accept"};
    static const char* const kNo[] = {"0",     "nil",     "null",     "no",
                                      "false", "disable", "disabled", "cancel"};
    static const char* const kToggle[] = {"-1", "toggle", "invert", "inverse", "not"};
    if (text == nullptr || *text == '\0') return -2;
    auto same = [text](const char* word) {
        const char* p = text;
        for (; *p != '\0' && *word != '\0'; ++p, ++word) {
            char a = *p, b = *word;
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            if (a != b) return false;
        }
        return *p == '\0' && *word == '\0';
    };
    for (const char* word : kYes)
        if (same(word)) return 1;
    for (const char* word : kNo)
        if (same(word)) return 0;
    for (const char* word : kToggle)
        if (same(word)) return -1;
    return -2;
}

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
