#include "runtime/vThread.h"
#include "platform/module.h"
#include "platform/threads.h"

vThread::vThread(int32_t autoDelete) : autoDelete(autoDelete) {}

// A worker that outlives even this stop is on its own: the object and its
// handles go. An owner whose worker may block for good keeps the object
// instead (see vStatusLineNode).
vThread::~vThread() {
    if (!stop()) releaseHandles();
}

void vThread::onStarted() {}
void vThread::onStopped() {}
uint32_t vThread::run() {
    return static_cast<uint32_t>(autoDelete);
}
void vThread::reserved() {}

void vThread::start(int priority) {
    if (threadHandle != nullptr && !leftRunning) {
        plat::setThreadPriority(threadHandle, priority);
        return;
    }
    // A worker left running is let go: the new one gets handles of its own.
    if (leftRunning) releaseHandles();
    mutex = plat::createMutex();
    running.store(1, std::memory_order_release);
    // The worker waits for this mutex before it runs, so start finishes its
    // own steps before a `run` that destroys the object can do so.
    plat::Handle guard = mutex;
    plat::lockMutex(guard);
    threadHandle = plat::createThread(kStackSize, &vThread::threadRoutine, this, &threadId);
    if (threadHandle == nullptr) {
        running.store(0, std::memory_order_release);
        plat::unlockMutex(guard);
        return;
    }
    plat::setThreadPriority(threadHandle, priority);
    onStarted();
    plat::unlockMutex(guard); // from here on the object may be gone
}

void vThread::signalStop() {
    if (mutex != nullptr) {
        plat::lockMutex(mutex);
        running.store(0, std::memory_order_release);
        plat::unlockMutex(mutex);
    } else {
        running.store(0, std::memory_order_release);
    }
}

bool vThread::stop() {
    signalStop();
    if (threadHandle == nullptr) return true;
    // A worker that destroys its own object must not wait for itself.
    if (plat::currentThreadId() != threadId && !awaitEnd()) return false;
    releaseHandles();
    onStopped();
    return true;
}

bool vThread::stopEnded(uint32_t milliseconds) {
    if (threadHandle == nullptr) return true;
    // Its owner has already told it (and it has said it is done): a second
    // store would only race with what it read before saying so.
    if (running.load(std::memory_order_acquire) != 0) signalStop();
    bool ended = true;
    if (plat::currentThreadId() != threadId) {
        plat::setThreadPriority(threadHandle, plat::kThreadPriorityNormal);
        ended = plat::waitThread(threadHandle, milliseconds);
    }
    // Its run is over: what may be left of the thread is the system's own
    // exit, which uses nothing of ours, so the handles go either way.
    releaseHandles();
    onStopped();
    return ended;
}

bool vThread::awaitEnd() {
    if (leftRunning) return plat::waitThread(threadHandle, 0);
    // The worker's last steps run at the priority of the thread that waits
    // for them: on a busy machine an idle worker would not be scheduled in
    // time. One that still has not ended gets a second, longer chance, so
    // that it does not go on running under an object about to be freed.
    plat::setThreadPriority(threadHandle, plat::kThreadPriorityNormal);
    leftRunning = !plat::waitThread(threadHandle, kStopWaitMs) &&
                  !plat::waitThread(threadHandle, kStarvedWaitMs);
    // Once its call returns, the worker runs on in this library's code, which
    // the host may have unloaded by then.
    if (leftRunning) plat::keepLibraryLoaded();
    return !leftRunning;
}

void vThread::releaseHandles() {
    plat::closeThread(threadHandle);
    plat::closeMutex(mutex);
    threadHandle = nullptr;
    mutex = nullptr;
    leftRunning = false;
}

void vThread::lock() {
    plat::lockMutex(mutex);
}
void vThread::unlock() {
    plat::unlockMutex(mutex);
}

uint32_t KVQ_CALLBACK vThread::threadRoutine(void* param) {
    if (param == nullptr) return 0;
    auto* self = static_cast<vThread*>(param);
    self->lock(); // until start has finished
    self->unlock();
    uint32_t result = self->run();
    if (result != 0) delete self;
    return result;
}
