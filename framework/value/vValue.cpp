// vValue: storage, conversions and the generic `parse`, plus the word helper.
// The text forms of numbers and GUIDs and the reading of numbers from texts are
// in numberText and guidText.
#include "value/vValue.h"

#include "base/memory.h"
#include "value/characters.h"
#include "value/numberText.h"

#include <cstdlib>
#include <cstring>

char conversionBuffer[64];

namespace {

using chars::boundedLength;
using numberText::formatInteger;
using numberText::formatReal;
using numberText::scanInteger;
using numberText::scanReal;

constexpr size_t kConversionSize = sizeof(conversionBuffer);
static_assert(kConversionSize >= numberText::realTextSize, "room for every number text");

// The blanks that `parse` trims: space, tab, CR, LF.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool liesWithin(const char* p, const char* begin, size_t size) {
    auto at = reinterpret_cast<uintptr_t>(p);
    auto start = reinterpret_cast<uintptr_t>(begin);
    return at >= start && at - start < size;
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
