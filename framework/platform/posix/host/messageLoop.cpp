// The host's message loop: the queue and the timers live with the windows
// (windows.cpp); the host pumps them here.
#include "platform/host.h"

#include "platform/posix/handles.h"

namespace plat {

int pumpMessages(uint32_t timeoutMs) {
    return detail::pumpMessages(timeoutMs);
}

} // namespace plat
