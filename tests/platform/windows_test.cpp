// Windows, posted messages, timers and the version report of the POSIX platform.
#include "fixtures/joiningThread.h"
#include "platform/host.h"
#include "platform/module.h"
#include "platform/posix/testing.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono;

struct Seen {
    plat::Window window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    void* createParam;
    steady_clock::time_point at;
};

std::mutex seenLock;
std::vector<Seen> seen;
intptr_t ncCreateResult = 1;
intptr_t createResult = 0;

intptr_t KVQ_CALLBACK recordingProc(plat::Window window, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam) {
    void* param = nullptr;
    if (message == plat::kWmCreate || message == plat::kWmNcCreate)
        param = plat::createParamOf(lParam);
    {
        std::lock_guard<std::mutex> guard(seenLock);
        seen.push_back(Seen{window, message, wParam, lParam, param, steady_clock::now()});
    }
    if (message == plat::kWmNcCreate) return ncCreateResult;
    if (message == plat::kWmCreate) return createResult;
    return plat::defWindowProc(window, message, wParam, lParam);
}

std::vector<Seen> taken(uint32_t message) {
    std::lock_guard<std::mutex> guard(seenLock);
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.message == message) out.push_back(s);
    return out;
}

class PlatformWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ncCreateResult = 1;
        createResult = 0;
        {
            std::lock_guard<std::mutex> guard(seenLock);
            seen.clear();
        }
        static int counter = 0;
        className = "probe" + std::to_string(++counter);
        windowsBefore = plat::testing::liveWindows();
        timersBefore = plat::testing::liveTimers();
        ASSERT_TRUE(plat::registerClass(instance(), className.c_str(), recordingProc));
    }
    void TearDown() override {
        for (plat::Window w : created)
            plat::destroyWindow(w);
        EXPECT_EQ(plat::testing::liveWindows(), windowsBefore);
        EXPECT_EQ(plat::testing::liveTimers(), timersBefore);
        EXPECT_EQ(plat::testing::queuedMessages(), 0);
    }
    plat::Instance instance() { return &instanceTag; }
    plat::Window make(plat::Window parent = plat::messageOnlyParent(), void* param = nullptr) {
        plat::Window w = plat::createWindow(className.c_str(), "", parent, instance(), param);
        if (w) created.push_back(w);
        return w;
    }
    // Pumps until `count` messages of the kind arrived or the limit passed.
    std::vector<Seen> pumpFor(uint32_t message, size_t count, int limitMs = 3000) {
        auto deadline = steady_clock::now() + milliseconds(limitMs);
        while (taken(message).size() < count && steady_clock::now() < deadline)
            plat::pumpMessages(20);
        return taken(message);
    }

    int instanceTag = 0;
    std::string className;
    std::vector<plat::Window> created;
    int windowsBefore = 0;
    int timersBefore = 0;
};

TEST_F(PlatformWindows, ClassesAreFoundByInstanceAndNameWhateverTheCase) {
    EXPECT_TRUE(plat::classRegistered(instance(), className.c_str()));
    std::string upper = className;
    for (char& c : upper)
        c = static_cast<char>(toupper(c));
    EXPECT_TRUE(plat::classRegistered(instance(), upper.c_str()));
    int otherInstance = 0;
    EXPECT_FALSE(plat::classRegistered(&otherInstance, className.c_str()));
    EXPECT_FALSE(plat::registerClass(instance(), upper.c_str(), recordingProc)); // exists
    EXPECT_EQ(plat::createWindow(className.c_str(), "", nullptr, &otherInstance, nullptr), nullptr);
}

TEST_F(PlatformWindows, CreationSendsNcCreateThenCreateWithTheParameter) {
    int param = 0;
    plat::Window w = make(plat::messageOnlyParent(), &param);
    ASSERT_NE(w, nullptr);
    std::lock_guard<std::mutex> guard(seenLock);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, plat::kWmNcCreate);
    EXPECT_EQ(seen[1].message, plat::kWmCreate);
    for (const Seen& s : seen) {
        EXPECT_EQ(s.window, w);
        EXPECT_EQ(s.createParam, &param);
    }
    EXPECT_EQ(plat::testing::liveWindows(), windowsBefore + 1);
}

TEST_F(PlatformWindows, RefusedCreationLeavesNoWindow) {
    ncCreateResult = 0;
    EXPECT_EQ(make(), nullptr);
    EXPECT_EQ(plat::testing::liveWindows(), windowsBefore);
    EXPECT_EQ(taken(plat::kWmCreate).size(), 0u);
    EXPECT_EQ(taken(plat::kWmNcDestroy).size(), 1u);

    ncCreateResult = 1;
    createResult = -1;
    EXPECT_EQ(make(), nullptr);
    EXPECT_EQ(plat::testing::liveWindows(), windowsBefore);
    EXPECT_EQ(taken(plat::kWmDestroy).size(), 1u);
    EXPECT_EQ(taken(plat::kWmNcDestroy).size(), 2u);
}

