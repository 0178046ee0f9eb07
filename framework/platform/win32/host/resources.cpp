// What the host process holds of the system, for kvq-host's resource check.
// Host side only: nothing in a plug-in calls it, so its imports (the tool-help
// snapshot among them) never reach the DLLs.
#include "platform/host.h"
#include "platform/win32/systemLibrary.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>

namespace plat {
namespace {

BOOL CALLBACK countWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int threadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    CloseHandle(snapshot);
    return count;
}

// Top-level windows of this thread, and its message-only windows, which the
// thread enumeration does not list.
int windowsOfThisThread() {
    const DWORD thread = GetCurrentThreadId();
    int count = 0;
    EnumThreadWindows(thread, countWindow, reinterpret_cast<LPARAM>(&count));
    HWND child = nullptr;
    for (int guard = 0; guard < 100000; ++guard) {
        child = FindWindowExA(HWND_MESSAGE, child, nullptr, nullptr);
        if (!child) break;
        if (GetWindowThreadProcessId(child, nullptr) == thread) ++count;
    }
    return count;
}

// Wine answers GetProcessHandleCount with 0; the system's handle list, filtered
// by process, tells the truth there (and on Windows too).
int handlesOfThisProcess() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return static_cast<int>(count);
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    Query query = ntdll ? reinterpret_cast<Query>(reinterpret_cast<void*>(
                              GetProcAddress(ntdll, "NtQuerySystemInformation")))
                        : nullptr;
    if (!query) return -1;
    struct Entry { // SYSTEM_HANDLE_TABLE_ENTRY_INFO, 32-bit
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        void* object;
        ULONG access;
    };
    const ULONG kSystemHandleInformation = 16;
    const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    ULONG size = 1 << 16;
    for (int attempt = 0; attempt < 8; ++attempt, size *= 4) {
        void* buffer = HeapAlloc(GetProcessHeap(), 0, size);
        if (!buffer) return -1;
        ULONG needed = 0;
        LONG status = query(kSystemHandleInformation, buffer, size, &needed);
        if (status == 0) {
            const ULONG entries = *static_cast<ULONG*>(buffer);
            const Entry* entry = reinterpret_cast<const Entry*>(static_cast<char*>(buffer) + 4);
            const ULONG self = GetCurrentProcessId();
            int mine = 0;
            for (ULONG i = 0; i < entries && 4 + (i + 1) * sizeof(Entry) <= size; ++i)
                mine += entry[i].ownerPid == self;
            HeapFree(GetProcessHeap(), 0, buffer);
            return mine;
        }
        HeapFree(GetProcessHeap(), 0, buffer);
        if (status != kInfoLengthMismatch) return -1;
    }
    return -1;
}

int timerMessagesWithin(DWORD waitMs) {
    int count = 0;
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))
            ++count;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= waitMs) return count;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs - elapsed, QS_TIMER);
    }
}

// USER objects of the process (windows, menus, cursors, hooks, timers and
// the like), as the window system counts them; 0 is also the answer of a
// system that will not tell, so it counts only with no error set.
int userObjectsOfThisProcess() {
    SetLastError(0);
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (count == 0 && GetLastError() != 0) return -1;
    return static_cast<int>(count);
}

// PROCESS_MEMORY_COUNTERS_EX. Its PrivateUsage (Windows XP SP2 and later) is
// the memory committed for this process alone, its private bytes; the older
// PagefileUsage is the same commit charge on the NT family. Wine leaves
// PrivateUsage 0 and puts the process's resident anonymous memory (and its
// swap) in PagefileUsage, the nearest it has.
struct MemoryCounters {
    DWORD cb;
    DWORD PageFaultCount;
    SIZE_T PeakWorkingSetSize;
    SIZE_T WorkingSetSize;
    SIZE_T QuotaPeakPagedPoolUsage;
    SIZE_T QuotaPagedPoolUsage;
    SIZE_T QuotaPeakNonPagedPoolUsage;
    SIZE_T QuotaNonPagedPoolUsage;
    SIZE_T PagefileUsage;
    SIZE_T PeakPagefileUsage;
    SIZE_T PrivateUsage; // the _EX part
};
constexpr DWORD kCountersWithoutPrivateUsage = offsetof(MemoryCounters, PrivateUsage);

// Newer systems have the function in kernel32 (K32GetProcessMemoryInfo),
// older ones only in psapi.dll; looked up rather than imported, so that the
// tool still starts where neither is there. psapi.dll, once loaded (from the
// system directory), stays.
int privateKiBOfThisProcess() {
    using Query = BOOL(WINAPI*)(HANDLE, MemoryCounters*, DWORD);
    static Query query = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
            query = reinterpret_cast<Query>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "K32GetProcessMemoryInfo")));
        if (!query)
            if (HMODULE psapi = detail::loadSystemLibrary("psapi.dll"))
                query = reinterpret_cast<Query>(
                    reinterpret_cast<void*>(GetProcAddress(psapi, "GetProcessMemoryInfo")));
    }
    if (!query) return -1;
    MemoryCounters counters{};
    counters.cb = sizeof counters;
    if (!query(GetCurrentProcess(), &counters, sizeof counters)) {
        // A system older than the _EX structure takes only the part before it.
        counters = MemoryCounters{};
        counters.cb = kCountersWithoutPrivateUsage;
        if (!query(GetCurrentProcess(), &counters, kCountersWithoutPrivateUsage)) return -1;
    }
    const SIZE_T bytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    if (bytes == 0) return -1; // a running process has private memory: the system did not tell
    const SIZE_T kib = bytes / 1024;
    return kib > 0x7FFFFFFF ? -1 : static_cast<int>(kib);
}

} // namespace

void processResources(ProcessResources* resources, uint32_t timerWaitMs) {
    if (!resources) return;
    resources->handles = handlesOfThisProcess();
    resources->threads = threadsOfThisProcess();
    resources->windows = windowsOfThisThread();
    resources->timers = timerMessagesWithin(timerWaitMs);
    resources->userObjects = userObjectsOfThisProcess();
    resources->privateKiB = privateKiBOfThisProcess();
}

} // namespace plat
