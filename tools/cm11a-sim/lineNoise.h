// Bytes of something on the line that is no controller: random noise from a
// seed (a floating receive line, a noisy adapter) or a GPS receiver's NMEA
// sentences. A Stream hands out as many bytes as the 4800-baud line carries
// in the time elapsed since it started (480 a second), until its time is up.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace cm11a {

constexpr int kLineBytesPerSecond = 480; // 4800 baud, 10 bits a byte

class LineStream {
public:
    enum class Kind { Random, Nmea };

    LineStream(Kind kind, uint32_t seed, long long startMs, long long durationMs);

    // The bytes due by time now that were not handed out yet.
    std::vector<uint8_t> due(long long now);
    bool finished(long long now) const { return now >= endMs_; }
    long long endMs() const { return endMs_; }
    Kind kind() const { return kind_; }

private:
    uint8_t next();
    void refillSentences();

    Kind kind_;
    std::mt19937 random_;
    long long startMs_, endMs_;
    long long sent_ = 0;
    std::string text_; // NMEA text not sent yet
    int fix_ = 0;      // the NMEA sentences' running second
};

// "$GPZDA,...*hh\r\n": an NMEA sentence from its body, with its checksum (the
// XOR of the bytes between '$' and '*').
std::string nmeaSentence(const std::string& body);

} // namespace cm11a
