// Test seams of the POSIX platform library.
//
// Tests use these to make the system services fail on demand, to make the
// platform report an older system, and to count the resources that are still
// alive (windows, timers, threads, mutexes, wait objects, open devices), so
// that a test can check that an object releases everything it created. They
// exist only in the native library; the Windows backend has no equivalent.
#pragma once

#include "platform/seam.h"

namespace plat {
namespace testing {

// While set, registerClass fails (returns false) without registering anything.
KVQ_PLATFORM_API void failClassRegistration(bool fail);
// While set, createWindow fails (returns null) before sending any message.
KVQ_PLATFORM_API void failWindowCreation(bool fail);
// While set, createThread fails (returns null) without starting anything.
KVQ_PLATFORM_API void failThreadCreation(bool fail);
// While set, createWaitObject fails (returns null).
KVQ_PLATFORM_API void failWaitObjectCreation(bool fail);
// Makes getVersion report the given platform id and major version (minor 0).
KVQ_PLATFORM_API void overrideVersion(uint32_t platformId, uint32_t major);
// Back to the version the platform normally reports.
KVQ_PLATFORM_API void restoreVersion();
// While set, no serial read and no sleep waits longer than `milliseconds`: a
// read then completes with what has arrived, as when the device's own timeouts
// run out. Lets a test drive a protocol through its timeouts quickly.
KVQ_PLATFORM_API void capWaits(uint32_t milliseconds);
// Waits take their full time again.
KVQ_PLATFORM_API void uncapWaits();
// While set, a serial event wait ends only through stopWaiting or an event:
// neither a new event mask nor closing the device ends it, as with drivers
// that keep a wait pending after their device was pulled out.
KVQ_PLATFORM_API void stubbornEventWaits(bool stubborn);
// While set, a serial read or write that completes within its caller's time
// limit is seen only when that limit has passed and the request is being
// cancelled, as when a device completes a request between the end of the
// caller's wait and its cancel.
KVQ_PLATFORM_API void lateCompletions(bool late);
// While set, every serial event wait fails at once, as with a driver that
// refuses the event mask or the wait itself.
KVQ_PLATFORM_API void failEventWaitsAtOnce(bool fail);
// While set, a look at a device's queues (serialQueuedInput, Windows'
// ClearCommError, which has no time limit) does not return, as with a driver
// that never answers it.
KVQ_PLATFORM_API void hangStatusReads(bool hang);
// Serial devices opened since the process started.
KVQ_PLATFORM_API int serialOpens();
// Windows' rule for a thread that ends with a request of its own still
// pending: the system waits for the request to complete before the thread is
// gone. While set, a stubborn event wait that is stopped is cancelled in vain:
// after a settle of 1 s (capped by capWaits) it returns, its request still
// pending, and the thread that issued it cannot end until the request
// completes: when its device is closed, or with `untilClose` false, only when
// the switch is cleared.
KVQ_PLATFORM_API void pendingRequestsHoldTheirThread(bool hold, bool untilClose = true);
// Requests left pending so, process-wide.
KVQ_PLATFORM_API int heldRequests();
// Serial event waits in progress, process-wide: a test waits for its waiter to
// be in its wait instead of sleeping for a while.
KVQ_PLATFORM_API int pendingEventWaits();
// Devices closed while an event wait on them was still in progress, since the
// process started: closing first leaves a waiter on a handle that may soon
// name something else.
KVQ_PLATFORM_API int devicesClosedUnderAWait();
// While set, serialModemStatus blocks once it has found its device, until the
// switch is cleared: a driver that never completes GetCommModemStatus (a hung
// USB adapter). Clearing it releases every blocked read, which then goes on
// as usual.
KVQ_PLATFORM_API void blockStatusReads(bool block);
// Status reads blocked by the switch above right now.
KVQ_PLATFORM_API int blockedStatusReads();
// While cleared, openPacer finds no high-resolution timer, as on Windows
// before 10 1803, and paces by sleeps under a fine-timer request.
KVQ_PLATFORM_API void offerHighResolutionTimers(bool offer);
// Times a library was asked to stay loaded (keepLibraryLoaded), since the
// process started.
KVQ_PLATFORM_API int librariesKeptLoaded();
// Clears every failure switch, the wait cap, stubborn, failing and held
// waits, late completions, hanging and blocked status reads (releasing them),
// the version override, and offers high-resolution timers again.
KVQ_PLATFORM_API void resetSeams();

// Live resources, counted process-wide.
KVQ_PLATFORM_API int liveWindows();
KVQ_PLATFORM_API int liveTimers();
KVQ_PLATFORM_API int liveThreads(); // workers from createThread still running
KVQ_PLATFORM_API int liveThreadHandles();
KVQ_PLATFORM_API int liveMutexes();
KVQ_PLATFORM_API int liveWaitObjects();
KVQ_PLATFORM_API int openSerialDevices();
// Messages posted and not yet dispatched or dropped.
KVQ_PLATFORM_API int queuedMessages();
// Fine-timer requests not yet given back.
KVQ_PLATFORM_API int fineTimerRequests();
// Posts refused because the queue was full, since the process started.
KVQ_PLATFORM_API int refusedPosts();

} // namespace testing
} // namespace plat
