// vThread: the base of work that runs beside the host's thread. A derived
// class overrides `run` with a loop that lasts while `running` is set; `start`
// creates the worker (64 KiB stack, the given priority) and its mutex, `stop`
// clears `running` under the mutex, gives the worker normal priority for its
// last steps and waits at most 2000 ms for it (then once more, longer).
// A worker still running after those waits (blocked in a driver call that
// never returns) is remembered: its handles stay, a later `stop` only looks
// whether it has ended meanwhile and says false while it has not, and its
// owner must leave it what it uses.
// The mutex guards `running` and whatever the worker shares with the host's
// thread; it is held only for the few instructions that touch that state.
#pragma once

#include "platform/threads.h"

#include <atomic>
#include <cstdint>

class vThread {
public:
    static constexpr uint32_t kStackSize = 65536;
    static constexpr uint32_t kStopWaitMs = 2000;
    static constexpr uint32_t kStarvedWaitMs = 10000;

    explicit vThread(int32_t autoDelete);
    vThread(const vThread&) = delete;
    vThread& operator=(const vThread&) = delete;
    virtual ~vThread();

    virtual void onStarted();
    virtual void onStopped();
    virtual uint32_t run();
    virtual void reserved();

    void start(int priority);
    // Clears `running` under the mutex: the first step of `stop`, alone, for an
    // owner that must wake the worker from a device wait before it waits for it.
    void signalStop();
    // Stops the worker; false when it was still running after every wait, and
    // so may still use what it shares with its owner. Once a worker has
    // outlived a stop, a later one does not wait again (the host's thread has
    // waited for it already): it returns false at once while the worker runs,
    // and releases its handles once it has ended.
    bool stop();
    // Stops a worker whose `run` its owner knows to be over: its end is awaited
    // at most `milliseconds` (the system may hold a thread in its exit while
    // a request of its own is pending), then it is let go.
    bool stopEnded(uint32_t milliseconds);

    void lock();
    void unlock();
    bool isRunning() const { return running.load(std::memory_order_acquire) != 0; }
    bool isStarted() const { return threadHandle != nullptr; }

private:
    static uint32_t KVQ_CALLBACK threadRoutine(void* param);
    bool awaitEnd();
    void releaseHandles();

    plat::Handle threadHandle = nullptr;
    uint32_t threadId = 0;
    int32_t autoDelete;
    std::atomic<int32_t> running{0};
    plat::Handle mutex = nullptr;
    bool leftRunning = false; // the worker outlived a stop; its handles are kept
};
