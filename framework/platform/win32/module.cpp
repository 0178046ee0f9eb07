// The module on Windows: no thread notifications once loaded, its debug
// output, and the version the system reports.
#include "platform/module.h"

#include <windows.h>

namespace plat {

static_assert(sizeof(OSVERSIONINFOA) == sizeof(OsVersion), "OSVERSIONINFOA layout");

void libraryLoaded(Instance instance) {
    DisableThreadLibraryCalls(static_cast<HMODULE>(instance));
}

void keepLibraryLoaded() {
    // Found at run time: Windows before XP has no GetModuleHandleExA.
    using GetModuleHandleEx = BOOL(WINAPI*)(DWORD, LPCSTR, HMODULE*);
    const DWORD kPin = 0x1, kFromAddress = 0x4;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto get = reinterpret_cast<GetModuleHandleEx>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetModuleHandleExA")));
    HMODULE self = nullptr;
    // This function is a static part of the plug-in, so its address names it.
    if (get != nullptr)
        get(kPin | kFromAddress,
            reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&keepLibraryLoaded)), &self);
}

void debugOutput(const char* text) {
    OutputDebugStringA(text);
}

bool getVersion(OsVersion* version) {
    if (!version) return false;
    return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(version)) != 0;
}

} // namespace plat
