// What the host process holds of the system, for kvq-host's resource check.
// Host side only: nothing in a plug-in calls it, so its imports (the tool-help
// snapshot among them) never reach the DLLs.
#include "platform/platform.h"

#include <windows.h>

#include <tlhelp32.h>

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

} // namespace

void processResources(ProcessResources* resources, uint32_t timerWaitMs) {
    if (!resources) return;
    resources->handles = handlesOfThisProcess();
    resources->threads = threadsOfThisProcess();
    resources->windows = windowsOfThisThread();
    resources->timers = timerMessagesWithin(timerWaitMs);
    resources->userObjects = -1;
    resources->privateKiB = -1;
}

} // namespace plat
