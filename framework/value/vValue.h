// vValue: the typed value held by every node (its own value) and by every
// attribute (a value with a name). It stores nothing, a text (short texts
// inside the 16-byte payload, long ones in an owned block), a 32-bit or 64-bit
// integer, a double or a GUID, converts on every read to the form asked for,
// and `parse` decides from a text which kind to store (the text forms are those
// of numberText and guidText). The header word carries the kind, the flag bits
// 24-27 (27 = locked: writes are refused) and a tag.
#pragma once

#include "base/vString.h"
#include "value/guidText.h"

#include <cstdint>

class vValue {
public:
    enum Kind : uint32_t {
        empty = 0,
        shortText = 1,
        longText = 2,
        int32 = 3,
        int64 = 4,
        real = 5,
        guid = 6,
    };
    // Header bits.
    static constexpr uint32_t kindMask = 0x000000FFu;
    static constexpr uint32_t flag24Bit = 0x01000000u;
    static constexpr uint32_t flag25Bit = 0x02000000u;
    static constexpr uint32_t flag26Bit = 0x04000000u;
    static constexpr uint32_t lockedBit = 0x08000000u;
    static constexpr uint32_t tagMask = 0xF0000000u;

    explicit vValue(const char* name = nullptr);
    vValue(const vValue&) = delete;
    vValue& operator=(const vValue&) = delete;
    ~vValue();

    // Name (fixed at creation; "" for a node's own value, never null).
    const char* name() const { return name_.text() != nullptr ? name_.text() : ""; }

    // Header word access for the entry and the node operations.
    uint32_t header() const { return header_; }
    Kind kind() const { return static_cast<Kind>(header_ & kindMask); }
    // Sets or clears header bits among 24-27 (flag24..flag26, locked); other bits are ignored.
    void setHeaderBit(uint32_t bit, bool on);
    uint32_t topByte() const { return header_ >> 24; }
    uint32_t tag() const { return header_ >> 28; }
    void setTag(uint32_t tag); // low four bits; no lock test
    bool isLocked() const { return (header_ & lockedBit) != 0; }

    // Reads.
    const char* asText() const;
    int32_t asInt() const;
    int64_t asInt64() const;
    double asReal() const;
    vGuid asGuid() const;
    int textEquals(const char* text) const;
    int isEmpty() const { return kind() == empty; }
    int isText() const { return kind() == shortText || kind() == longText; }
    int isInt32() const { return kind() == int32; }
    int isInt64() const { return kind() == int64; }
    int isReal() const { return kind() == real; }
    int isGuid() const { return kind() == guid; }

    // Writes; each returns at once while the value is locked.
    void setText(const char* text, int32_t length = -1);
    void setInt(int32_t value);
    void setInt64(int64_t value);
    void setReal(double value);
    void setGuid(const vGuid& value);
    void parse(const char* text);

private:
    void clear();
    void setKind(Kind kind) { header_ = (header_ & ~kindMask) | kind; }
    // The text form of the stored value: the stored text itself for the text
    // kinds, otherwise written into `buffer` (64 bytes); null for empty.
    const char* textForm(char* buffer) const;

    uint32_t header_ = 0;
    union Payload {
        char text[16];
        char* block;
        int32_t i32;
        int64_t i64;
        double d;
        vGuid g;
        uint8_t bytes[16];
    } payload_;
    vString name_;
};
static_assert(sizeof(vGuid) == 16 && sizeof(void*) == 4, "32-bit layout");

// The module's 64-byte buffer for the text forms of numbers and GUIDs; the
// text that asText returns for those kinds lives here until the next conversion.
extern char conversionBuffer[64];

// -2 null/empty or no word, 1 a yes-word, 0 a no-word, -1 a toggle-word.
int classifyWord(const char* text);
