// The framework's one seam to the operating system: the subset of Windows that
// the framework needs, in its own terms, and nothing more.
//
// It is Windows, cut down: threads and mutexes (threads.h), the tick count,
// sleeps and pacers (clock.h), invisible windows with posted messages and
// timers (windows.h), serial devices (serial.h), settings files (settings.h)
// and the module with its debug output and the system's version (module.h).
// A plug-in and the framework include only these. What a host alone needs
// (loading a library, the message loop, the process's resources, the port
// list, the monotonic clock, standard input) is in host.h, which only the
// tools and the tests may include.
//
// Two backends implement it, chosen at build time, with one file per header:
//   win32/  calls the Windows API exactly as the plug-ins require (the product);
//   posix/  emulates those Windows calls on Linux: pthreads, termios, and a
//           message loop that the host pumps. Natively it is one shared library
//           loaded once by the host and by every plug-in, standing in for the
//           system's libraries.
//
// This header holds what every part of the seam shares: the handle types and
// the calling conventions.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 4, "handles travel in 32-bit slots: build for a 32-bit target");

#if defined(_WIN32)
#define KVQ_PLATFORM_API
#define KVQ_CALLBACK __stdcall
#else
#define KVQ_PLATFORM_API __attribute__((visibility("default")))
#define KVQ_CALLBACK
#endif

namespace plat {

using Handle = void*;   // thread, mutex, serial device or wait object; null = none
using Window = void*;   // window handle; null = none
using Instance = void*; // module instance handle (from the host at attach)

} // namespace plat
