// Settings files on Windows: the module's own file name and the file beside
// it, both in wide characters, so that a folder named in characters outside
// the system's ANSI code page is found as any other; the path travels in
// UTF-8 between them.
#include "platform/settings.h"

#include <windows.h>

namespace plat {
namespace {

constexpr int kWidePath = 2048;

bool hasLoneSurrogate(const wchar_t* text, DWORD length) {
    for (DWORD i = 0; i < length; ++i) {
        bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
        bool low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
        if (low) return true;
        if (high && (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)) return true;
        if (high) ++i;
    }
    return false;
}

} // namespace

bool modulePath(Instance instance, const void*, char* path, size_t size) {
    if (path == nullptr || size == 0) return false;
    path[0] = '\0';
    if (instance == nullptr) return false;
    // A path that fills the buffer was cut (and XP leaves it without a nul).
    wchar_t wide[kWidePath];
    DWORD length = GetModuleFileNameW(static_cast<HMODULE>(instance), wide, kWidePath);
    // A lone surrogate (which NTFS allows in a name) has no UTF-8 form.
    if (length == 0 || length >= static_cast<DWORD>(kWidePath) || hasLoneSurrogate(wide, length))
        return false;
    // CP_UTF8 takes no flags before Vista.
    int written = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), path,
                                      static_cast<int>(size - 1), nullptr, nullptr);
    if (written <= 0) return false;
    path[written] = '\0';
    return true;
}

FileState readSmallFile(const char* path, char* buffer, size_t size, size_t* length) {
    if (length != nullptr) *length = 0;
    if (path == nullptr || buffer == nullptr || length == nullptr) return kFileUnreadable;
    wchar_t wide[kWidePath];
    int units = MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, kWidePath);
    if (units <= 0) return kFileUnreadable;
    HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A folder gives ERROR_ACCESS_DENIED, as a file that may not be read.
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kFileMissing
                                                                              : kFileUnreadable;
    }
    // One byte more than fits tells a file that is too long.
    FileState state = kFileRead;
    for (;;) {
        char extra;
        bool room = *length < size;
        DWORD got = 0;
        if (!ReadFile(file, room ? buffer + *length : &extra,
                      room ? static_cast<DWORD>(size - *length) : 1, &got, nullptr)) {
            state = kFileUnreadable;
            break;
        }
        if (got == 0) break;
        if (!room) {
            state = kFileUnreadable;
            break;
        }
        *length += got;
    }
    CloseHandle(file);
    if (state != kFileRead) *length = 0;
    return state;
}

} // namespace plat
