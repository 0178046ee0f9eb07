// Worker threads and mutexes on pthreads.
//
// A worker is created detached; its handle refers to a shared record with a
// done flag and a condition variable, which is how waitThread bounds its wait
// and how closeThread can let go of a worker that is still running: the record
// lives until both the worker and the last handle are finished with it.
// Mutexes are recursive for their owning thread, as the system's are.
#include "platform/threads.h"

#include "platform/posix/handles.h"
#include "platform/posix/testing.h"
#include <csignal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits.h>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace plat {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// Instrumented frames and the sanitizer's own reporting need more room than the
// 64 KiB the workers ask for; this floor applies to the sanitizer build only.
constexpr size_t kMinimumStack = 512 * 1024;
#else
const size_t kMinimumStack = PTHREAD_STACK_MIN; // a run-time value in this C library
#endif

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

struct ThreadRecord {
    std::mutex lock;
    std::condition_variable changed;
    bool started = false;
    bool done = false;
    pthread_t thread{};
    uint32_t id = 0;
    ThreadRoutine routine = nullptr;
    void* param = nullptr;
};

struct MutexRecord {
    std::mutex lock;
    std::condition_variable released;
    uint32_t owner = 0;
    uint32_t depth = 0;
    bool closed = false;
};

detail::HandleTable<ThreadRecord>& threads() {
    static auto* table = new detail::HandleTable<ThreadRecord>(detail::HandleKind::thread);
    return *table;
}

detail::HandleTable<MutexRecord>& mutexes() {
    static auto* table = new detail::HandleTable<MutexRecord>(detail::HandleKind::mutex);
    return *table;
}

std::atomic<int> runningWorkers{0};
std::atomic<bool> threadCreationFails{false};

void* workerMain(void* arg) {
    // The worker holds its own reference; the record outlives a closed handle.
    std::shared_ptr<ThreadRecord> self(*static_cast<std::shared_ptr<ThreadRecord>*>(arg));
    {
        std::lock_guard<std::mutex> guard(self->lock);
        self->id = currentThreadId();
        self->started = true;
        self->changed.notify_all();
    }
    self->routine(self->param);
    detail::awaitOwnRequests();
    // Its work is done: an idle worker must not wait for an idle processor to
    // finish ending, or whoever waits for it waits on the load of the machine.
    sched_param normal{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    {
        std::lock_guard<std::mutex> guard(self->lock);
        self->done = true;
        --runningWorkers;
        self->changed.notify_all();
    }
    return nullptr;
}

} // namespace

Handle createThread(uint32_t stackSize, ThreadRoutine routine, void* param, uint32_t* threadId) {
    if (!routine || threadCreationFails.load()) return nullptr;
    auto record = std::make_shared<ThreadRecord>();
    record->routine = routine;
    record->param = param;

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return nullptr;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        size_t size = std::max<size_t>(stackSize, kMinimumStack);
        pthread_attr_setstacksize(&attr, size);
    }
    // Handed to the worker, which copies it before it signals `started`.
    std::shared_ptr<ThreadRecord> forWorker = record;
    ++runningWorkers;
    // Workers take no asynchronous signals: those belong to the host's thread,
    // as on Windows, where a worker is never interrupted by one.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    int failed = pthread_create(&record->thread, &attr, workerMain, &forWorker);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attr);
    if (failed) {
        --runningWorkers;
        return nullptr;
    }
    {
        std::unique_lock<std::mutex> guard(record->lock);
        record->changed.wait(guard, [&] { return record->started; });
    }
    if (threadId) *threadId = record->id;
    Handle handle = threads().add(record);
    // A full table leaves the worker running without a handle, as closeThread would.
    return handle;
}

void setThreadPriority(Handle thread, int priority) {
    std::shared_ptr<ThreadRecord> record = threads().find(thread);
    if (!record) return;
    // Under the record's lock a worker that has not set `done` is still alive, so its
    // pthread_t is valid.
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->done) return;
    sched_param param{};
    param.sched_priority = 0;
    int policy = priority <= kThreadPriorityIdle ? SCHED_IDLE : SCHED_OTHER;
    pthread_setschedparam(record->thread, policy, &param);
}

bool waitThread(Handle thread, uint32_t milliseconds) {
    std::shared_ptr<ThreadRecord> record = threads().find(thread);
    if (!record) return false;
    std::unique_lock<std::mutex> guard(record->lock);
    if (milliseconds == kInfinite) {
        record->changed.wait(guard, [&] { return record->done; });
        return true;
    }
    return record->changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                    [&] { return record->done; });
}

void closeThread(Handle thread) {
    threads().remove(thread);
}

// Asked of the kernel each time rather than kept in thread-local storage: the
// identity must stay right even where thread-local storage is emulated (a
// 32-bit program under user-mode emulation can see another thread's storage
// after a signal handler ran).
uint32_t currentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

Handle createMutex() {
    return mutexes().add(std::make_shared<MutexRecord>());
}

void lockMutex(Handle mutex) {
    std::shared_ptr<MutexRecord> record = mutexes().find(mutex);
    if (!record) return;
    uint32_t self = currentThreadId();
    std::unique_lock<std::mutex> guard(record->lock);
    if (record->depth > 0 && record->owner == self) {
        ++record->depth;
        return;
    }
    record->released.wait(guard, [&] { return record->depth == 0 || record->closed; });
    if (record->closed) return;
    record->owner = self;
    record->depth = 1;
}

void unlockMutex(Handle mutex) {
    std::shared_ptr<MutexRecord> record = mutexes().find(mutex);
    if (!record) return;
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->depth == 0 || record->owner != currentThreadId()) return;
    if (--record->depth == 0) {
        record->owner = 0;
        record->released.notify_one();
    }
}

void closeMutex(Handle mutex) {
    std::shared_ptr<MutexRecord> record = mutexes().remove(mutex);
    if (!record) return;
    // Anyone still waiting gives up instead of waiting for an unlock that can't come.
    std::lock_guard<std::mutex> guard(record->lock);
    record->closed = true;
    record->released.notify_all();
}

namespace testing {
void failThreadCreation(bool fail) {
    threadCreationFails = fail;
}
int liveThreads() {
    return runningWorkers.load();
}
int liveThreadHandles() {
    return threads().live();
}
int liveMutexes() {
    return mutexes().live();
}
} // namespace testing

} // namespace plat
