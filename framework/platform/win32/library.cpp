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
namespace {

volatile LONG inputAtEnd = 0;

// Reads standard input to its end, discarding what comes, and notes the end. A
// peek cannot tell an empty pipe from a closed one everywhere (Wine reports
// neither as broken), but a read that returns nothing can.
DWORD WINAPI drainInput(void*) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(in, buffer, sizeof buffer, &read, nullptr) && read > 0) {}
    InterlockedExchange(&inputAtEnd, 1);
    return 0;
}

} // namespace

bool inputEnded() {
    static bool watching = false;
    if (!watching) {
        watching = true;
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        if (in == nullptr || in == INVALID_HANDLE_VALUE) return false;
        // A console never ends; pipes and files do.
        DWORD type = GetFileType(in);
        if (type != FILE_TYPE_PIPE && type != FILE_TYPE_DISK) return false;
        HANDLE reader = CreateThread(nullptr, 0, drainInput, nullptr, 0, nullptr);
        if (reader) CloseHandle(reader);
    }
    return InterlockedCompareExchange(&inputAtEnd, 0, 0) != 0;
}

} // namespace plat
