// Worker threads and mutexes of the POSIX platform.
#include "fixtures/waitUntil.h"
#include "platform/clock.h"
#include "platform/posix/testing.h"
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <pthread.h>
#include <sched.h>
#include <thread>

namespace {

using namespace std::chrono;

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> entered{false};
    std::atomic<uint32_t> id{0};
    std::atomic<int> policy{-1};
    std::atomic<bool> finished{false};
};

uint32_t KVQ_CALLBACK holdUntilOpen(void* param) {
    auto* gate = static_cast<Gate*>(param);
    gate->id = plat::currentThreadId();
    gate->entered = true;
    while (!gate->open) {
        int policy;
        sched_param sp;
        pthread_getschedparam(pthread_self(), &policy, &sp);
        gate->policy = policy;
        std::this_thread::sleep_for(milliseconds(1));
    }
    gate->finished = true;
    return 7;
}

TEST(PlatformThreads, StartsAtOnceAndWaitIsBoundedInMilliseconds) {
    const int before = plat::testing::liveThreads();
    Gate gate;
    uint32_t id = 0;
    plat::Handle thread = plat::createThread(65536, holdUntilOpen, &gate, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(waitUntil([&] { return gate.entered.load(); }));
    EXPECT_EQ(id, gate.id.load());
    EXPECT_NE(id, plat::currentThreadId());
    EXPECT_EQ(plat::testing::liveThreads(), before + 1);

    auto start = steady_clock::now();
    EXPECT_FALSE(plat::waitThread(thread, 60));
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - start).count(), 55);

    gate.open = true;
    EXPECT_TRUE(plat::waitThread(thread, 5000));
    EXPECT_TRUE(gate.finished);
    EXPECT_TRUE(plat::waitThread(thread, 0)); // stays ended
    plat::closeThread(thread);
    EXPECT_EQ(plat::testing::liveThreads(), before);
    EXPECT_FALSE(plat::waitThread(thread, 0)); // a closed handle is no thread
    EXPECT_EQ(plat::createThread(65536, nullptr, nullptr, nullptr), nullptr);

    plat::testing::failThreadCreation(true);
    Gate never;
    EXPECT_EQ(plat::createThread(65536, holdUntilOpen, &never, nullptr), nullptr);
    plat::testing::resetSeams();
    EXPECT_EQ(plat::testing::liveThreads(), before);
    EXPECT_FALSE(never.entered);
}

TEST(PlatformThreads, IdlePriorityIsTheSchedulersIdleClass) {
    Gate gate;
    plat::Handle thread = plat::createThread(65536, holdUntilOpen, &gate, nullptr);
    ASSERT_NE(thread, nullptr);
    plat::setThreadPriority(thread, plat::kThreadPriorityIdle);
    EXPECT_TRUE(waitUntil([&] { return gate.policy.load() == SCHED_IDLE; }));
    plat::setThreadPriority(thread, plat::kThreadPriorityNormal);
    EXPECT_TRUE(waitUntil([&] { return gate.policy.load() == SCHED_OTHER; }));
    gate.open = true;
    EXPECT_TRUE(plat::waitThread(thread, 5000));
    plat::setThreadPriority(thread, plat::kThreadPriorityIdle); // ended: nothing to change
    plat::closeThread(thread);
}

TEST(PlatformThreads, ClosingTheHandleOfARunningWorkerLetsItFinishDetached) {
    const int handles = plat::testing::liveThreadHandles();
    const int workers = plat::testing::liveThreads();
    Gate gate;
    plat::Handle thread = plat::createThread(65536, holdUntilOpen, &gate, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(plat::waitThread(thread, 10));
    plat::closeThread(thread);
    EXPECT_EQ(plat::testing::liveThreadHandles(), handles);
    EXPECT_EQ(plat::testing::liveThreads(), workers + 1);
    plat::setThreadPriority(thread, plat::kThreadPriorityIdle); // stale handle: ignored
    plat::closeThread(thread);                                  // twice: ignored

    gate.open = true;
    EXPECT_TRUE(waitUntil([&] { return plat::testing::liveThreads() == workers; }));
    EXPECT_TRUE(gate.finished);
}

struct MutexProbe {
    plat::Handle mutex;
    std::atomic<bool> acquired{false};
};

uint32_t KVQ_CALLBACK lockOnce(void* param) {
    auto* probe = static_cast<MutexProbe*>(param);
    plat::lockMutex(probe->mutex);
    probe->acquired = true;
    plat::unlockMutex(probe->mutex);
    return 0;
}

TEST(PlatformThreads, MutexIsRecursiveForItsOwnerAndExcludesOthers) {
    const int mutexes = plat::testing::liveMutexes();
    MutexProbe probe;
    probe.mutex = plat::createMutex();
    ASSERT_NE(probe.mutex, nullptr);
    EXPECT_EQ(plat::testing::liveMutexes(), mutexes + 1);

    plat::lockMutex(probe.mutex);
    plat::lockMutex(probe.mutex); // the owner may take it again
    plat::Handle thread = plat::createThread(65536, lockOnce, &probe, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(plat::waitThread(thread, 50));
    plat::unlockMutex(probe.mutex);
    EXPECT_FALSE(plat::waitThread(thread, 50)); // still held once
    EXPECT_FALSE(probe.acquired);
    plat::unlockMutex(probe.mutex);
    EXPECT_TRUE(plat::waitThread(thread, 5000));
    EXPECT_TRUE(probe.acquired);
    plat::closeThread(thread);

    plat::closeMutex(probe.mutex);
    EXPECT_EQ(plat::testing::liveMutexes(), mutexes);
    plat::lockMutex(probe.mutex); // closed: returns at once instead of touching freed state
    plat::unlockMutex(probe.mutex);
    plat::lockMutex(nullptr);
    plat::unlockMutex(nullptr);
    plat::closeMutex(nullptr);
}

TEST(PlatformThreads, ClosingAMutexReleasesAThreadWaitingForIt) {
    MutexProbe probe;
    probe.mutex = plat::createMutex();
    plat::lockMutex(probe.mutex);
    plat::Handle thread = plat::createThread(65536, lockOnce, &probe, nullptr);
    EXPECT_FALSE(plat::waitThread(thread, 30));
    plat::closeMutex(probe.mutex);
    EXPECT_TRUE(plat::waitThread(thread, 5000));
    plat::closeThread(thread);
}

TEST(PlatformThreads, TickCountFollowsSleep) {
    uint32_t start = plat::tickCount();
    plat::sleep(30);
    uint32_t elapsed = plat::tickCount() - start;
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 2000u);
}

} // namespace
