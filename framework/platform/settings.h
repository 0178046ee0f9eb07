// Settings files: where the plug-in's module file lies, and a small file read
// whole, so that the framework's own reader takes the same text on every system.
//
// Any thread may call these; they touch nothing but the file system. Each
// returns what it found; neither keeps anything between calls.
#pragma once

#include "platform/seam.h"

namespace plat {

// The path of the module file (DLL, shared object) the calling plug-in was
// loaded from, beside which its settings file lies, in UTF-8. On Windows the
// module is `instance`, the one the host gave at attach, and its path is read
// in wide characters, so that any folder name works whatever the system's
// code page; natively, where the platform is a library of its own, it is the
// shared object that holds `addressInModule`. False when the path is not
// known, cannot be written in UTF-8 or does not fit `size` (with its nul).
KVQ_PLATFORM_API bool modulePath(Instance instance, const void* addressInModule, char* path,
                                 size_t size);

enum FileState : int {
    kFileRead = 0,       // *length bytes of `buffer` hold the whole file
    kFileMissing = 1,    // no such file, nor the folder it would be in
    kFileUnreadable = 2, // there, but not a file that can be read, or longer than `size`
};
// The whole of the small file `path` (UTF-8; opened on Windows in wide
// characters), read into `buffer`, which takes at most `size` bytes: a longer
// file is not read. Nothing is added after the bytes.
KVQ_PLATFORM_API FileState readSmallFile(const char* path, char* buffer, size_t size,
                                         size_t* length);

} // namespace plat
