// Loading plug-in libraries for the host on Windows.
#include "platform/host.h"

#include <windows.h>

#include <cstdio>

namespace plat {

const char* libraryPathPrefix(const char* path) {
    if (!path) return "";
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\' || *p == ':') return "";
    return ".\\";
}

void* loadLibrary(const char* path, char* error, size_t errorSize) {
    if (error && errorSize) error[0] = '\0';
    if (!path) return nullptr;
    HMODULE library = LoadLibraryA(path);
    if (!library && error && errorSize)
        std::snprintf(error, errorSize, "%s: LoadLibraryA failed with error %lu", path,
                      static_cast<unsigned long>(GetLastError()));
    return reinterpret_cast<void*>(library);
}

void* findSymbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace plat
