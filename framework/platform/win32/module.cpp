// The module on Windows: no thread notifications once loaded, its debug
// output, and the version the system reports.
#include "platform/module.h"

#include <windows.h>

namespace plat {

static_assert(sizeof(OSVERSIONINFOA) == sizeof(OsVersion), "OSVERSIONINFOA layout");

void libraryLoaded(Instance instance) {
    DisableThreadLibraryCalls(static_cast<HMODULE>(instance));
}

void debugOutput(const char* text) {
    OutputDebugStringA(text);
}

bool getVersion(OsVersion* version) {
    if (!version) return false;
    return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(version)) != 0;
}

} // namespace plat
