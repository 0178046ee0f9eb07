// The monotonic clock of the tools' times and deadlines, on the performance
// counter. Host side only: nothing in a plug-in calls it, so its imports never
// reach the DLLs.
#include "platform/host.h"

#include <windows.h>

namespace plat {

int64_t monotonicMicroseconds() {
    static LONGLONG frequency = 0; // counts a second; fixed while the system runs
    if (frequency == 0) {
        LARGE_INTEGER f;
        if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0)
            return static_cast<int64_t>(GetTickCount()) * 1000; // no counter on this machine
        frequency = f.QuadPart;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const LONGLONG seconds = now.QuadPart / frequency;
    const LONGLONG rest = now.QuadPart % frequency;
    return seconds * 1000000 + rest * 1000000 / frequency;
}

} // namespace plat
