// Loading plug-in libraries for the host: dlopen with every symbol resolved at
// once and nothing shared into the global namespace.
#include "platform/platform.h"

#include <cstring>
#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

namespace plat {

void* loadLibrary(const char* path, char* error, size_t errorSize) {
    if (error && errorSize) error[0] = '\0';
    if (!path) return nullptr;
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library && error && errorSize) {
        const char* text = dlerror();
        if (!text) text = "the library could not be loaded";
        std::strncpy(error, text, errorSize - 1);
        error[errorSize - 1] = '\0';
    }
    return library;
}

void* findSymbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

void freeLibrary(void* library) {
    if (!library) return;
    dlclose(library);
}

} // namespace plat

namespace plat {

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
