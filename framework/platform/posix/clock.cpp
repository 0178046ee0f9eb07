// Sleep and the monotonic tick count.
#include "platform/platform.h"

#include <cerrno>
#include <ctime>

namespace plat {

void sleep(uint32_t milliseconds) {
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    // Resume after a signal with the time that is left; any other failure ends the sleep.
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

uint32_t tickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

} // namespace plat
