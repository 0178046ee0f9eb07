// The framework's one seam to the operating system.
//
// Everything above this header is portable: it asks for threads, mutexes, the
// tick count, invisible windows with posted messages and timers, the
// operating-system version and serial devices in the framework's own terms.
// Two backends implement it, chosen at build time:
//   win32/  calls the Windows API exactly as the plug-ins require (the product);
//   posix/  a Linux port: pthreads, termios, and a host-thread message loop that
//           the host pumps. Natively it is one shared library loaded once by the
//           host and by every plug-in, standing in for the system's libraries.
#pragma once

#include <chrono>
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

// The one export of a plug-in library.
#if defined(_WIN32)
#define KVQ_EXPORT extern "C" __declspec(dllexport)
#else
#define KVQ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace plat {

using Handle = void*;   // thread, mutex, serial device or wait object; null = none
using Window = void*;   // window handle; null = none
using Instance = void*; // module instance handle (from the host at attach)

// ---------------------------------------------------------------- threads
constexpr int kThreadPriorityIdle = -15;
constexpr int kThreadPriorityNormal = 0;

using ThreadRoutine = uint32_t(KVQ_CALLBACK*)(void* param);

// Starts a worker at once with the given stack size; fills *threadId. Null on failure.
KVQ_PLATFORM_API Handle createThread(uint32_t stackSize, ThreadRoutine routine, void* param,
                                     uint32_t* threadId);
KVQ_PLATFORM_API void setThreadPriority(Handle thread, int priority);
// Waits at most `milliseconds` for the worker to end; true when it has ended.
KVQ_PLATFORM_API bool waitThread(Handle thread, uint32_t milliseconds);
// Releases the thread handle; a worker still running goes on, detached.
KVQ_PLATFORM_API void closeThread(Handle thread);
KVQ_PLATFORM_API uint32_t currentThreadId();

// Unnamed mutex, not initially owned.
KVQ_PLATFORM_API Handle createMutex();
KVQ_PLATFORM_API void lockMutex(Handle mutex);   // waits without limit; null does nothing
KVQ_PLATFORM_API void unlockMutex(Handle mutex); // null does nothing
KVQ_PLATFORM_API void closeMutex(Handle mutex);

KVQ_PLATFORM_API void sleep(uint32_t milliseconds);
KVQ_PLATFORM_API uint32_t tickCount(); // milliseconds, wraps at 2^32
// A monotonic clock in microseconds from an arbitrary start, never set back or
// forward with the wall clock: QueryPerformanceCounter on Windows,
// CLOCK_MONOTONIC natively. (This tool chain's std::chrono::steady_clock is
// gettimeofday on Windows: wall-clock time, in 15.6 ms steps on XP to 7.)
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
// Windows rounds sleeps and timers up to its tick (about 15.6 ms) unless the
// process asks for a finer one: between these two calls, sleep(1) sleeps about
// 1 ms. Every request is given back once; requests from several callers add up.
KVQ_PLATFORM_API void requestFineTimer();
KVQ_PLATFORM_API void releaseFineTimer();
// A pacer for a loop that wakes about every millisecond. Where the system has
// high-resolution waitable timers (Windows 10 1803 on) the loop waits on one:
// Windows 11 no longer honours the fine timer above for a process whose
// windows are all hidden or minimized, a host in the tray. Elsewhere the pacer
// holds a fine-timer request and sleeps. Opened and closed on one thread (the
// host's), paused on another (the loop's).
enum PaceKind : uint32_t { kPaceBySleep = 1, kPaceByHighResolutionTimer = 2 };
KVQ_PLATFORM_API Handle openPacer(PaceKind* kind); // null only when memory runs out
KVQ_PLATFORM_API void pace(Handle pacer, uint32_t milliseconds);
KVQ_PLATFORM_API void closePacer(Handle pacer);
// A line of diagnostics for a debugger or a debug-output viewer (on Windows
// OutputDebugStringA); what the module found of the system, never needed by
// the host.
KVQ_PLATFORM_API void debugOutput(const char* text);

// ---------------------------------------------------------------- windows and timers
// Windows belong to the host's thread; only postMessage may be called elsewhere.
constexpr uint32_t kWmCreate = 0x0001;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmNcCreate = 0x0081;
constexpr uint32_t kWmNcDestroy = 0x0082;
constexpr uint32_t kWmInitDialog = 0x0110;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmUser = 0x0400;
constexpr uint32_t kUserTimerMinimum = 10; // ms; shorter periods are raised to it

inline Window messageOnlyParent() {
    return reinterpret_cast<Window>(static_cast<intptr_t>(-3));
}

using WindowProc = intptr_t(KVQ_CALLBACK*)(Window window, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam);

// The creation parameter that WM_CREATE carries in the structure lParam points to.
KVQ_PLATFORM_API void* createParamOf(intptr_t wmCreateLParam);

