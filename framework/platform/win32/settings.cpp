// Settings files on Windows: the module's own file name, and one key of an
// .ini file through the system's profile functions.
#include "platform/settings.h"

#include <windows.h>

namespace plat {

bool modulePath(Instance instance, const void*, char* path, size_t size) {
    if (instance == nullptr || path == nullptr || size == 0) return false;
    // A path that fills the buffer was cut (and XP leaves it without a nul).
    DWORD length =
        GetModuleFileNameA(static_cast<HMODULE>(instance), path, static_cast<DWORD>(size));
    if (length == 0 || length >= size) {
        path[0] = '\0';
        return false;
    }
    return true;
}

SettingState readSetting(const char* file, const char* section, const char* key, char* value,
                         size_t size) {
    if (value != nullptr && size > 0) value[0] = '\0';
    if (file == nullptr || section == nullptr || key == nullptr || value == nullptr || size == 0)
        return kSettingAbsent;
    // GetPrivateProfileStringA answers the same for a missing file and one it
    // may not read: the file is looked at first.
    DWORD attributes = GetFileAttributesA(file);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kSettingAbsent
                                                                              : kSettingUnreadable;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return kSettingUnreadable;
    HANDLE probe = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return kSettingUnreadable;
    CloseHandle(probe);
    // A missing key gives the default, "", which an empty value gives too.
    GetPrivateProfileStringA(section, key, "", value, static_cast<DWORD>(size), file);
    return value[0] != '\0' ? kSettingRead : kSettingAbsent;
}

} // namespace plat
