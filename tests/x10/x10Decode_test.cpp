// vX10Port's pure parts: the code tables and address frames, the clock frame,
// and the decoding of uploads into events.
#include "x10/x10TestSupport.h"

#include <random>
#include <set>

using namespace x10test;

namespace {

using Keys = std::vector<FakeEventSource::Key>;

class X10Decode : public ::testing::Test {
protected:
    void SetUp() override { moduleInstance = reinterpret_cast<void*>(0x1000); }
    void TearDown() override { moduleInstance = nullptr; }

    // Decodes from a buffer of exactly the upload's size, so that a read beyond
    // it is caught by the address sanitizer.
    Keys decode(const Bytes& upload) {
        events.fired.clear();
        std::unique_ptr<uint8_t[]> exact(new uint8_t[upload.size()]);
        std::copy(upload.begin(), upload.end(), exact.get());
        port.decodeBuffer(exact.get(), static_cast<uint32_t>(upload.size()));
        return events.fired;
    }

    FakeEventSource events;
    vX10Port port{events};
};

std::string hexOf(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x ", b);
        out += buf;
    }
    return out;
}

} // namespace

TEST(X10Codes, TablesAndAddressFrames) {
    std::set<uint8_t> houses(std::begin(houseCodes), std::end(houseCodes));
    std::set<uint8_t> units(std::begin(unitCodes), std::end(unitCodes));
    EXPECT_EQ(houses.size(), 16u);
    EXPECT_EQ(units.size(), 16u);
    for (uint8_t h : houseCodes)
        EXPECT_EQ(h & 0x0F, 0);
    for (uint8_t u : unitCodes)
        EXPECT_EQ(u & 0xF0, 0);

    uint8_t code = 0xFF;
    EXPECT_TRUE(x10CodeByte(0, 0, &code));
    EXPECT_EQ(code, 0x66); // A1
    EXPECT_TRUE(x10CodeByte(12, 12, &code));
    EXPECT_EQ(code, 0x00); // M13
    EXPECT_TRUE(x10CodeByte(2, 4, &code));
    EXPECT_EQ(code, 0x21); // C5
    EXPECT_TRUE(x10CodeByte(1, 9, &code));
    EXPECT_EQ(code, 0xEF); // B10
    EXPECT_TRUE(x10CodeByte(15, 15, &code));
    EXPECT_EQ(code, 0xCC); // P16
    code = 0x77;
    EXPECT_FALSE(x10CodeByte(16, 0, &code));
    EXPECT_FALSE(x10CodeByte(0, -1, &code));
    EXPECT_EQ(code, 0x77);

    // Every address frame's checksum reads as a checksum, never as a poll, a
    // clock request or a macro report; only G1, D5, D3 and G9 need the
    // alternate header for that.
    std::set<uint8_t> alternate;
    for (int c = 0; c < 256; ++c) {
        uint8_t frame[2];
        vX10Port::buildAddressFrame(static_cast<uint8_t>(c), frame);
        EXPECT_EQ(frame[1], c);
        uint8_t sum = static_cast<uint8_t>(frame[0] + frame[1]);
        EXPECT_TRUE(sum != 0x5A && sum != 0xA5 && sum != 0xA6 && sum != 0x5B) << c;
        if (frame[0] != 0x04) {
            EXPECT_EQ(frame[0], 0x0C);
            alternate.insert(static_cast<uint8_t>(c));
        }
    }
    EXPECT_EQ(alternate, (std::set<uint8_t>{0x56, 0xA1, 0xA2, 0x57}));
}

