// Serial devices, opened for overlapped use as on Windows.
//
// A device is opened, set up and closed by its owner's thread; one watcher
// thread may wait for its events meanwhile, and reads and writes may come
// from either. stopWaiting may be called from any thread. Set-up calls return
// false on failure; opens, reads, writes and waits say what they came to.
#pragma once

#include "platform/seam.h"

namespace plat {

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

// What an open came to.
enum SerialOpenResult : int {
    kOpenDone = 0,   // the device is open
    kOpenAbsent = 1, // no such device, or one that cannot be used
    kOpenHeld = 2,   // another program, or another open in this one, has the device
    kOpenFailed = 3, // any other failure: no rights to it, no resources left
};
// Exclusive open for overlapped use; null when the device cannot be opened,
// and then *result (when given) says why. Names follow the Windows convention
// ("com1", "COM3"); natively COMn maps to /dev/ttyS(n-1) unless the
// environment variable KVQ_PORT_COMn names another device.
KVQ_PLATFORM_API Handle serialOpen(const char* name, const SerialOpenOptions* options,
                                   SerialOpenResult* result = nullptr);
// Closing wakes a thread waiting in serialWaitEvent on the same device, and
// cancels the reads and writes that the calling thread left pending on it.
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
// it never writes into `buffer` afterwards, and what it had transferred by
// then is handed out as a completed read. A request that the device would not
// even let go of when cancelled is abandoned to a private buffer and times
// out: only an error from the driver is a failed device (a busy machine can be
// slow too; a device that is gone fails its next call, or the owner's check).
KVQ_PLATFORM_API SerialTransfer serialRead(Handle port, void* buffer, uint32_t count,
                                           uint32_t timeoutMs, uint32_t* transferred = nullptr);
// Writes `count` bytes and waits for completion, at most `timeoutMs` (the
// device's own write timeouts normally end it first); a write that does not
// complete in that time, nor while it is being cancelled, times out.
KVQ_PLATFORM_API SerialTransfer serialWrite(Handle port, const void* buffer, uint32_t count,
                                            uint32_t timeoutMs);

// The watcher's wait object (one per watch loop); null on failure.
KVQ_PLATFORM_API Handle createWaitObject();
// Frees the object; call it only once its waiter has finished (awaitFinished).
// The record of an event wait that its driver held on to even when cancelled
// stays until that request completes (a later create or close frees it), at
// most kMaxAbandonedWaits of them; beyond that one is left for good.
KVQ_PLATFORM_API void closeWaitObject(Handle waitObject);
constexpr int kMaxAbandonedWaits = 32;
// The waiter's last call on its object, after its last event wait: from here
// on it touches neither the object nor the device (an event wait that was
// stopped has been cancelled, and awaited for a bounded settle, before it
// returned).
KVQ_PLATFORM_API void finishWaiting(Handle waitObject);
// Waits at most `milliseconds` for finishWaiting; true when it came.
KVQ_PLATFORM_API bool awaitFinished(Handle waitObject, uint32_t milliseconds);
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
    kWaitQuiet = 4, // `limitMs` passed; the wait is still pending, the next call goes on with it
};
constexpr uint32_t kNoTimeLimit = 0xFFFFFFFFu;
// Waits for one of the masked events (received data, ring). Setting the mask
// meanwhile completes the wait (kWaitCompleted, *mask 0), as on Windows. A
// wait left pending by kWaitQuiet is cancelled by a stop or by finishWaiting.
KVQ_PLATFORM_API SerialWaitResult serialWaitEvent(Handle port, Handle waitObject, uint32_t* mask,
                                                  uint32_t limitMs = kNoTimeLimit);
// Bytes received and not yet read; -1 on failure.
KVQ_PLATFORM_API int serialQueuedInput(Handle port);
// The four modem status flags (kModemCts ... kModemRlsd); false on failure.
KVQ_PLATFORM_API bool serialModemStatus(Handle port, uint32_t* status);

} // namespace plat
