// Loading a DLL of the system from the system directory, by its full path. By
// a bare name the loader would search the host's own folder first, where a
// file of that name would be taken instead (unless the DLL is one of the
// system's known DLLs, which winmm and, on XP, psapi are not).
#pragma once

#include <windows.h>

namespace plat {
namespace detail {

// "winmm.dll" -> <system directory>\winmm.dll, loaded with a reference of the
// caller's own; null when it cannot be loaded.
HMODULE loadSystemLibrary(const char* fileName);

} // namespace detail
} // namespace plat