TEST(X10Clock, FrameFromLocalTime) {
    uint8_t frame[7];
    vX10Port::buildClockFrame(fixedLocalTime(), frame);
    EXPECT_EQ(Bytes(frame, frame + 7), kFixedClockFrame);

    std::tm late{};
    late.tm_hour = 23;
    late.tm_min = 59;
    late.tm_sec = 59;
    late.tm_wday = 6;
    late.tm_yday = 300; // beyond 255: the ninth bit goes into bit 7 of byte 5
    vX10Port::buildClockFrame(late, frame);
    EXPECT_EQ(Bytes(frame, frame + 7), (Bytes{0x9B, 59, 119, 11, 300 - 256, 0x80 | 0x40, 0x61}));

    std::tm midnight{};
    vX10Port::buildClockFrame(midnight, frame);
    EXPECT_EQ(Bytes(frame, frame + 7), (Bytes{0x9B, 0, 0, 0, 0, 0x01, 0x61}));
}

TEST_F(X10Decode, UploadsRaiseTheEventsOfTheirAddresses) {
    const Keys a1On{{0x66, kX10EventOn}};
    EXPECT_EQ(decode({0x02, 0x66, 0x62}), a1On);
    EXPECT_EQ(decode({0x02, 0x66, 0x63}), (Keys{{0x66, kX10EventOff}}));
    // A1 A2 A-On: nearest address first.
    EXPECT_EQ(decode({0x04, 0x66, 0x6E, 0x62}), (Keys{{0x6E, kX10EventOn}, {0x66, kX10EventOn}}));
    // A1 B2 A-On: the address of another house is passed over.
    EXPECT_EQ(decode({0x04, 0x66, 0xEE, 0x62}), a1On);
    // A1 A-On A2 A-Off: each function takes the addresses back to the previous one.
    EXPECT_EQ(decode({0x0A, 0x66, 0x62, 0x6E, 0x63}),
              (Keys{{0x66, kX10EventOn}, {0x6E, kX10EventOff}}));
    // A function first has no address before it; the mask is no address either.
    EXPECT_EQ(decode({0x01, 0x62}), Keys{});
    EXPECT_EQ(decode({0x61, 0x62}), Keys{});
    EXPECT_EQ(decode({0x03, 0x62, 0x62}), Keys{});
    // Functions other than On and Off, and addresses without a function, raise nothing.
    EXPECT_EQ(decode({0x02, 0x66, 0x64}), Keys{});
    EXPECT_EQ(decode({0x00, 0x66, 0x6E}), Keys{});
    EXPECT_EQ(decode({}), Keys{});
    EXPECT_EQ(decode({0xFF}), Keys{});

    // Bytes that the mask marks as addresses are addresses, whatever they hold; the
    // mask covers eight data bytes, later ones are addresses too.
    Bytes tenData{0x80, 0x66, 0x6E, 0x62, 0x6E, 0x6E, 0x6E, 0x66, 0x63, 0x62, 0x63};
    Keys expected;
    for (int j = 7; j >= 1; --j)
        expected.emplace_back(tenData[j], kX10EventOff);
    EXPECT_EQ(decode(tenData), expected);
}

TEST_F(X10Decode, RandomUploadsStayInsideTheirBuffer) {
    std::mt19937 random(20060217);
    const uint8_t nibbles[] = {0x60, 0xE0, 0x20}; // few houses, so that addresses match
    for (int round = 0; round < 3000; ++round) {
        size_t size = random() % 256; // the size byte: mask and data bytes
        Bytes upload(size);
        for (size_t i = 0; i < size; ++i) {
            uint8_t low = static_cast<uint8_t>(random() % 16);
            upload[i] = i == 0 ? static_cast<uint8_t>(random()) : nibbles[random() % 3] | low;
        }
        events.lookups.clear();
        decode(upload);
        // Every lookup names an address byte of the upload, of an On or Off function.
        for (const auto& [code, kind] : events.lookups) {
            EXPECT_TRUE(kind == kX10EventOn || kind == kX10EventOff);
            bool found = false;
            for (size_t i = 1; i < size && !found; ++i) {
                bool function = i - 1 < 8 && ((upload[0] >> (i - 1)) & 1);
                found = !function && upload[i] == code;
            }
            EXPECT_TRUE(found) << hexOf(upload) << " looked up " << int(code);
        }
        if (::testing::Test::HasFailure()) break;
    }
}
