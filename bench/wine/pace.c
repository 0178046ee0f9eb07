/* How finely a loop of 1 ms pauses runs, three ways: Sleep(1) as the process
 * starts, Sleep(1) under timeBeginPeriod(1), and a high-resolution waitable
 * timer (CreateWaitableTimerExW with CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
 * where the system has it): 2000 pauses each, the median, 99th percentile and
 * longest period by the performance counter. Built and run by bench/winePace.py.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

typedef HANDLE(WINAPI* CreateTimerEx)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
enum { kPauses = 2000 };
static double periods[kPauses];

static int byValue(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static void report(const char* what, HANDLE timer) {
    LARGE_INTEGER f, before, after;
    QueryPerformanceFrequency(&f);
    for (int i = 0; i < kPauses; ++i) {
        QueryPerformanceCounter(&before);
        if (timer) {
            LARGE_INTEGER due;
            due.QuadPart = -10000; /* 1 ms, relative */
            SetWaitableTimer(timer, &due, 0, NULL, NULL, FALSE);
            WaitForSingleObject(timer, 1000);
        } else {
            Sleep(1);
        }
        QueryPerformanceCounter(&after);
        periods[i] = (double)(after.QuadPart - before.QuadPart) * 1000.0 / (double)f.QuadPart;
    }
    qsort(periods, kPauses, sizeof periods[0], byValue);
    printf("%-34s median %.3f ms, 99th %.3f ms, longest %.3f ms\n", what, periods[kPauses / 2],
           periods[kPauses * 99 / 100], periods[kPauses - 1]);
}

int main(void) {
    OSVERSIONINFOA v;
    v.dwOSVersionInfoSize = sizeof v;
    GetVersionExA(&v);
    printf("Windows %lu.%lu as reported\n", v.dwMajorVersion, v.dwMinorVersion);
    report("Sleep(1)", NULL);
    HMODULE winmm = LoadLibraryA("winmm.dll");
    UINT(WINAPI * begin)(UINT) = (UINT(WINAPI*)(UINT))(void*)GetProcAddress(winmm, "timeBeginPeriod");
    UINT(WINAPI * end)(UINT) = (UINT(WINAPI*)(UINT))(void*)GetProcAddress(winmm, "timeEndPeriod");
    begin(1);
    report("Sleep(1) under timeBeginPeriod(1)", NULL);
    end(1);
    CreateTimerEx create =
        (CreateTimerEx)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateWaitableTimerExW");
    HANDLE timer = create ? create(NULL, NULL, 2 /* HIGH_RESOLUTION */, 0x001F0003) : NULL;
    if (timer)
        report("high-resolution waitable timer", timer);
    else
        printf("high-resolution waitable timer: none (error %lu)\n", create ? GetLastError() : 0);
    return 0;
}
