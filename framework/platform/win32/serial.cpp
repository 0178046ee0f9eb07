// Serial devices for overlapped use on the Windows communications services.
//
// Every read, write and event wait runs on an OVERLAPPED record in the
// caller's frame. None of them returns while its request could still complete
// into that frame: a read that runs out of time, and an event wait whose wait
// fails, are cancelled and their cancellation awaited first.
#include "platform/platform.h"

#include <windows.h>

#include <cstring>

namespace plat {
namespace {

static_assert(sizeof(DCB) == sizeof(LineSettings), "DCB layout");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES layout");

// Cancels the caller's outstanding requests on the device and waits until this one is
// finished with its record.
void cancelAndSettle(HANDLE port, OVERLAPPED* overlapped) {
    DWORD ignored = 0;
    CancelIo(port);
    GetOverlappedResult(port, overlapped, &ignored, TRUE);
}

// ReadFile or WriteFile on a fresh manual-reset event, waiting at most `timeoutMs`.
int transfer(HANDLE port, void* buffer, uint32_t count, bool reading, DWORD timeoutMs) {
    if (!port) return 0;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) return 0;
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;
    BOOL started = reading ? ReadFile(port, buffer, count, nullptr, &overlapped)
                           : WriteFile(port, buffer, count, nullptr, &overlapped);
    int result = 0;
    if (started) {
        result = 1;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        DWORD transferred = 0;
        if (WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0)
            result = GetOverlappedResult(port, &overlapped, &transferred, FALSE) ? 1 : 0;
        else
            cancelAndSettle(port, &overlapped);
    }
    CloseHandle(event);
    return result;
}

} // namespace

Handle serialOpen(const char* name, const SerialOpenOptions* options) {
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
    return port == INVALID_HANDLE_VALUE ? nullptr : port;
}

void serialClose(Handle port) {
    if (port) CloseHandle(port);
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

int serialRead(Handle port, void* buffer, uint32_t count, uint32_t timeoutMs) {
    return transfer(port, buffer, count, true, timeoutMs);
}

int serialWrite(Handle port, const void* buffer, uint32_t count) {
    return transfer(port, const_cast<void*>(buffer), count, false, INFINITE);
}

Handle createWaitObject() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void closeWaitObject(Handle waitObject) {
    if (waitObject) CloseHandle(waitObject);
}

int serialWaitEvent(Handle port, Handle waitObject, uint32_t* mask) {
    if (!port || !waitObject || !mask) return kWaitFailed;
    DWORD events = 0;
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = waitObject;
    *mask = 0;
    if (WaitCommEvent(port, &events, &overlapped)) {
        *mask = events;
        return kWaitImmediate;
    }
    if (GetLastError() != ERROR_IO_PENDING) return kWaitFailed;
    DWORD ignored = 0;
    if (WaitForSingleObject(waitObject, INFINITE) != WAIT_OBJECT_0) {
        // The request still points at `events` and `overlapped`; end it before they go.
        cancelAndSettle(port, &overlapped);
        return kWaitFailed;
    }
    if (!GetOverlappedResult(port, &overlapped, &ignored, TRUE)) return kWaitFailed;
    *mask = events;
    return kWaitCompleted;
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
