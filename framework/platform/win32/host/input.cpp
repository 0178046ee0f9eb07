// Standard input of the host on Windows.
#include "platform/host.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

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

int readInput(void* buffer, uint32_t size) {
    // Lines end with \n or \r\n as they come; a Ctrl+Z byte is no end.
    _setmode(0, _O_BINARY);
    return _read(0, buffer, size);
}

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
