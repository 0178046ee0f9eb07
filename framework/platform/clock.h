// The tick count, sleeps, the system's timer resolution and the pacer of a
// loop that wakes about every millisecond.
//
// sleep and tickCount may be called from any thread. The fine-timer requests
// and the pacers say below which thread may call them.
#pragma once

#include "platform/seam.h"

#include <ctime>

namespace plat {

KVQ_PLATFORM_API void sleep(uint32_t milliseconds);
KVQ_PLATFORM_API uint32_t tickCount(); // milliseconds, wraps at 2^32
// The wall clock's local time now, in the system's time zone; all zeros when
// the system cannot tell it. Any thread.
KVQ_PLATFORM_API std::tm localTime();

// Windows rounds sleeps and timers up to its tick (about 15.6 ms) unless the
// process asks for a finer one: between these two calls, sleep(1) sleeps about
// 1 ms. Every request is given back once; requests from several callers add
// up. Called on the host's thread.
KVQ_PLATFORM_API void requestFineTimer();
KVQ_PLATFORM_API void releaseFineTimer();

// A pacer for a loop that wakes about every millisecond. Where the system has
// high-resolution waitable timers (Windows 10 1803 on) the loop waits on one:
// Windows 11 no longer honours the fine timer above for a process whose
// windows are all hidden or minimized, a host in the tray. Elsewhere the pacer
// holds a fine-timer request and sleeps. Opened and closed on the host's
// thread, paused on another (the loop's); a loop left running by its stop
// closes its pacer itself when it ends.
enum PaceKind : uint32_t { kPaceBySleep = 1, kPaceByHighResolutionTimer = 2 };
KVQ_PLATFORM_API Handle openPacer(PaceKind* kind); // null only when memory runs out
KVQ_PLATFORM_API void pace(Handle pacer, uint32_t milliseconds);
KVQ_PLATFORM_API void closePacer(Handle pacer);

} // namespace plat