KVQ_PLATFORM_API bool classRegistered(Instance instance, const char* className);
// The window procedure of the class that a window of `className` created with
// `instance` would get (a class of that instance, else a global class of that
// name); null when there is none.
KVQ_PLATFORM_API WindowProc classProcedure(Instance instance, const char* className);
// Registers a class with nothing but the instance, the name and the procedure.
KVQ_PLATFORM_API bool registerClass(Instance instance, const char* className, WindowProc proc);
// Takes the class away; refused (false) while a window of it exists. The system
// never does this itself, not even when the library whose procedure it names
// is unloaded.
KVQ_PLATFORM_API bool unregisterClass(Instance instance, const char* className);
// An invisible window (style 0, position and size 0); null on failure.
KVQ_PLATFORM_API Window createWindow(const char* className, const char* title, Window parent,
                                     Instance instance, void* createParam);
KVQ_PLATFORM_API bool destroyWindow(Window window);
KVQ_PLATFORM_API intptr_t defWindowProc(Window window, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam);
KVQ_PLATFORM_API void setWindowUserData(Window window, intptr_t value);
KVQ_PLATFORM_API intptr_t windowUserData(Window window);
KVQ_PLATFORM_API Window windowParent(Window window);
// Thread-safe; messages to one window keep their order. False when the window
// is gone or the queue of the thread that owns it is full (10,000 posts).
KVQ_PLATFORM_API bool postMessage(Window window, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam);
// Periodic WM_TIMER with wParam = id; a second call with the same id re-arms it.
KVQ_PLATFORM_API bool setTimer(Window window, uintptr_t id, uint32_t milliseconds);
KVQ_PLATFORM_API bool killTimer(Window window, uintptr_t id);

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
KVQ_PLATFORM_API bool getVersion(OsVersion* version); // caller sets size = 148

// ---------------------------------------------------------------- serial devices
// Same layout as the system's DCB (28 bytes).
struct LineSettings {
    uint32_t DCBlength;
    uint32_t BaudRate;
    uint32_t fBinary : 1;
    uint32_t fParity : 1;
    uint32_t fOutxCtsFlow : 1;
    uint32_t fOutxDsrFlow : 1;
    uint32_t fDtrControl : 2;
    uint32_t fDsrSensitivity : 1;
    uint32_t fTXContinueOnXoff : 1;
    uint32_t fOutX : 1;
    uint32_t fInX : 1;
    uint32_t fErrorChar : 1;
    uint32_t fNull : 1;
    uint32_t fRtsControl : 2;
    uint32_t fAbortOnError : 1;
    uint32_t fDummy2 : 17;
    uint16_t wReserved;
    uint16_t XonLim;
    uint16_t XoffLim;
    uint8_t ByteSize;
    uint8_t Parity;
    uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    uint16_t wReserved1;
};
static_assert(sizeof(LineSettings) == 28, "DCB layout");

struct SerialTimeouts {
    uint32_t readInterval;
    uint32_t readTotalMultiplier;
    uint32_t readTotalConstant;
    uint32_t writeTotalMultiplier;
    uint32_t writeTotalConstant;
};

constexpr uint32_t kEvRxChar = 0x0001;
constexpr uint32_t kEvRing = 0x0100;
constexpr uint32_t kPurgeAll = 0x0F; // TXABORT | RXABORT | TXCLEAR | RXCLEAR
constexpr uint32_t kEscapeSetDtr = 5;
constexpr uint32_t kModemCts = 0x10;
constexpr uint32_t kModemDsr = 0x20;
constexpr uint32_t kModemRing = 0x40;
constexpr uint32_t kModemRlsd = 0x80;

struct SerialOpenOptions {
    bool inheritable = false; // handle inheritable by child processes
    bool nullDacl = false;    // NT family: a present but null DACL
};

// Exclusive open for overlapped use; null when the device cannot be opened.
// Names follow the Windows convention ("com1", "COM3"); natively COMn maps to
// /dev/ttyS(n-1) unless the environment variable KVQ_PORT_COMn names another device.
KVQ_PLATFORM_API Handle serialOpen(const char* name, const SerialOpenOptions* options);
// Closing wakes a thread waiting in serialWaitEvent on the same device.
KVQ_PLATFORM_API void serialClose(Handle port);
KVQ_PLATFORM_API bool serialSetMask(Handle port, uint32_t mask);
KVQ_PLATFORM_API bool serialSetupQueues(Handle port, uint32_t inQueue, uint32_t outQueue);
KVQ_PLATFORM_API bool serialPurge(Handle port, uint32_t flags);
KVQ_PLATFORM_API bool serialSetTimeouts(Handle port, const SerialTimeouts* timeouts);
KVQ_PLATFORM_API bool serialSetState(Handle port, const LineSettings* settings);
KVQ_PLATFORM_API bool serialEscape(Handle port, uint32_t function);

