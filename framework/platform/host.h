// What a host alone needs of the system: loading a plug-in library, the
// message loop of its thread, the process's debug output and resources, the
// serial ports of the machine, a monotonic clock and standard input.
//
// Only the tools and the tests include this header; they get it by linking
// the target kvq_platform_host, which defines KVQ_HOST_SIDE. A plug-in or
// framework source that includes it does not build: nothing of it may reach a
// plug-in DLL, whose imports must stay those of the oldest Windows it runs on.
//
// Everything here is called on the host's thread unless it says otherwise.
#pragma once

#if !defined(KVQ_HOST_SIDE)
#error "platform/host.h is for hosts and tests only: link kvq_platform_host, never a plug-in"
#endif

#include "platform/seam.h"

#include <chrono>

namespace plat {

// ---------------------------------------------------------------- library
// What goes before `path` so that the loader takes the file from the current
// folder: by a bare file name it would search its own list of places (and
// might find another file of that name). ".\" on Windows or "./" natively for
// a bare name; "" for a path that names a folder.
KVQ_PLATFORM_API const char* libraryPathPrefix(const char* path);
// A plug-in library by its path; null on failure, with the system's reason in
// `error`.
KVQ_PLATFORM_API void* loadLibrary(const char* path, char* error, size_t errorSize);
KVQ_PLATFORM_API void* findSymbol(void* library, const char* name);
KVQ_PLATFORM_API void freeLibrary(void* library);

// ---------------------------------------------------------------- message loop
// Dispatches posted messages and due timers of the calling thread's windows,
// waiting at most `timeoutMs` for the first one; returns how many were dispatched.
KVQ_PLATFORM_API int pumpMessages(uint32_t timeoutMs);

// ---------------------------------------------------------------- debug output
// Every debugOutput line of the process from now on, on the thread that wrote
// it (Windows: through a vectored exception handler, which sees a line before
// a debugger or a viewer does). One listener; null stops listening.
using DebugListener = void (*)(const char* text);
KVQ_PLATFORM_API void listenDebugOutput(DebugListener listener);

// ---------------------------------------------------------------- resources
// What the process holds of the system: open handles (file descriptors
// natively), threads, windows of the calling thread and its timers, for a host
// that checks that a plug-in gives back everything it took. Windows cannot
// list timers: there, `timers` counts the timer messages that arrive within
// `timerWaitMs` (they are taken from the queue, not dispatched), and a field
// the system will not tell is -1. `userObjects` and `privateKiB` are for a
// long run that must not grow.
struct ProcessResources {
    int handles;
    int threads;
    int windows;
    int timers;
    int userObjects; // window-system objects of the process (USER objects); -1 if unknown
    int privateKiB;  // private memory committed by the process, in KiB; -1 if unknown
};
KVQ_PLATFORM_API void processResources(ProcessResources* resources, uint32_t timerWaitMs);

// ---------------------------------------------------------------- ports
// The serial ports the system has (kvq-host ports and probe). On Windows the
// COMn entries of the DOS device names (QueryDosDeviceA), which under Wine
// include the ports mapped in HKLM\Software\Wine\Ports; natively the COMn
// of each /dev/ttyS* that has a UART behind it and of each KVQ_PORT_COMn
// override, then /dev/ttyUSB* and /dev/ttyACM* by their paths; never the
// kernel's console.
struct SerialPortInfo {
    char name[32];    // what serialOpen takes: "COM7", natively also a device path
    char device[224]; // where it leads: "\Device\Serial6", "/dev/pts/3"
};
// COM ports in number order, then the rest by name; at most `max` are written,
// and the number found is returned.
KVQ_PLATFORM_API int listSerialPorts(SerialPortInfo* ports, int max);
// What the tools tell of a port (serialOpen's result says why an open failed).
enum SerialPortState : int {
    kPortFree = 0,   // can be opened now
    kPortHeld = 1,   // another program has it open
    kPortAbsent = 2, // no device, or one that cannot be used
};

// ---------------------------------------------------------------- monotonic clock
// A monotonic clock in microseconds from an arbitrary start, never set back or
// forward with the wall clock: QueryPerformanceCounter on Windows,
// CLOCK_MONOTONIC natively. (This tool chain's std::chrono::steady_clock is
// gettimeofday on Windows: wall-clock time, in 15.6 ms steps on XP to 7.)
// Any thread.
KVQ_PLATFORM_API int64_t monotonicMicroseconds();
// The same as a std::chrono clock, for the tools' times and deadlines.
struct MonotonicClock {
    using rep = int64_t;
    using period = std::micro;
    using duration = std::chrono::microseconds;
    using time_point = std::chrono::time_point<MonotonicClock>;
    static constexpr bool is_steady = true;
    static time_point now() { return time_point(duration(monotonicMicroseconds())); }
};

// ---------------------------------------------------------------- input
// True once standard input has reached its end (a closed pipe or file); never waits.
KVQ_PLATFORM_API bool inputEnded();
// Reads what standard input has, at most `size` bytes, waiting until some
// comes; the count, 0 at its end, -1 on failure. Bytes come as they stand: on
// Windows \r\n is not turned into \n, nor is a Ctrl+Z byte an end. One
// thread reads; a reader that never uses inputEnded.
KVQ_PLATFORM_API int readInput(void* buffer, uint32_t size);

} // namespace plat
