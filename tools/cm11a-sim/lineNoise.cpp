#include "lineNoise.h"

#include <algorithm>
#include <cstdio>

namespace cm11a {

std::string nmeaSentence(const std::string& body) {
    uint8_t sum = 0;
    for (char c : body)
        sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(c));
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

LineStream::LineStream(Kind kind, uint32_t seed, long long startMs, long long durationMs)
    : kind_(kind), random_(seed), startMs_(startMs), endMs_(startMs + durationMs) {}

std::vector<uint8_t> LineStream::due(long long now) {
    long long until = std::min(now, endMs_) - startMs_;
    long long total = until * kLineBytesPerSecond / 1000;
    std::vector<uint8_t> bytes;
    for (; sent_ < total; ++sent_)
        bytes.push_back(next());
    return bytes;
}

uint8_t LineStream::next() {
    if (kind_ == Kind::Random) return static_cast<uint8_t>(random_() & 0xFF);
    if (text_.empty()) refillSentences();
    uint8_t byte = static_cast<uint8_t>(text_.front());
    text_.erase(0, 1);
    return byte;
}

// One second's sentences of a receiver with a fix: the time and date, the
// position, and the recommended minimum.
void LineStream::refillSentences() {
    int s = fix_++;
    char time[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d.00", 12 + s / 3600 % 12, s / 60 % 60, s % 60);
    const std::string t = time;
    text_ = nmeaSentence("GPZDA," + t + ",08,12,2026,00,00") +
            nmeaSentence("GPGGA," + t + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
            nmeaSentence("GPRMC," + t + ",A,4807.038,N,01131.000,E,022.4,084.4,081226,003.1,W");
}

} // namespace cm11a
