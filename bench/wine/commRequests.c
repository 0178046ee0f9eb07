/* What Wine itself keeps of a serial port's overlapped requests: 4 rounds of 500
 * reads (each cancelled), event waits (each completed by a new event mask) or
 * one-byte writes on COM1, with the process's private memory (PagefileUsage,
 * which Wine fills) before and after each round. No code of the plug-ins runs
 * here. Built and run by bench/wineCommRequests.py.
 *   commRequests.exe MODE     0 reads, 1 event waits, 2 writes
 */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
static SIZE_T priv(void) {
    PROCESS_MEMORY_COUNTERS c; c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
    return c.PagefileUsage / 1024;
}
int main(int argc, char** argv) {
    HANDLE port = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) { printf("open failed %lu\n", GetLastError()); return 1; }
    COMMTIMEOUTS t = {300, 300, 300, 300, 300}; SetCommTimeouts(port, &t);
    SetCommMask(port, EV_RXCHAR | EV_RING);
    setvbuf(stdout, NULL, _IONBF, 0);
    int mode = argc > 1 ? atoi(argv[1]) : 0;
    for (int round = 0; round < 4; ++round) {
        SIZE_T a = priv();
        for (int i = 0; i < 500; ++i) {
            HANDLE ev = CreateEventA(NULL, TRUE, FALSE, NULL);
            OVERLAPPED o; ZeroMemory(&o, sizeof o); o.hEvent = ev;
            DWORD n = 0, mask = 0; char b;
            BOOL ok;
            if (mode == 0) { /* a read that is cancelled */
                ok = ReadFile(port, &b, 1, NULL, &o);
                if (!ok && GetLastError() == ERROR_IO_PENDING) { CancelIo(port); GetOverlappedResult(port, &o, &n, TRUE); }
            } else if (mode == 1) { /* an event wait completed by a new mask */
                ok = WaitCommEvent(port, &mask, &o);
                if (!ok && GetLastError() == ERROR_IO_PENDING) { SetCommMask(port, EV_RXCHAR | EV_RING); GetOverlappedResult(port, &o, &n, TRUE); }
            } else { /* a write */
                ok = WriteFile(port, "x", 1, NULL, &o);
                if (!ok && GetLastError() == ERROR_IO_PENDING) GetOverlappedResult(port, &o, &n, TRUE);
            }
            CloseHandle(ev);
        }
        printf("mode %d round %d: 500 requests: private %lu -> %lu KiB\n", mode, round, (unsigned long)a, (unsigned long)priv());
    }
    return 0;
}