TEST_F(PlatformWindows, UserDataAndParent) {
    plat::Window w = make();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(plat::windowUserData(w), 0);
    plat::setWindowUserData(w, 1234);
    EXPECT_EQ(plat::windowUserData(w), 1234);
    EXPECT_EQ(plat::windowParent(w), plat::messageOnlyParent());

    plat::Window child = make(w);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(plat::windowParent(child), w);
    plat::Window topLevel = make(nullptr);
    ASSERT_NE(topLevel, nullptr);
    EXPECT_EQ(plat::windowParent(topLevel), nullptr);
    EXPECT_NE(topLevel, w);

    int bogus = 0;
    EXPECT_EQ(make(&bogus), nullptr); // a parent that is no window
}

TEST_F(PlatformWindows, DestroyingDropsQueuedMessagesAndLaterOnesAreRefused) {
    plat::Window w = make();
    plat::Window child = make(w);
    plat::Window other = make();
    ASSERT_TRUE(w && child && other);
    ASSERT_TRUE(plat::setTimer(w, 1, 10));
    EXPECT_TRUE(plat::postMessage(w, plat::kWmUser + 1, 1, 2));
    EXPECT_TRUE(plat::postMessage(child, plat::kWmUser + 1, 3, 4));
    EXPECT_TRUE(plat::postMessage(other, plat::kWmUser + 2, 5, 6));

    EXPECT_TRUE(plat::destroyWindow(w));
    {
        std::lock_guard<std::mutex> guard(seenLock);
        std::vector<std::pair<plat::Window, uint32_t>> order;
        for (const Seen& s : seen)
            if (s.message == plat::kWmDestroy || s.message == plat::kWmNcDestroy)
                order.emplace_back(s.window, s.message);
        std::vector<std::pair<plat::Window, uint32_t>> expected = {{w, plat::kWmDestroy},
                                                                   {child, plat::kWmDestroy},
                                                                   {child, plat::kWmNcDestroy},
                                                                   {w, plat::kWmNcDestroy}};
        EXPECT_EQ(order, expected);
    }
    EXPECT_FALSE(plat::destroyWindow(w));
    EXPECT_FALSE(plat::destroyWindow(child));
    EXPECT_FALSE(plat::postMessage(w, plat::kWmUser + 1, 0, 0));
    EXPECT_FALSE(plat::setTimer(w, 2, 10));
    EXPECT_EQ(plat::windowUserData(w), 0);
    EXPECT_EQ(plat::testing::liveTimers(), timersBefore);

    // Only the other window's message is still there.
    EXPECT_EQ(plat::pumpMessages(0), 1);
    auto user = taken(plat::kWmUser + 1);
    EXPECT_TRUE(user.empty());
    auto delivered = taken(plat::kWmUser + 2);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].window, other);
    EXPECT_EQ(delivered[0].wParam, 5u);
    EXPECT_EQ(delivered[0].lParam, 6);
    EXPECT_EQ(plat::pumpMessages(0), 0);
}

TEST_F(PlatformWindows, PostedMessagesKeepTheirOrderAcrossThreads) {
    plat::Window a = make();
    plat::Window b = make();
    ASSERT_TRUE(a && b);
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::list<JoiningThread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                plat::postMessage(i % 2 ? a : b, plat::kWmUser + 1, static_cast<uintptr_t>(t), i);
        });
    auto got = pumpFor(plat::kWmUser + 1, kThreads * kEach);
    for (auto& p : posters)
        p.join();
    ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<intptr_t> last(kThreads, -1);
    for (const Seen& s : got) {
        ASSERT_LT(s.wParam, static_cast<uintptr_t>(kThreads));
        EXPECT_EQ(s.lParam, last[s.wParam] + 1) << "thread " << s.wParam;
        EXPECT_EQ(s.window, s.lParam % 2 ? a : b);
        last[s.wParam] = s.lParam;
    }
}

TEST_F(PlatformWindows, PumpSleepsUntilAMessageOrTheTimeout) {
    plat::Window w = make();
    auto start = steady_clock::now();
    EXPECT_EQ(plat::pumpMessages(80), 0);
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - start).count(), 75);

    JoiningThread poster([&] {
        std::this_thread::sleep_for(milliseconds(30));
        plat::postMessage(w, plat::kWmUser + 3, 0, 0);
    });
    start = steady_clock::now();
    EXPECT_EQ(plat::pumpMessages(5000), 1);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 4000);
    poster.join();
}

