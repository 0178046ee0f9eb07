// Serial devices for overlapped use on the Windows communications services.
//
// Every read, write and event wait runs on an OVERLAPPED record of its own on
// the heap, with a private buffer: the caller's frame and buffer are never
// handed to the driver. A request that runs out of time is cancelled by the
// thread that issued it (on Windows XP no other thread can) and awaited, but
// only for a while: a driver whose device was pulled out may keep a request
// pending until the handle closes. Such a request is abandoned together with
// its record, which stays allocated, so that its late completion writes into
// memory nobody uses; the call then reports a timeout, not a failed device: a
// busy machine can be that slow too, and a device that is gone shows as such
// to the watcher's check. A request whose cancel settles is asked what it
// transferred, like one that completed in time.
// The watcher's abandoned record is freed once its request completed (closing
// the device normally completes it).
#include "platform/serial.h"

#include <windows.h>

#include <cstring>

namespace plat {
namespace {

static_assert(sizeof(DCB) == sizeof(LineSettings), "DCB layout");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES layout");

// How long a cancelled request is awaited before it is abandoned.
constexpr DWORD kSettleMs = 1000;

// One read or write: its record, its event and a private copy of the data.
struct Request {
    OVERLAPPED overlapped;
    HANDLE event;
    uint32_t count;
    uint8_t data[1];
};

Request* newRequest(uint32_t count) {
    const SIZE_T size = sizeof(Request) + (count > 0 ? count - 1 : 0);
    auto* request = static_cast<Request*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!request) return nullptr;
    request->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!request->event) {
        HeapFree(GetProcessHeap(), 0, request);
        return nullptr;
    }
    request->overlapped.hEvent = request->event;
    request->count = count;
    return request;
}

// Frees the record, unless the device still holds it: then only the event
// handle goes (the system keeps the event object itself for the request).
void endRequest(Request* request, bool abandoned) {
    CloseHandle(request->event);
    if (!abandoned) HeapFree(GetProcessHeap(), 0, request);
}

// Cancels the calling thread's requests on the device and waits a while for
// this one to let go of its record; false when it did not.
bool cancelAndSettle(HANDLE port, HANDLE event) {
    CancelIo(port);
    return WaitForSingleObject(event, kSettleMs) == WAIT_OBJECT_0;
}

// ReadFile or WriteFile, waiting at most `timeoutMs`; the transferred count in *done.
SerialTransfer transfer(HANDLE port, void* buffer, uint32_t count, bool reading, DWORD timeoutMs,
                        uint32_t* done) {
    if (done) *done = 0;
    if (!port) return kTransferFailed;
    Request* request = newRequest(count);
    if (!request) return kTransferFailed;
    if (!reading && count > 0) std::memcpy(request->data, buffer, count);
    BOOL started = reading ? ReadFile(port, request->data, count, nullptr, &request->overlapped)
                           : WriteFile(port, request->data, count, nullptr, &request->overlapped);
    SerialTransfer result = kTransferFailed;
    bool abandoned = false;
    DWORD transferred = 0;
    if (started || GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(request->event, timeoutMs) == WAIT_OBJECT_0) {
            if (GetOverlappedResult(port, &request->overlapped, &transferred, FALSE))
                result = kTransferDone;
        } else if (cancelAndSettle(port, request->event)) {
            // Given up at the time limit. The device may have completed the
            // request between the end of the wait and the cancel, and a
            // cancelled read completes with the bytes it had taken already:
            // either way they are gone from the device, so they are handed
            // out, and a write that went out is not reported as failed.
            if (GetOverlappedResult(port, &request->overlapped, &transferred, FALSE) ||
                (reading && transferred > 0))
                result = kTransferDone;
            else
                result = kTransferTimedOut;
        } else {
            abandoned = true;
            result = kTransferTimedOut;
        }
    }
    if (result == kTransferDone) {
        if (transferred > count) transferred = count;
        if (reading) std::memcpy(buffer, request->data, transferred);
        if (done) *done = transferred;
    }
    endRequest(request, abandoned);
    return result;
}

