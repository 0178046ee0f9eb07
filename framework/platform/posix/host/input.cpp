// Standard input of the host.
#include "platform/host.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace plat {

int readInput(void* buffer, uint32_t size) {
    for (;;) {
        ssize_t n = ::read(0, buffer, size);
        if (n >= 0 || errno != EINTR) return static_cast<int>(n);
    }
}

bool inputEnded() {
    pollfd p{0, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    if ((p.revents & (POLLHUP | POLLNVAL | POLLERR)) != 0 && (p.revents & POLLIN) == 0) return true;
    if ((p.revents & POLLIN) == 0) return false;
    // Readable: either data (which a watch does not use) or the end.
    char byte;
    ssize_t n = ::read(0, &byte, 1);
    return n == 0;
}

} // namespace plat