TEST_F(PlatformWindows, MessagesPostedWhileDispatchingWaitForTheNextPump) {
    static plat::Window self;
    static int calls;
    calls = 0;
    std::string name = className + "-reposting";
    ASSERT_TRUE(
        plat::registerClass(instance(), name.c_str(),
                            [](plat::Window w, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
                                if (m == plat::kWmUser) {
                                    ++calls;
                                    plat::postMessage(w, plat::kWmUser, 0, 0);
                                }
                                return plat::defWindowProc(w, m, wp, lp);
                            }));
    self = plat::createWindow(name.c_str(), "", plat::messageOnlyParent(), instance(), nullptr);
    ASSERT_NE(self, nullptr);
    plat::postMessage(self, plat::kWmUser, 0, 0);
    EXPECT_EQ(plat::pumpMessages(0), 1);
    EXPECT_EQ(plat::pumpMessages(0), 1);
    EXPECT_EQ(calls, 2);
    plat::destroyWindow(self);
}

TEST_F(PlatformWindows, TimerPeriodHasATenMillisecondFloor) {
    plat::Window w = make();
    auto armed = steady_clock::now();
    ASSERT_TRUE(plat::setTimer(w, 77, 0));
    EXPECT_EQ(plat::testing::liveTimers(), timersBefore + 1);
    auto ticks = pumpFor(plat::kWmTimer, 6);
    ASSERT_GE(ticks.size(), 6u);
    // Asked for 0 ms: the first tick comes no sooner than 10 ms after arming, and at
    // most one tick per 10 ms however late the dispatches run.
    EXPECT_GE(duration_cast<microseconds>(ticks[0].at - armed).count(), 10000);
    auto window = duration_cast<milliseconds>(ticks.back().at - armed).count();
    EXPECT_LE(static_cast<long long>(ticks.size()), window / 10 + 1);
    for (const Seen& tick : ticks) {
        EXPECT_EQ(tick.window, w);
        EXPECT_EQ(tick.wParam, 77u);
    }
    EXPECT_TRUE(plat::killTimer(w, 77));
    EXPECT_FALSE(plat::killTimer(w, 77));
}

TEST_F(PlatformWindows, RearmingReplacesAndKillStops) {
    plat::Window w = make();
    ASSERT_TRUE(plat::setTimer(w, 5, 10));
    auto start = steady_clock::now();
    ASSERT_TRUE(plat::setTimer(w, 5, 150)); // same id: replaces the 10 ms one
    EXPECT_EQ(plat::testing::liveTimers(), timersBefore + 1);
    auto ticks = pumpFor(plat::kWmTimer, 1);
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_GE(duration_cast<milliseconds>(ticks[0].at - start).count(), 150);

    EXPECT_TRUE(plat::killTimer(w, 5));
    EXPECT_EQ(plat::pumpMessages(200), 0);
    EXPECT_EQ(taken(plat::kWmTimer).size(), 1u);
}

TEST_F(PlatformWindows, TwoTimersTickIndependently) {
    plat::Window w = make();
    ASSERT_TRUE(plat::setTimer(w, 1, 20));
    ASSERT_TRUE(plat::setTimer(w, 2, 100));
    auto deadline = steady_clock::now() + milliseconds(5000);
    auto count = [&](uintptr_t id) {
        size_t n = 0;
        for (const Seen& s : taken(plat::kWmTimer))
            n += s.wParam == id;
        return n;
    };
    while (count(2) < 3 && steady_clock::now() < deadline)
        plat::pumpMessages(50);
    EXPECT_GE(count(2), 3u);
    // The fast one keeps its own pace beside the slow one.
    EXPECT_GE(count(1), count(2));
    EXPECT_TRUE(plat::killTimer(w, 1));
    EXPECT_TRUE(plat::killTimer(w, 2));
}

TEST_F(PlatformWindows, FailureSeams) {
    plat::testing::failClassRegistration(true);
    EXPECT_FALSE(plat::registerClass(instance(), "never", recordingProc));
    EXPECT_FALSE(plat::classRegistered(instance(), "never"));
    plat::testing::failClassRegistration(false);

    plat::testing::failWindowCreation(true);
    EXPECT_EQ(make(), nullptr);
    EXPECT_TRUE(taken(plat::kWmNcCreate).empty());
    plat::testing::failWindowCreation(false);
    EXPECT_NE(make(), nullptr);
}

TEST_F(PlatformWindows, VersionReportsAnNtSystemUnlessOverridden) {
    plat::OsVersion v{};
    v.size = sizeof v;
    ASSERT_TRUE(plat::getVersion(&v));
    EXPECT_EQ(v.platformId, 2u);
    EXPECT_GE(v.major, 5u);

    plat::testing::overrideVersion(1, 4);
    ASSERT_TRUE(plat::getVersion(&v));
    EXPECT_EQ(v.platformId, 1u);
    EXPECT_EQ(v.major, 4u);
    plat::testing::restoreVersion();
    ASSERT_TRUE(plat::getVersion(&v));
    EXPECT_EQ(v.platformId, 2u);

    v.size = 0;
    EXPECT_FALSE(plat::getVersion(&v));
    EXPECT_FALSE(plat::getVersion(nullptr));
}

} // namespace