// The watcher's wait object: the event of its request, a stop event, the
// event its waiter raises when it is done, and the request's record, which
// must outlive a request the driver will not let go of.
struct WaitRecord {
    OVERLAPPED overlapped;
    DWORD events;
    HANDLE ioEvent;
    HANDLE stopEvent;
    HANDLE finishedEvent;
    HANDLE port;  // of the request
    bool pending; // left pending by a quiet return
    bool abandoned;
};

// Records of closed wait objects whose request the driver still holds, freed
// once it completes; a record that finds no free place is left for good.
WaitRecord* volatile abandonedWaits[kMaxAbandonedWaits];

void freeCompletedWaits() {
    for (auto& slot : abandonedWaits) {
        WaitRecord* wait = slot;
        if (!wait || !HasOverlappedIoCompleted(&wait->overlapped)) continue;
        if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&slot), nullptr,
                                              wait) == wait)
            HeapFree(GetProcessHeap(), 0, wait);
    }
}

void keepUntilCompleted(WaitRecord* wait) {
    for (auto& slot : abandonedWaits)
        if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&slot), wait,
                                              nullptr) == nullptr)
            return;
}

// Why CreateFileA refused a device.
SerialOpenResult openFailure(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED: // held by another program
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
    case ERROR_LOCK_VIOLATION: // Wine, for a device its server finds busy (EBUSY)
        return kOpenHeld;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_GEN_FAILURE:
        return kOpenAbsent;
    default:
        return kOpenFailed;
    }
}

} // namespace

Handle serialOpen(const char* name, const SerialOpenOptions* options, SerialOpenResult* result) {
    SECURITY_ATTRIBUTES attributes;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES* security = nullptr;
    if (options) {
        std::memset(&attributes, 0, sizeof attributes);
        attributes.nLength = sizeof attributes;
        attributes.bInheritHandle = options->inheritable ? TRUE : FALSE;
        if (options->nullDacl) {
            // A present but null DACL: anyone may use the inherited handle.
            InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
            SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
            attributes.lpSecurityDescriptor = &descriptor;
        }
        security = &attributes;
    }
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, security, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (result) *result = port == INVALID_HANDLE_VALUE ? openFailure(GetLastError()) : kOpenDone;
    return port == INVALID_HANDLE_VALUE ? nullptr : port;
}

void serialClose(Handle port) {
    if (!port) return;
    // Reads and writes of this thread that a driver held on to past their
    // cancel: asked once more, then the close (whose clean-up a driver must
    // answer by completing every request of the handle).
    CancelIo(port);
    CloseHandle(port);
}

bool serialSetMask(Handle port, uint32_t mask) {
    return port && SetCommMask(port, mask) != 0;
}

bool serialSetupQueues(Handle port, uint32_t inQueue, uint32_t outQueue) {
    return port && SetupComm(port, inQueue, outQueue) != 0;
}

bool serialPurge(Handle port, uint32_t flags) {
    return port && PurgeComm(port, flags) != 0;
}

bool serialSetTimeouts(Handle port, const SerialTimeouts* timeouts) {
    if (!port || !timeouts) return false;
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = timeouts->readInterval;
    t.ReadTotalTimeoutMultiplier = timeouts->readTotalMultiplier;
    t.ReadTotalTimeoutConstant = timeouts->readTotalConstant;
    t.WriteTotalTimeoutMultiplier = timeouts->writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = timeouts->writeTotalConstant;
    return SetCommTimeouts(port, &t) != 0;
}

bool serialSetState(Handle port, const LineSettings* settings) {
    if (!port || !settings) return false;
    DCB dcb;
    std::memcpy(&dcb, settings, sizeof dcb);
    return SetCommState(port, &dcb) != 0;
}

bool serialEscape(Handle port, uint32_t function) {
    return port && EscapeCommFunction(port, function) != 0;
}

SerialTransfer serialRead(Handle port, void* buffer, uint32_t count, uint32_t timeoutMs,
                          uint32_t* transferred) {
    return transfer(port, buffer, count, true, timeoutMs, transferred);
}

SerialTransfer serialWrite(Handle port, const void* buffer, uint32_t count, uint32_t timeoutMs) {
    return transfer(port, const_cast<void*>(buffer), count, false, timeoutMs, nullptr);
}

