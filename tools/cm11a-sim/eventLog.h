// The simulator's log: one line per event on an output stream, flushed at once
// so that a test or a person watching sees each byte as it happens. Plain text
// ("rx 04 66 address A1", "A1 ON put on the power line") or, with --json, one
// JSON object per line carrying the same facts as named fields.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cm11a {

struct Field {
    std::string name;
    std::string value;
    bool number = false; // written without quotes in JSON
};

class EventLog {
public:
    EventLog(std::FILE* out, bool json);

    // Bytes on the line: dir is "rx" (from the plug-in) or "tx" (to it).
    void bytes(const char* dir, const std::vector<uint8_t>& data, const std::string& meaning,
               const std::vector<Field>& extra = {});
    // Any other event; the text is the whole line in text mode.
    void note(const char* kind, const std::string& text, const std::vector<Field>& extra = {});

private:
    void emit(const char* kind, const std::string& textLine, const std::vector<Field>& fields);
    long long elapsedMs() const;

    std::FILE* out_;
    bool json_;
    long long startMs_;
};

// Milliseconds of a monotonic clock.
long long monotonicMs();

} // namespace cm11a
