// Sleeps, the tick count, the system's timer resolution, and the pacer of a
// millisecond loop.
//
// winmm (timeBeginPeriod) is loaded when a finer timer is first asked for, by
// its full path in the system directory: it is not one of the known DLLs, and
// by its bare name the host's own folder would be searched first. The load
// takes a reference of this module's own, kept for the rest of the process: a
// plug-in that imported winmm would load and unload it with every load of its
// own, and Wine (at least) leaves 13 handles behind at each of those.
//
// High-resolution waitable timers are found with GetProcAddress, so that the
// import list stays what Windows XP has; where CreateWaitableTimerExW is
// missing (XP) or refuses the flag (Vista to Windows 10 1709), the pacer falls
// back to timeBeginPeriod(1) and Sleep.
#include "platform/clock.h"
#include "platform/win32/systemLibrary.h"

#include <windows.h>

#include <new>

namespace plat {

void sleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}

uint32_t tickCount() {
    return GetTickCount();
}

// The C runtime's localtime keeps its result per thread.
std::tm localTime() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (std::tm* t = std::localtime(&now)) local = *t;
    return local;
}

namespace {

using PeriodFunction = UINT(WINAPI*)(UINT);
using CreateTimerExFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);

constexpr DWORD kHighResolutionFlag = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD kTimerAllAccess = 0x001F0003;     // TIMER_ALL_ACCESS

HMODULE winmm = nullptr;
bool winmmTried = false;

// timeBeginPeriod or timeEndPeriod; null when winmm cannot be had. Called on
// the host's thread only.
PeriodFunction winmmFunction(const char* name) {
    if (!winmmTried) {
        winmmTried = true;
        winmm = detail::loadSystemLibrary("winmm.dll");
    }
    if (winmm == nullptr) return nullptr;
    return reinterpret_cast<PeriodFunction>(reinterpret_cast<void*>(GetProcAddress(winmm, name)));
}

// A high-resolution waitable timer; null where the system has none.
HANDLE createHighResolutionTimer() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return nullptr;
    auto create = reinterpret_cast<CreateTimerExFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreateWaitableTimerExW")));
    if (create == nullptr) return nullptr;
    return create(nullptr, nullptr, kHighResolutionFlag, kTimerAllAccess);
}

struct Pacer {
    HANDLE timer; // null: Sleep under a fine-timer request
};

} // namespace

void requestFineTimer() {
    if (PeriodFunction begin = winmmFunction("timeBeginPeriod")) begin(1);
}

void releaseFineTimer() {
    if (PeriodFunction end = winmmFunction("timeEndPeriod")) end(1);
}

Handle openPacer(PaceKind* kind) {
    Pacer* pacer = new (std::nothrow) Pacer{createHighResolutionTimer()};
    if (pacer == nullptr) return nullptr;
    if (pacer->timer == nullptr) requestFineTimer();
    if (kind != nullptr)
        *kind = pacer->timer != nullptr ? kPaceByHighResolutionTimer : kPaceBySleep;
    return pacer;
}

void pace(Handle handle, uint32_t milliseconds) {
    auto* pacer = static_cast<Pacer*>(handle);
    if (pacer != nullptr && pacer->timer != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000; // relative, in 100 ns
        // Bounded, should the timer never be signalled.
        if (SetWaitableTimer(pacer->timer, &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(pacer->timer, milliseconds + 1000) != WAIT_FAILED)
            return;
    }
    Sleep(milliseconds);
}

void closePacer(Handle handle) {
    auto* pacer = static_cast<Pacer*>(handle);
    if (pacer == nullptr) return;
    if (pacer->timer != nullptr)
        CloseHandle(pacer->timer);
    else
        releaseFineTimer();
    delete pacer;
}

} // namespace plat
