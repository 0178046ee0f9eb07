// The plug-in module itself: its one export, what it does when the system
// loads it, its debug output and the version of the system it runs on.
//
// libraryLoaded runs on the loader's thread, before anything else of the
// module. debugOutput and getVersion may be called from any thread.
#pragma once

#include "platform/seam.h"

// The one export of a plug-in library.
#if defined(_WIN32)
#define KVQ_EXPORT extern "C" __declspec(dllexport)
#else
#define KVQ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace plat {

// A line of diagnostics for a debugger or a debug-output viewer (on Windows
// OutputDebugStringA); what the module found of the system, never needed by
// the host.
KVQ_PLATFORM_API void debugOutput(const char* text);

// Same layout as the system's OSVERSIONINFOA (148 bytes).
struct OsVersion {
    uint32_t size;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t platformId; // 1 = Windows 95 family, 2 = NT family
    char servicePack[128];
};
static_assert(sizeof(OsVersion) == 148, "OSVERSIONINFOA layout");
// Fills *version; false when it cannot (the caller sets size = 148 first).
KVQ_PLATFORM_API bool getVersion(OsVersion* version);

// What a plug-in library does when the system loads it: on Windows its
// DllMain turns off thread attach and detach notifications. Natively there are
// no such notifications, so there is nothing to do.
KVQ_PLATFORM_API void libraryLoaded(Instance instance);

// Keeps this library loaded for the rest of the process, whatever the host
// unloads: for a worker that outlived its stop and will, once its driver call
// returns, run on in the library's code. On Windows the module is pinned
// (GetModuleHandleExA, XP on; before XP nothing is done). Natively it is only
// counted (testing::librariesKeptLoaded), so that tests can load afresh.
KVQ_PLATFORM_API void keepLibraryLoaded();

} // namespace plat

// A plug-in DLL also has no thread-local storage directory. Nothing in it uses
// static thread-local storage, and the directory the compiler's runtime would
// add only for its TLS callbacks is a hazard: Windows XP does not set one up
// for a library loaded at run time, and Wine's loader can crash while setting
// it up when a thread of its serial event wait has ended before the load. The
// runtime's startup code pulls the directory in through this one pointer;
// defining it as null here keeps it out.
#if defined(_WIN32)
#define KVQ_LIBRARY_MAIN()                                                                         \
    extern "C" {                                                                                   \
    extern void* const __dyn_tls_init_callback;                                                    \
    void* const __dyn_tls_init_callback = nullptr;                                                 \
    }                                                                                              \
    extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void*) {                \
        if (reason == 1) plat::libraryLoaded(instance);                                            \
        return 1;                                                                                  \
    }
#else
#define KVQ_LIBRARY_MAIN()
#endif
