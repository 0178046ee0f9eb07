#include "runtime/portSetting.h"

#include "base/memory.h"
#include "entry/library.h"
#include "platform/settings.h"
#include "runtime/diagnostics.h"
#include "runtime/iniText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Room for any module path of up to 1,024 characters in UTF-8.
constexpr size_t kPathSize = 4096;
// A settings file longer than this is no settings file of ours.
constexpr size_t kFileLimit = 64 * 1024;

PortSetting defaultPort(const char* defaultName, bool bad) {
    PortSetting setting{};
    std::snprintf(setting.name, sizeof setting.name, "%s", defaultName);
    setting.bad = bad;
    return setting;
}

} // namespace

int comPortNumber(const char* value) {
    if (value == nullptr) return 0;
    if ((value[0] | 0x20) != 'c' || (value[1] | 0x20) != 'o' || (value[2] | 0x20) != 'm') return 0;
    const char* digits = value + 3;
    if (*digits < '1' || *digits > '9') return 0;
    int number = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
        number = number * 10 + (*p - '0');
        if (number > 256) return 0;
    }
    return number;
}

bool settingsFileOf(const char* module, char* file, size_t size) {
    if (module == nullptr || file == nullptr || size == 0) return false;
    // The extension is the last dot's in the file name, not in a folder's.
    const char* dot = nullptr;
    for (const char* p = module; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') dot = nullptr;
        if (*p == '.') dot = p;
    }
    size_t stem = dot != nullptr ? static_cast<size_t>(dot - module) : std::strlen(module);
    int written = std::snprintf(file, size, "%.*s.ini", static_cast<int>(stem), module);
    return written > 0 && static_cast<size_t>(written) < size;
}

PortSetting portSettingFrom(const char* file, const char* defaultName) {
    char* text = static_cast<char*>(kvqAllocate(kFileLimit));
    size_t length = 0;
    plat::FileState state = plat::readSmallFile(file, text, kFileLimit, &length);
    char value[64];
    IniLookup lookup = state == plat::kFileRead
                           ? iniValue(text, length, "Port", "Name", value, sizeof value)
                           : kIniNotFound;
    std::free(text);
    // As with the profile functions of Windows, an empty value is no value.
    if (state == plat::kFileMissing || (state == plat::kFileRead && lookup == kIniNotFound) ||
        (lookup == kIniFound && value[0] == '\0'))
        return defaultPort(defaultName, false);
    int number = lookup == kIniFound ? comPortNumber(value) : 0;
    if (number == 0) return defaultPort(defaultName, true);
    PortSetting setting{};
    std::snprintf(setting.name, sizeof setting.name, "\\\\.\\COM%d", number);
    setting.bad = false;
    return setting;
}

PortSetting readPortSetting(const char* defaultName) {
    // Natively the platform is a library of its own: the module is the one that
    // holds this function, the plug-in's copy of the framework.
    char module[kPathSize];
    char file[kPathSize];
    if (!plat::modulePath(moduleInstance, reinterpret_cast<const void*>(&readPortSetting), module,
                          sizeof module) ||
        !settingsFileOf(module, file, sizeof file)) {
        tellDebugger("the module's path cannot be read, so neither can its settings file: "
                     "the port is %s",
                     defaultName);
        return defaultPort(defaultName, true);
    }
    return portSettingFrom(file, defaultName);
}
