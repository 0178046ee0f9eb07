#include "eventLog.h"

#include "common/json.h"
#include "x10Codes.h"

#include <ctime>

namespace cm11a {

long long monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

EventLog::EventLog(std::FILE* out, bool json) : out_(out), json_(json), startMs_(monotonicMs()) {}

long long EventLog::elapsedMs() const {
    return monotonicMs() - startMs_;
}

void EventLog::bytes(const char* dir, const std::vector<uint8_t>& data, const std::string& meaning,
                     const std::vector<Field>& extra) {
    std::string hex = hexBytes(data);
    std::vector<Field> fields{{"bytes", hex}, {"text", meaning}};
    fields.insert(fields.end(), extra.begin(), extra.end());
    emit(dir, std::string(dir) + " " + hex + (meaning.empty() ? "" : " " + meaning), fields);
}

void EventLog::note(const char* kind, const std::string& text, const std::vector<Field>& extra) {
    std::vector<Field> fields{{"text", text}};
    fields.insert(fields.end(), extra.begin(), extra.end());
    emit(kind, text, fields);
}

void EventLog::emit(const char* kind, const std::string& textLine,
                    const std::vector<Field>& fields) {
    if (!json_) {
        std::fprintf(out_, "%s\n", textLine.c_str());
    } else {
        kvqtools::JsonObject line;
        line.number("ms", elapsedMs()).text("event", kind);
        for (const Field& f : fields) {
            if (f.number)
                line.raw(f.name, f.value);
            else
                line.text(f.name, f.value);
        }
        std::fprintf(out_, "%s\n", line.str().c_str());
    }
    std::fflush(out_);
}

} // namespace cm11a
