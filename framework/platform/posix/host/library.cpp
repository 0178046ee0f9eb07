// Loading plug-in libraries for the host: dlopen with every symbol resolved at
// once and nothing shared into the global namespace.
#include "platform/host.h"

#include <cstring>
#include <dlfcn.h>

namespace plat {

const char* libraryPathPrefix(const char* path) {
    return path && std::strchr(path, '/') == nullptr ? "./" : "";
}

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
