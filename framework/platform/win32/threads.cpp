// Worker threads and mutexes on the Windows kernel.
#include "platform/threads.h"

#include <windows.h>

namespace plat {

Handle createThread(uint32_t stackSize, ThreadRoutine routine, void* param, uint32_t* threadId) {
    if (!routine) return nullptr;
    DWORD id = 0;
    // The routine has the system's thread-procedure convention and a 32-bit result.
    HANDLE thread = CreateThread(nullptr, stackSize,
                                 reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), param, 0, &id);
    if (thread && threadId) *threadId = id;
    return thread;
}

void setThreadPriority(Handle thread, int priority) {
    if (thread) SetThreadPriority(thread, priority);
}

bool waitThread(Handle thread, uint32_t milliseconds) {
    return thread && WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
}

void closeThread(Handle thread) {
    if (thread) CloseHandle(thread);
}

uint32_t currentThreadId() {
    return GetCurrentThreadId();
}

Handle createMutex() {
    return CreateMutexA(nullptr, FALSE, nullptr);
}

void lockMutex(Handle mutex) {
    if (mutex) WaitForSingleObject(mutex, INFINITE);
}

void unlockMutex(Handle mutex) {
    if (mutex) ReleaseMutex(mutex);
}

void closeMutex(Handle mutex) {
    if (mutex) CloseHandle(mutex);
}

} // namespace plat
