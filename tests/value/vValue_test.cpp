// Typed values: what `parse` stores, the conversions of every kind, the text
// forms (byte for byte), short and long texts, the lock, and texts taken from
// the value's own storage.
#include "value/vValue.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string text(const vValue& v) {
    const char* t = v.asText();
    return t != nullptr ? t : "<null>";
}

std::string printed(const char* format, double d) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, d);
    return buffer;
}

vGuid sampleGuid() {
    vGuid g;
    const uint8_t bytes[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    std::memcpy(&g, bytes, sizeof g);
    return g;
}

bool sameGuid(const vGuid& a, const vGuid& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(Value, ParseChoosesKindFromText) {
    struct Case {
        const char* input;
        vValue::Kind kind;
        const char* form; // asText afterwards
    };
    const Case cases[] = {
        {"", vValue::shortText, ""},
        {"   ", vValue::shortText, ""},
        {"YES", vValue::int32, "1"},
        {"  yes", vValue::int32, "1"},
        {"Disabled", vValue::int32, "0"},
        {"yes ", vValue::shortText, "yes "},
        {"toggle", vValue::shortText, "toggle"},
        {"-1", vValue::int32, "-1"},
        {"0", vValue::int32, "0"},
        {"007", vValue::shortText, "007"},
        {"0.5", vValue::shortText, "0.5"},
        {"0x1F", vValue::shortText, "0x1F"},
        {"-0", vValue::shortText, "-0"},
        {".0", vValue::shortText, ".0"},
        {".5", vValue::real, "0.500000"},
        {"12", vValue::int32, "12"},
        {"  12\t", vValue::int32, "12"},
        {"12 \r\n", vValue::int32, "12"},
        {"12abc", vValue::shortText, "12abc"},
        {"12\v", vValue::shortText, "12\v"},
        {"1e3", vValue::int32, "1000"},
        {"1e", vValue::shortText, "1e"},
        {"2.5", vValue::real, "2.500000"},
        {"-2.5e-1", vValue::real, "-0.250000"},
        {"+7", vValue::int32, "7"},
        {"2147483647", vValue::int32, "2147483647"},
        {"-2147483648", vValue::int32, "-2147483648"},
        {"2147483648", vValue::int64, "2147483648"},
        {"-2147483649", vValue::int64, "-2147483649"},
        {"9007199254740993", vValue::int64, "9007199254740992"},
        {"-9223372036854775808", vValue::int64, "-9223372036854775808"},
        {"9223372036854775808", vValue::real, "9223372036854775808.000000"},
        {"1e19", vValue::real, "10000000000000000000.000000"},
        {"1e999", vValue::real, "inf"},
        {"inf", vValue::shortText, "inf"},
        {"nan", vValue::shortText, "nan"},
        {"0x10", vValue::shortText, "0x10"},
        {"not", vValue::shortText, "not"},
        {"a long text that does not fit", vValue::longText, "a long text that does not fit"},
    };
    for (const Case& c : cases) {
        vValue v;
        v.setInt(99);
        v.parse(c.input);
        EXPECT_EQ(v.kind(), c.kind) << "'" << c.input << "'";
        EXPECT_EQ(text(v), c.form) << "'" << c.input << "'";
    }

    vValue v;
    v.setText("something long enough for a block");
    v.parse(nullptr);
    EXPECT_TRUE(v.isEmpty());
    EXPECT_EQ(v.asText(), nullptr);
}

TEST(Value, ClassifiesWords) {
    EXPECT_EQ(classifyWord(nullptr), -2);
    EXPECT_EQ(classifyWord(""), -2);
    for (const char* w : {"1", "OK", "yes", "True", "ENABLE", "enabled", "Accept"})
        EXPECT_EQ(classifyWord(w), 1) << w;
    for (const char* w : {"0", "nil", "NULL", "no", "False", "disable", "DISABLED", "cancel"})
        EXPECT_EQ(classifyWord(w), 0) << w;
    for (const char* w : {"-1", "Toggle", "invert", "INVERSE", "not"})
        EXPECT_EQ(classifyWord(w), -1) << w;
    for (const char* w : {"yes ", " no", "ye", "yess", "+1", "01", "nope", "tru\xC5"})
        EXPECT_EQ(classifyWord(w), -2) << w;
}

TEST(Value, GuidTextForms) {
    char buffer[39];
    EXPECT_EQ(guidToText(sampleGuid(), buffer), buffer);
    EXPECT_STREQ(buffer, "{33221100-5544-7766-8899-AABBCCDDEEFF}");
    EXPECT_EQ(guidToText(sampleGuid(), nullptr), nullptr);

    const char* upper = "{33221100-5544-7766-8899-AABBCCDDEEFF}";
    const char* lower = "{33221100-5544-7766-8899-aabbccddeeff}";
    EXPECT_TRUE(sameGuid(textToGuid(upper), sampleGuid()));
    EXPECT_TRUE(sameGuid(textToGuid(lower), sampleGuid()));
    // The scan allows white space around the parts and stops at the first mismatch.
    EXPECT_TRUE(
        sameGuid(textToGuid("  { 33221100 - 5544 - 7766 - 8899 - AABBCCDDEEFF } "), sampleGuid()));
    vGuid partial = textToGuid("{33221100-5544+7766-8899-AABBCCDDEEFF}");
    EXPECT_EQ(partial.Data1, 0x33221100u);
    EXPECT_EQ(partial.Data2, 0x5544u);
    EXPECT_EQ(partial.Data3, 0u);
    EXPECT_TRUE(sameGuid(textToGuid("{1234567}"), vGuid{}));
    EXPECT_TRUE(sameGuid(textToGuid(nullptr), vGuid{}));

    EXPECT_EQ(isGuidText(upper, -1), 1);
    EXPECT_EQ(isGuidText(lower, 38), 1);
    EXPECT_EQ(isGuidText(nullptr, -1), 0);
    EXPECT_EQ(isGuidText(upper, 37), 0);
    EXPECT_EQ(isGuidText("{33221100-5544-7766-8899-AABBCCDDEEFF} and more", -1), 1);
    EXPECT_EQ(isGuidText("{33221100-5544-7766-8899-AABBCCDDEEFG}", -1), 0);
    EXPECT_EQ(isGuidText("{33221100-5544-7766-8899-AABBCCDDEEFF)", -1), 0);
    EXPECT_EQ(isGuidText("{33221100-5544-7766+8899-AABBCCDDEEFF}", -1), 0);
    EXPECT_EQ(isGuidText("{3322110-05544-7766-8899-AABBCCDDEEFF}", -1), 0);
    // A length larger than the text stops at the terminator.
    EXPECT_EQ(isGuidText("{3322", 38), 0);

    vValue v;
    v.parse(lower);
    EXPECT_TRUE(v.isGuid());
    EXPECT_TRUE(sameGuid(v.asGuid(), sampleGuid()));
    EXPECT_EQ(text(v), upper);
    EXPECT_EQ(v.asInt(), 0);
    EXPECT_EQ(v.asInt64(), 0);
    EXPECT_EQ(v.asReal(), 0.0);
    v.parse("  {33221100-5544-7766-8899-AABBCCDDEEFF}");
    EXPECT_TRUE(v.isGuid());
    v.parse("{33221100-5544-7766-8899-AABBCCDDEEFF} ");
    EXPECT_TRUE(v.isText());
    EXPECT_EQ(text(v), "{33221100-5544-7766-8899-AABBCCDDEEFF} ");
}

TEST(Value, ReadsConvertEveryKind) {
    vValue v("n");
    EXPECT_STREQ(v.name(), "n");
    EXPECT_TRUE(v.isEmpty());
    EXPECT_EQ(v.asText(), nullptr);
    EXPECT_EQ(v.asInt(), 0);
    EXPECT_EQ(v.asInt64(), 0);
    EXPECT_EQ(v.asReal(), 0.0);
    EXPECT_TRUE(sameGuid(v.asGuid(), vGuid{}));

    v.setInt(-5);
    EXPECT_TRUE(v.isInt32());
    EXPECT_EQ(text(v), "-5");
    EXPECT_EQ(v.asInt64(), -5);
    EXPECT_EQ(v.asReal(), -5.0);
    EXPECT_TRUE(sameGuid(v.asGuid(), vGuid{}));
    v.setInt(INT32_MIN);
    EXPECT_EQ(text(v), "-2147483648");

    v.setInt64(0x100000005LL);
    EXPECT_TRUE(v.isInt64());
    EXPECT_EQ(v.asInt(), 5);
    EXPECT_EQ(text(v), "4294967301");
    v.setInt64(INT64_MIN);
    EXPECT_EQ(text(v), "-9223372036854775808");
    EXPECT_EQ(v.asInt(), 0);
    v.setInt64(INT64_MAX);
    EXPECT_EQ(text(v), "9223372036854775807");
    EXPECT_EQ(v.asReal(), 9223372036854775808.0);
    v.setInt64(-4294967297LL); // 0xFFFFFFFEFFFFFFFF
    EXPECT_EQ(v.asInt(), -1);

    v.setReal(2.5);
    EXPECT_TRUE(v.isReal());
    EXPECT_EQ(text(v), "2.500000");
    v.setReal(-2.9);
    EXPECT_EQ(v.asInt(), -2);
    EXPECT_EQ(v.asInt64(), -2);
    EXPECT_EQ(v.asReal(), -2.9);
    v.setReal(5e9); // low 32 bits of 5000000000
    EXPECT_EQ(v.asInt(), 705032704);
    EXPECT_EQ(v.asInt64(), 5000000000LL);
    // Beyond the 64-bit range the truncation saturates; NaN reads as 0.
    v.setReal(1e30);
    EXPECT_EQ(v.asInt64(), INT64_MAX);
    v.setReal(-HUGE_VAL);
    EXPECT_EQ(v.asInt64(), INT64_MIN);
    EXPECT_EQ(v.asInt(), 0);
    v.setReal(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(v.asInt64(), 0);

    v.setGuid(sampleGuid());
    EXPECT_TRUE(v.isGuid());
    EXPECT_FALSE(v.isText());
    EXPECT_TRUE(sameGuid(v.asGuid(), sampleGuid()));

    // Texts: the stored text itself; numbers scanned from it.
    v.setText("42xyz");
    EXPECT_NE(v.asText(), conversionBuffer);
    EXPECT_EQ(v.asInt(), 42);
    EXPECT_EQ(v.asInt64(), 42);
    EXPECT_EQ(v.asReal(), 42.0);
    EXPECT_TRUE(sameGuid(v.asGuid(), vGuid{}));
    v.setText("{33221100-5544-7766-8899-AABBCCDDEEFF}");
    EXPECT_TRUE(sameGuid(v.asGuid(), vGuid{}));
}

TEST(Value, ScansNumbersFromTexts) {
    struct Case {
        const char* input;
        int32_t i32;
        int64_t i64;
        double d;
    };
    const Case cases[] = {
        {"12abc", 12, 12, 12.0},
        {"3.7", 3, 3, 3.7},
        {"abc", 0, 0, 0.0},
        {"0x10", 0, 0, 0.0},
        {" \t\n\v\f\r-12 ", -12, -12, -12.0},
        {"+7", 7, 7, 7.0},
        {"- 7", 0, 0, 0.0},
        {"-", 0, 0, 0.0},
        {"inf", 0, 0, 0.0},
        {"nan", 0, 0, 0.0},
        {"infinity", 0, 0, 0.0},
        {".", 0, 0, 0.0},
        {"1.", 1, 1, 1.0},
        {"-.5", 0, 0, -0.5},
        {"2.5e-3xyz", 2, 2, 0.0025},
        {"1e+2", 1, 1, 100.0},
        {"1E", 1, 1, 1.0},
        {"1e-", 1, 1, 1.0},
        {"000123.4500e1", 123, 123, 1234.5},
        {"2147483647", INT32_MAX, INT32_MAX, 2147483647.0},
        // Overflowing digits saturate at the type's limits.
        {"2147483648", INT32_MAX, 2147483648LL, 2147483648.0},
        {"-2147483649", INT32_MIN, -2147483649LL, -2147483649.0},
        {"99999999999999999999999", INT32_MAX, INT64_MAX, 1e23},
        {"-99999999999999999999999", INT32_MIN, INT64_MIN, -1e23},
        {"9223372036854775807", INT32_MAX, INT64_MAX, 9223372036854775807.0},
        {"-9223372036854775808", INT32_MIN, INT64_MIN, -9223372036854775808.0},
        {"1e400", 1, 1, HUGE_VAL},
        {"1e-400", 1, 1, 0.0},
        {"4.9406564584124654e-324", 4, 4, 4.9406564584124654e-324},
        {"1e-99999999999999", 1, 1, 0.0},
    };
    vValue v;
    for (const Case& c : cases) {
        v.setText(c.input);
        EXPECT_EQ(v.asInt(), c.i32) << c.input;
        EXPECT_EQ(v.asInt64(), c.i64) << c.input;
        EXPECT_EQ(v.asReal(), c.d) << c.input;
    }

    // Correct rounding: a halfway case decided only by a digit far beyond
    // the first few hundred, and one decided by the evenness of the last bit.
    std::string halfway = "9007199254740993"; // 2^53 + 1: halfway, rounds to even
    v.setText(halfway.c_str());
    EXPECT_EQ(v.asReal(), 9007199254740992.0);
    v.setText((halfway + "." + std::string(1000, '0') + "1").c_str());
    EXPECT_EQ(v.asReal(), 9007199254740994.0);
    v.setText((halfway + "." + std::string(1000, '0')).c_str());
    EXPECT_EQ(v.asReal(), 9007199254740992.0);
    v.setText(("0." + std::string(2000, '0') + "5e2000").c_str());
    EXPECT_EQ(v.asReal(), 0.5);
}

TEST(Value, RealTextForms) {
    struct Case {
        double d;
        const char* form;
    };
    const Case cases[] = {
        {0.0, "0.000000"},
        {-0.0, "-0.000000"},
        {1.0, "1.000000"},
        {-1e-7, "-0.000000"},
        {5e-7, "0.000000"}, // just below half a millionth
        {6e-7, "0.000001"},
        {0.0078125, "0.007812"}, // 7812.5 millionths: ties go to even
        {0.0234375, "0.023438"}, // 23437.5 millionths
        {2.5, "2.500000"},
        {0.1, "0.100000"},
        {123456789.123456789, "123456789.123457"},
        {1e22, "10000000000000000000000.000000"},
        {1e30, "1000000000000000019884624838656.000000"},
        {DBL_MIN, "0.000000"},
        {HUGE_VAL, "inf"},
        {-HUGE_VAL, "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
        // Beyond 63 characters the "%.17g" form is used.
        {1e60, "9.9999999999999995e+59"},
        {-1e300, "-1.0000000000000001e+300"},
        {DBL_MAX, "1.7976931348623157e+308"},
    };
    vValue v;
    for (const Case& c : cases) {
        v.setReal(c.d);
        EXPECT_EQ(text(v), c.form) << c.form;
    }

    // Random magnitudes across the whole range: "%f" when it fits in 63
    // characters, otherwise "%.17g"; never longer than 63.
    std::mt19937_64 random(20060217);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isnan(d)) continue;
        if (i % 2 == 0) d = std::ldexp(std::fmod(std::fabs(d), 1.0) + 1.0, i % 250 - 60);
        std::string f = printed("%f", d);
        std::string expected = f.size() <= 63 ? f : printed("%.17g", d);
        v.setReal(d);
        ASSERT_EQ(text(v), expected) << printed("%a", d);
        ASSERT_LE(std::strlen(v.asText()), 63u);
    }
    // The longest "%f" forms that still fit, on both sides of the limit.
    for (double d = 1e54; d < 1e58; d *= 1.001) {
        for (double s : {d, -d}) {
            std::string f = printed("%f", s);
            v.setReal(s);
            ASSERT_EQ(text(v), f.size() <= 63 ? f : printed("%.17g", s)) << printed("%a", s);
        }
    }
}

TEST(Value, ShortAndLongTexts) {
    vValue v;
    v.setText("123456789012345");
    EXPECT_EQ(v.kind(), vValue::shortText);
    v.setText("1234567890123456");
    EXPECT_EQ(v.kind(), vValue::longText);
    EXPECT_EQ(text(v), "1234567890123456");
    v.setText("a much longer text that needs a bigger block than before");
    EXPECT_EQ(v.kind(), vValue::longText);
    EXPECT_EQ(text(v), "a much longer text that needs a bigger block than before");
    v.setText("abc");
    EXPECT_EQ(v.kind(), vValue::shortText);
    EXPECT_EQ(text(v), "abc");
    v.setText("");
    EXPECT_TRUE(v.isText());
    EXPECT_EQ(text(v), "");
    v.setText(nullptr);
    EXPECT_TRUE(v.isEmpty());

    // A given length takes exactly that many characters, and never reads past
    // the text's terminator.
    v.setText("abcdef", 3);
    EXPECT_EQ(text(v), "abc");
    v.setText("abcdefghijklmnopqrstuvwxyz", 20);
    EXPECT_EQ(text(v), "abcdefghijklmnopqrst");
    v.setText("abc", 1000);
    EXPECT_EQ(text(v), "abc");

    // A long text replaced by a number frees its block (checked by the sanitizer).
    v.setText("another text of some length");
    v.setInt(3);
    EXPECT_EQ(text(v), "3");
    v.setText("a long text left for the destructor to free");
}

TEST(Value, TextFromOwnStorage) {
    vValue v;
    v.setText("short one");
    v.setText(v.asText());
    EXPECT_EQ(text(v), "short one");
    v.setText(v.asText() + 6);
    EXPECT_EQ(text(v), "one");
    v.setText(v.asText(), 2);
    EXPECT_EQ(text(v), "on");

    v.setText("a text long enough to live in its own block");
    v.setText(v.asText());
    EXPECT_EQ(text(v), "a text long enough to live in its own block");
    v.setText(v.asText() + 7);
    EXPECT_EQ(text(v), "long enough to live in its own block");
    v.setText(v.asText() + 5, 20);
    EXPECT_EQ(text(v), "enough to live in it");
    v.setText(v.asText() + 7);
    EXPECT_EQ(text(v), "to live in it");
    EXPECT_EQ(v.kind(), vValue::shortText);

    // parse of the own text, with leading blanks trimmed off a block.
    v.setText("        a text after eight blanks");
    v.parse(v.asText());
    EXPECT_EQ(text(v), "a text after eight blanks");
    v.setText("                         12345  ");
    v.parse(v.asText());
    EXPECT_TRUE(v.isInt32());
    EXPECT_EQ(v.asInt(), 12345);
    v.setText("  yes");
    v.parse(v.asText());
    EXPECT_TRUE(v.isInt32());
    EXPECT_EQ(v.asInt(), 1);
    v.setText("   007");
    v.parse(v.asText());
    EXPECT_EQ(text(v), "007");
    v.setText("  {33221100-5544-7766-8899-aabbccddeeff}");
    v.parse(v.asText());
    EXPECT_TRUE(sameGuid(v.asGuid(), sampleGuid()));
    // The number forms live in the shared buffer, not in the value.
    v.setInt(-77);
    v.setText(v.asText());
    EXPECT_EQ(text(v), "-77");
    v.setReal(2.5);
    v.parse(v.asText());
    EXPECT_TRUE(v.isReal());
    EXPECT_EQ(v.asReal(), 2.5);
}

TEST(Value, LockedValueRefusesEveryWrite) {
    vValue v;
    v.setText("a long text in a block that stays");
    v.setTag(9);
    v.setHeaderBit(vValue::flag25Bit, true);
    v.setHeaderBit(vValue::lockedBit, true);
    EXPECT_TRUE(v.isLocked());
    const char* before = v.asText();

    v.setText("other");
    v.setText(nullptr);
    v.setInt(1);
    v.setInt64(2);
    v.setReal(3.0);
    v.setGuid(sampleGuid());
    v.parse("4");
    v.parse(nullptr);
    EXPECT_EQ(v.kind(), vValue::longText);
    EXPECT_EQ(v.asText(), before);
    EXPECT_EQ(text(v), "a long text in a block that stays");
    EXPECT_EQ(v.tag(), 9u);

    v.setHeaderBit(vValue::lockedBit, false);
    v.setInt(5);
    EXPECT_EQ(v.asInt(), 5);
    // Writes keep the flags and the tag; only bits 24-27 are reachable as flags.
    EXPECT_EQ(v.header(), 0x92000000u | vValue::int32);
    v.setHeaderBit(0xFFu | vValue::flag24Bit, true);
    EXPECT_EQ(v.kind(), vValue::int32);
    EXPECT_EQ(v.topByte(), 0x93u);
    v.setTag(0x1F);
    EXPECT_EQ(v.tag(), 0xFu);
    EXPECT_EQ(v.kind(), vValue::int32);
}

TEST(Value, TextEqualsComparesTextForms) {
    vValue v;
    EXPECT_EQ(v.textEquals(nullptr), 1);
    EXPECT_EQ(v.textEquals(""), 0);
    v.setText("");
    EXPECT_EQ(v.textEquals(nullptr), 0);
    EXPECT_EQ(v.textEquals(""), 1);
    v.setText("Abc");
    EXPECT_EQ(v.textEquals("Abc"), 1);
    EXPECT_EQ(v.textEquals("abc"), 0);
    v.setInt(7);
    EXPECT_EQ(v.textEquals("7"), 1);
    EXPECT_EQ(v.textEquals("07"), 0);
    v.setReal(5.0);
    EXPECT_EQ(v.textEquals("5.000000"), 1);
    EXPECT_EQ(v.textEquals("5"), 0);

    // Comparing with another value's number form, which lives in the shared buffer.
    vValue other;
    other.setInt(8);
    v.setInt(7);
    EXPECT_EQ(v.textEquals(other.asText()), 0);
    other.setInt(7);
    EXPECT_EQ(v.textEquals(other.asText()), 1);
}

TEST(Value, ConversionBufferIsShared) {
    vValue one, two;
    one.setInt(1);
    two.setInt(2);
    const char* first = one.asText();
    EXPECT_STREQ(first, "1");
    two.asText();
    EXPECT_STREQ(first, "2");
    EXPECT_EQ(first, conversionBuffer);

    vValue unnamed(nullptr);
    EXPECT_STREQ(unnamed.name(), "");
    char name[] = "volume";
    vValue named(name);
    name[0] = 'V';
    EXPECT_STREQ(named.name(), "volume");
}
