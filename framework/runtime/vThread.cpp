#include "runtime/vThread.h"
#include "platform/threads.h"

vThread::vThread(int32_t autoDelete) : autoDelete(autoDelete) {}

vThread::~vThread() {
    stop();
}

void vThread::onStarted() {}
void vThread::onStopped() {}
uint32_t vThread::run() {
    return static_cast<uint32_t>(autoDelete);
}
void vThread::reserved() {}

void vThread::start(int priority) {
    if (threadHandle != nullptr) {
        plat::setThreadPriority(threadHandle, priority);
        return;
    }
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
    return stopWithin(kStopWaitMs, kStarvedWaitMs);
}

bool vThread::stopEnded(uint32_t milliseconds) {
    return stopWithin(milliseconds, 0);
}

bool vThread::stopWithin(uint32_t firstWaitMs, uint32_t secondWaitMs) {
    signalStop();
    if (threadHandle == nullptr) return true;
    bool ended = true;
    // A worker that destroys its own object must not wait for itself.
    if (plat::currentThreadId() != threadId) {
        // The worker's last steps run at the priority of the thread that waits
        // for them: on a busy machine an idle worker would not be scheduled in
        // time. One that still has not ended gets a second, longer chance, so
        // that it does not go on running under an object about to be freed.
        plat::setThreadPriority(threadHandle, plat::kThreadPriorityNormal);
        ended = plat::waitThread(threadHandle, firstWaitMs) ||
                (secondWaitMs != 0 && plat::waitThread(threadHandle, secondWaitMs));
    }
    plat::closeThread(threadHandle);
    plat::closeMutex(mutex);
    threadHandle = nullptr;
    mutex = nullptr;
    onStopped();
    return ended;
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
