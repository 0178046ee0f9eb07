// Settings files: where the plug-in's module file lies, and one key of the
// .ini file beside it.
//
// Any thread may call these; they touch nothing but the file system. Each
// returns what it found; neither keeps anything between calls.
#pragma once

#include "platform/seam.h"

namespace plat {

// The path of the module file (DLL, shared object) the calling plug-in was
// loaded from, beside which its settings file lies. On Windows the module is
// `instance`, the one the host gave at attach; natively, where the platform is
// a library of its own, it is the shared object that holds `addressInModule`.
// False when the path is not known or does not fit `size` (with its nul).
KVQ_PLATFORM_API bool modulePath(Instance instance, const void* addressInModule, char* path,
                                 size_t size);

enum SettingState : int {
    kSettingRead = 0,       // *value holds the key's value, blanks around it trimmed
    kSettingAbsent = 1,     // no such file, or no such key in its section
    kSettingUnreadable = 2, // the file is there but cannot be read
};
// One key of an .ini file: "[Section]" lines, "Key=Value" lines, section and
// key names in any case, ";" comment lines. On Windows GetPrivateProfileStringA
// reads it; natively a reader of the same format. A value longer than `size`
// is cut.
KVQ_PLATFORM_API SettingState readSetting(const char* file, const char* section, const char* key,
                                          char* value, size_t size);

} // namespace plat
