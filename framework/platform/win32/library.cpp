// Loading plug-in libraries for the host on Windows.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>

namespace plat {

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

namespace plat {

bool inputEnded() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(in) != FILE_TYPE_PIPE) return false;
    DWORD available = 0;
    if (PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
        char byte;
        DWORD read = 0;
        if (available > 0) ReadFile(in, &byte, 1, &read, nullptr); // data a watch does not use
        return false;
    }
    return GetLastError() == ERROR_BROKEN_PIPE;
}

} // namespace plat
