// The serial port a plug-in opens, as its user chose it: a settings file
// beside the plug-in's module file, with the module's name and ".ini" in place
// of its extension (KV-X10.dll, natively KV-X10.so: KV-X10.ini), holding
//
//     [Port]
//     Name=COM4
//
// COM1 to COM256 in any case are taken, and opened as "\\.\COMn", the only
// form in which Windows opens COM10 and above. Without the file, or without
// the key (or with an empty value), the plug-in's default is opened as it
// always was. The file is read by the framework's own reader (iniText.h), in
// UTF-8 with or without its byte-order mark or in UTF-16 LE with it, on every
// system alike. Anything else, a file that is there but cannot be read (or is
// longer than 64 KiB, or in another encoding), or a module path that cannot be
// read, is a bad setting: the default is opened, and the plug-in tells its host.
#pragma once

#include <cstddef>

struct PortSetting {
    char name[16]; // what to open: "\\.\COMn" as chosen, or the default as given
    bool bad;      // a bad value or an unreadable file: `name` is the default
};

// The settings of the plug-in whose copy of the framework this is; read at
// build, so a change counts from the next build.
PortSetting readPortSetting(const char* defaultName);
// The same from a given settings file.
PortSetting portSettingFrom(const char* file, const char* defaultName);
// n for "COMn" with n from 1 to 256 (any case, no leading zero, nothing around
// it); 0 for anything else.
int comPortNumber(const char* value);
// The settings file of the module file `module`: its extension (if any)
// replaced with ".ini". False when it does not fit `size`.
bool settingsFileOf(const char* module, char* file, size_t size);
