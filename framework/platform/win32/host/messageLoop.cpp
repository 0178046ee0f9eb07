// The host's message loop on the Windows user-interface services.
#include "platform/host.h"

#include <windows.h>

namespace plat {

int pumpMessages(uint32_t timeoutMs) {
    // A procedure that keeps posting to itself must not hold this call forever.
    const int kBatchLimit = 10000;
    const DWORD start = GetTickCount();
    int dispatched = 0;
    for (;;) {
        MSG msg;
        while (dispatched < kBatchLimit && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            ++dispatched;
        }
        if (dispatched > 0) return dispatched;
        DWORD elapsed = GetTickCount() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) return 0;
        DWORD left = timeoutMs == INFINITE ? INFINITE : timeoutMs - elapsed;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, left, QS_ALLINPUT) == WAIT_FAILED)
            return 0;
    }
}

} // namespace plat