Handle createWaitObject() {
    freeCompletedWaits();
    auto* wait =
        static_cast<WaitRecord*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WaitRecord)));
    if (!wait) return nullptr;
    wait->ioEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    wait->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    wait->finishedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!wait->ioEvent || !wait->stopEvent || !wait->finishedEvent) {
        const HANDLE events[] = {wait->ioEvent, wait->stopEvent, wait->finishedEvent};
        for (HANDLE event : events)
            if (event) CloseHandle(event);
        HeapFree(GetProcessHeap(), 0, wait);
        return nullptr;
    }
    return wait;
}

void closeWaitObject(Handle waitObject) {
    auto* wait = static_cast<WaitRecord*>(waitObject);
    if (!wait) return;
    // The system keeps the event of a pending request for as long as it needs it.
    CloseHandle(wait->ioEvent);
    CloseHandle(wait->stopEvent);
    CloseHandle(wait->finishedEvent);
    // An abandoned request may still complete into the record: it stays until then.
    if (wait->abandoned && !HasOverlappedIoCompleted(&wait->overlapped))
        keepUntilCompleted(wait);
    else
        HeapFree(GetProcessHeap(), 0, wait);
    freeCompletedWaits();
}

// Cancels a request left pending by a quiet return; on the thread that issued it.
static void cancelPending(WaitRecord* wait) {
    if (!wait->pending) return;
    wait->pending = false;
    if (!cancelAndSettle(wait->port, wait->ioEvent)) wait->abandoned = true;
}

void finishWaiting(Handle waitObject) {
    auto* wait = static_cast<WaitRecord*>(waitObject);
    if (!wait) return;
    cancelPending(wait);
    SetEvent(wait->finishedEvent);
}

bool awaitFinished(Handle waitObject, uint32_t milliseconds) {
    auto* wait = static_cast<WaitRecord*>(waitObject);
    return wait && WaitForSingleObject(wait->finishedEvent, milliseconds) == WAIT_OBJECT_0;
}

void stopWaiting(Handle waitObject) {
    auto* wait = static_cast<WaitRecord*>(waitObject);
    if (wait) SetEvent(wait->stopEvent);
}

SerialWaitResult serialWaitEvent(Handle port, Handle waitObject, uint32_t* mask, uint32_t limitMs) {
    auto* wait = static_cast<WaitRecord*>(waitObject);
    if (!mask) return kWaitFailed;
    *mask = 0;
    if (wait && WaitForSingleObject(wait->stopEvent, 0) == WAIT_OBJECT_0) {
        cancelPending(wait);
        return kWaitStopped;
    }
    if (!port || !wait || wait->abandoned) return kWaitFailed;
    if (wait->pending && wait->port != port) cancelPending(wait);
    if (!wait->pending) {
        std::memset(&wait->overlapped, 0, sizeof wait->overlapped);
        wait->overlapped.hEvent = wait->ioEvent;
        wait->events = 0;
        wait->port = port;
        if (WaitCommEvent(port, &wait->events, &wait->overlapped)) {
            *mask = wait->events;
            return kWaitImmediate;
        }
        if (GetLastError() != ERROR_IO_PENDING) return kWaitFailed;
        wait->pending = true;
    }
    HANDLE both[2] = {wait->ioEvent, wait->stopEvent};
    DWORD woke = WaitForMultipleObjects(2, both, FALSE, limitMs);
    if (woke == WAIT_TIMEOUT) return kWaitQuiet;
    wait->pending = false;
    DWORD ignored = 0;
    if (woke == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(port, &wait->overlapped, &ignored, FALSE)) return kWaitFailed;
        *mask = wait->events;
        return kWaitCompleted;
    }
    // Stopped, or the wait itself failed: this thread issued the request, so
    // it can cancel it, on every Windows.
    if (!cancelAndSettle(port, wait->ioEvent)) wait->abandoned = true;
    return woke == WAIT_OBJECT_0 + 1 ? kWaitStopped : kWaitFailed;
}

int serialQueuedInput(Handle port) {
    if (!port) return -1;
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (!ClearCommError(port, &errors, &status)) return -1;
    return static_cast<int>(status.cbInQue);
}

bool serialModemStatus(Handle port, uint32_t* status) {
    if (!port || !status) return false;
    DWORD lines = 0;
    if (!GetCommModemStatus(port, &lines)) return false;
    *status = lines & (kModemCts | kModemDsr | kModemRing | kModemRlsd);
    return true;
}

} // namespace plat
