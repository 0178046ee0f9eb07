// vThread's start and stop protocol against the real platform threads.
#include "runtime/vThread.h"

#include "platform/clock.h"
#include "platform/posix/testing.h"
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

// Waits for `condition` with a deadline; true when it held in time.
template <class F> bool waitFor(F condition, int milliseconds = 3000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        plat::sleep(1);
    }
    return true;
}

struct Looper : vThread {
    Looper() : vThread(0) {}
    ~Looper() override { stop(); }
    uint32_t run() override {
        while (isRunning()) {
            passes.fetch_add(1);
            plat::sleep(1);
        }
        return 0;
    }
    void onStarted() override { ++started; }
    void onStopped() override { ++stopped; }
    std::atomic<int> passes{0};
    int started = 0;
    int stopped = 0;
};

struct SelfDestroying : vThread {
    explicit SelfDestroying(std::atomic<bool>* gone) : vThread(1), gone(gone) {}
    ~SelfDestroying() override { gone->store(true); }
    std::atomic<bool>* gone;
};

// A worker blocked where `running` cannot reach it, as in a driver call that
// never returns, until the test lets it go.
struct Blocked : vThread {
    Blocked() : vThread(0) {}
    ~Blocked() override {
        released = true;
        stop();
    }
    uint32_t run() override {
        while (!released.load())
            plat::sleep(1);
        return 0;
    }
    void onStopped() override { ++stopped; }
    std::atomic<bool> released{false};
    int stopped = 0;
};

} // namespace

TEST(Thread, StartTwiceStopAndRestart) {
    int threadsBefore = plat::testing::liveThreads();
    int mutexesBefore = plat::testing::liveMutexes();
    Looper looper;
    looper.stop(); // never started: returns at once, calls nothing
    EXPECT_EQ(looper.stopped, 0);
    EXPECT_FALSE(looper.isRunning());

    looper.start(plat::kThreadPriorityIdle);
    looper.start(plat::kThreadPriorityNormal); // only the priority changes
    EXPECT_EQ(looper.started, 1);
    EXPECT_EQ(plat::testing::liveThreads(), threadsBefore + 1);
    EXPECT_EQ(plat::testing::liveMutexes(), mutexesBefore + 1);
    ASSERT_TRUE(waitFor([&] { return looper.passes.load() > 2; }));

    auto begin = std::chrono::steady_clock::now();
    looper.stop();
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_EQ(looper.stopped, 1);
    EXPECT_FALSE(looper.isStarted());
    EXPECT_TRUE(waitFor([&] { return plat::testing::liveThreads() == threadsBefore; }));
    EXPECT_EQ(plat::testing::liveMutexes(), mutexesBefore);

    int passes = looper.passes.load();
    looper.start(plat::kThreadPriorityIdle); // a new worker and a new mutex
    EXPECT_EQ(looper.started, 2);
    EXPECT_TRUE(waitFor([&] { return looper.passes.load() > passes; }));
    looper.stop();
    EXPECT_EQ(looper.stopped, 2);
}

TEST(Thread, RunReturningNonZeroDestroysItsObject) {
    std::atomic<bool> gone{false};
    auto* thread = new SelfDestroying(&gone);
    thread->start(plat::kThreadPriorityNormal);
    // The worker deletes the object; its stop must not wait for itself.
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return gone.load(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1500));
}

TEST(Thread, DestroyingAStartedObjectStopsItsWorker) {
    int threadsBefore = plat::testing::liveThreads();
    {
        Looper looper;
        looper.start(plat::kThreadPriorityIdle);
        ASSERT_TRUE(waitFor([&] { return looper.passes.load() > 0; }));
    }
    EXPECT_TRUE(waitFor([&] { return plat::testing::liveThreads() == threadsBefore; }));
}

// A worker that outlives its stop is remembered: a later stop says so too, at
// once, and its handles stay until it has ended.
TEST(Thread, AWorkerThatDidNotEndIsRemembered) {
    const int threadsBefore = plat::testing::liveThreads();
    const int handlesBefore = plat::testing::liveThreadHandles();
    const int mutexesBefore = plat::testing::liveMutexes();
    Blocked worker;
    worker.start(plat::kThreadPriorityNormal);
    EXPECT_FALSE(worker.stop());
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(worker.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1000));
    EXPECT_TRUE(worker.isStarted());
    EXPECT_EQ(worker.stopped, 0);
    EXPECT_EQ(plat::testing::liveThreadHandles(), handlesBefore + 1);
    EXPECT_EQ(plat::testing::liveMutexes(), mutexesBefore + 1);

    worker.released = true;
    ASSERT_TRUE(waitFor([&] { return plat::testing::liveThreads() == threadsBefore; }));
    EXPECT_TRUE(worker.stop());
    EXPECT_EQ(worker.stopped, 1);
    EXPECT_EQ(plat::testing::liveThreadHandles(), handlesBefore);
    EXPECT_EQ(plat::testing::liveMutexes(), mutexesBefore);
}