// What a read or a write came to.
enum SerialTransfer : int {
    kTransferFailed = -1,  // the device failed (gone, broken) or the handle is no device
    kTransferTimedOut = 0, // the time limit passed first; nothing was transferred
    kTransferDone = 1,     // completed, maybe with fewer bytes (the device's own timeouts)
};
// Reads at most `count` bytes; *transferred (when given) receives how many came.
// A request that runs out of `timeoutMs` is cancelled before the call returns:
// it never writes into `buffer` afterwards. A request that the device would not
// even let go of when cancelled is abandoned to a private buffer and counts as
// a failed device.
KVQ_PLATFORM_API int serialRead(Handle port, void* buffer, uint32_t count, uint32_t timeoutMs,
                                uint32_t* transferred = nullptr);
// Writes `count` bytes and waits for completion, at most `timeoutMs` (the
// device's own write timeouts normally end it first); a write that does not
// complete in that time counts as a failed device.
KVQ_PLATFORM_API int serialWrite(Handle port, const void* buffer, uint32_t count,
                                 uint32_t timeoutMs);

// The watcher's wait object (one per watch loop); null on failure.
KVQ_PLATFORM_API Handle createWaitObject();
KVQ_PLATFORM_API void closeWaitObject(Handle waitObject);
// Thread-safe: ends the event wait pending on this object, and every later
// one, with kWaitStopped, whatever the device does. Some drivers keep an event
// wait pending after their device was pulled out, even when the event mask
// changes or the handle is closed; a stop never depends on them.
KVQ_PLATFORM_API void stopWaiting(Handle waitObject);
enum SerialWaitResult : int {
    kWaitFailed = 0,    // the device failed, or the handle is no device
    kWaitImmediate = 1, // completed at once; *mask holds the events
    kWaitCompleted = 2, // was pending and completed later
    kWaitStopped = 3,   // stopWaiting was called
};
// Waits for one of the masked events (received data, ring). Setting the mask
// meanwhile completes the wait (kWaitCompleted, *mask 0), as on Windows.
KVQ_PLATFORM_API int serialWaitEvent(Handle port, Handle waitObject, uint32_t* mask);
// Bytes received and not yet read; -1 on failure.
KVQ_PLATFORM_API int serialQueuedInput(Handle port);
// The four modem status flags (kModemCts ... kModemRlsd); false on failure.
KVQ_PLATFORM_API bool serialModemStatus(Handle port, uint32_t* status);

// ---------------------------------------------------------------- settings files
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
KVQ_PLATFORM_API int readSetting(const char* file, const char* section, const char* key,
                                 char* value, size_t size);

// ---------------------------------------------------------------- host side
// What a host (kvq-host, the tests) needs: loading a plug-in and running the
// message loop of the calling thread.
KVQ_PLATFORM_API void* loadLibrary(const char* path, char* error, size_t errorSize);
KVQ_PLATFORM_API void* findSymbol(void* library, const char* name);
KVQ_PLATFORM_API void freeLibrary(void* library);
// Every debugOutput line of the process from now on, on the thread that wrote
// it (Windows: through a vectored exception handler, which sees a line before
// a debugger or a viewer does). One listener; null stops listening.
using DebugListener = void (*)(const char* text);
KVQ_PLATFORM_API void listenDebugOutput(DebugListener listener);
// True once standard input has reached its end (a closed pipe or file); never waits.
KVQ_PLATFORM_API bool inputEnded();
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
// Dispatches posted messages and due timers of the calling thread's windows,
// waiting at most `timeoutMs` for the first one; returns how many were dispatched.
KVQ_PLATFORM_API int pumpMessages(uint32_t timeoutMs);

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
enum SerialPortState : int {
    kPortFree = 0,   // can be opened now
    kPortHeld = 1,   // another program has it open
    kPortAbsent = 2, // no device, or one that cannot be used
};
// Why the last serialOpen of the calling thread failed: kPortHeld or kPortAbsent.
KVQ_PLATFORM_API int serialOpenFailure();

} // namespace plat

// What a plug-in library does when the system loads it: on Windows its
// DllMain turns off thread attach and detach notifications. Natively there are
// no such notifications, so there is nothing to do.
//
// A plug-in DLL also has no thread-local storage directory. Nothing in it uses
// static thread-local storage, and the directory the compiler's runtime would
// add only for its TLS callbacks is a hazard: Windows XP does not set one up
// for a library loaded at run time, and Wine's loader can crash while setting
// it up when a thread of its serial event wait has ended before the load. The
// runtime's startup code pulls the directory in through this one pointer;
// defining it as null here keeps it out.
namespace plat {
KVQ_PLATFORM_API void libraryLoaded(Instance instance);
} // namespace plat
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
