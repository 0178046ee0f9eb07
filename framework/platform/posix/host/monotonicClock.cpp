// The monotonic clock of the tools' times and deadlines.
#include "platform/host.h"

#include <ctime>

namespace plat {

int64_t monotonicMicroseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace plat
