// Worker threads and mutexes.
//
// Any thread may call these; a handle is valid until it is closed, and no
// thread may use it after that. Creation returns null on failure; the other
// calls do nothing (waitThread returns false) for a null handle.
#pragma once

#include "platform/seam.h"

namespace plat {

constexpr int kThreadPriorityIdle = -15;
constexpr int kThreadPriorityNormal = 0;

using ThreadRoutine = uint32_t(KVQ_CALLBACK*)(void* param);

// Starts a worker at once with the given stack size; fills *threadId. Null on failure.
KVQ_PLATFORM_API Handle createThread(uint32_t stackSize, ThreadRoutine routine, void* param,
                                     uint32_t* threadId);
KVQ_PLATFORM_API void setThreadPriority(Handle thread, int priority);
// Waits at most `milliseconds` for the worker to end; true when it has ended.
KVQ_PLATFORM_API bool waitThread(Handle thread, uint32_t milliseconds);
// Releases the thread handle; a worker still running goes on, detached.
KVQ_PLATFORM_API void closeThread(Handle thread);
KVQ_PLATFORM_API uint32_t currentThreadId();

// Unnamed mutex, not initially owned; its owner may lock it again (recursive).
KVQ_PLATFORM_API Handle createMutex();
KVQ_PLATFORM_API void lockMutex(Handle mutex);   // waits without limit; null does nothing
KVQ_PLATFORM_API void unlockMutex(Handle mutex); // null does nothing
KVQ_PLATFORM_API void closeMutex(Handle mutex);

// A mutex owned for the life of an object (the Windows tool chain of the DLLs
// has no std::mutex).
class Mutex {
public:
    Mutex() : handle_(createMutex()) {}
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    ~Mutex() { closeMutex(handle_); }
    Handle handle() const { return handle_; }

private:
    Handle handle_;
};

// Holds a mutex for the life of a scope.
class MutexGuard {
public:
    explicit MutexGuard(Handle mutex) : mutex_(mutex) { lockMutex(mutex_); }
    explicit MutexGuard(const Mutex& mutex) : MutexGuard(mutex.handle()) {}
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;
    ~MutexGuard() { unlockMutex(mutex_); }

private:
    Handle mutex_;
};

} // namespace plat
