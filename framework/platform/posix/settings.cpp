// Settings files natively: the plug-in's shared object found by an address
// inside it, and a reader of the .ini format that Windows' profile functions
// read (sections and keys in any case, ";" comments, blanks trimmed, a value
// in quotes taken without them).
#include "platform/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>

namespace plat {
namespace {

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// The value of `key` in the first `section` that has it; false when none has.
bool findKey(std::FILE* in, const char* section, const char* key, std::string* value) {
    bool inSection = false;
    std::string line;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, in) != nullptr) {
        line += chunk;
        if (line.back() != '\n' && !std::feof(in)) continue; // the rest of a long line
        std::string text = trimmed(line);
        line.clear();
        if (text.empty() || text[0] == ';') continue;
        if (text[0] == '[') {
            size_t close = text.find(']');
            std::string name =
                trimmed(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = strcasecmp(name.c_str(), section) == 0;
            continue;
        }
        if (!inSection) continue;
        size_t equals = text.find('=');
        std::string name = trimmed(text.substr(0, equals));
        if (strcasecmp(name.c_str(), key) != 0) continue;
        *value = equals == std::string::npos ? std::string() : trimmed(text.substr(equals + 1));
        if (value->size() >= 2 && (value->front() == '"' || value->front() == '\'') &&
            value->back() == value->front())
            *value = value->substr(1, value->size() - 2);
        return true;
    }
    return false;
}

} // namespace

bool modulePath(Instance, const void* addressInModule, char* path, size_t size) {
    Dl_info info;
    if (path == nullptr || size == 0 || dladdr(addressInModule, &info) == 0 ||
        info.dli_fname == nullptr || std::strlen(info.dli_fname) >= size)
        return false;
    std::strcpy(path, info.dli_fname);
    return true;
}

SettingState readSetting(const char* file, const char* section, const char* key, char* value,
                         size_t size) {
    if (value != nullptr && size > 0) value[0] = '\0';
    if (file == nullptr || section == nullptr || key == nullptr || value == nullptr || size == 0)
        return kSettingAbsent;
    std::FILE* in = std::fopen(file, "r");
    if (in == nullptr)
        return errno == ENOENT || errno == ENOTDIR ? kSettingAbsent : kSettingUnreadable;
    std::string found;
    bool present = findKey(in, section, key, &found);
    bool failed = std::ferror(in) != 0; // a directory opens, but cannot be read
    std::fclose(in);
    if (failed) return kSettingUnreadable;
    // As with the profile functions of Windows, an empty value is no value.
    if (!present || found.empty()) return kSettingAbsent;
    std::snprintf(value, size, "%s", found.c_str());
    return kSettingRead;
}

} // namespace plat
