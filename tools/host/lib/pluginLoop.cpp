// The message loop of the host's thread, as kvq-host and the tests run it
// between their calls: the plug-ins' windows and timers run in it.
#include "plugin.h"

#include "platform/host.h"

#include <algorithm>
#include <chrono>

namespace kvqhost {

int Plugin::pump(uint32_t ms) {
    using Clock = plat::MonotonicClock;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int dispatched = 0;
    for (;;) {
        auto now = Clock::now();
        if (now >= deadline) break;
        // Rounded up: the loop runs its whole time, not up to a millisecond less.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        dispatched += plat::pumpMessages(static_cast<uint32_t>(left + 1));
    }
    return dispatched;
}

int Plugin::pumpOnce(uint32_t maxWaitMs) {
    return plat::pumpMessages(maxWaitMs);
}

bool Plugin::pumpUntil(const std::function<bool()>& done, uint32_t ms) {
    using Clock = plat::MonotonicClock;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (done()) return true;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        plat::pumpMessages(static_cast<uint32_t>(std::min<long long>(left, 50)));
    }
}

} // namespace kvqhost
