// Message windows and timers on the native message loop, pumped by the test
// as the host would.
#include "fixtures/loadedPlugin.h"
#include "fixtures/waitUntil.h"

#include "entry/library.h"
#include "platform/host.h"
#include "platform/posix/testing.h"
#include "platform/windows.h"
#include "runtime/osVersion.h"
#include "runtime/vMessageWnd.h"
#include "runtime/vTimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

std::vector<std::string> errors;

extern "C" void recordingHost(EntryMessage* m) {
    if (m->category == 1 && m->operation == 304)
        errors.push_back(std::string(fromHandle<const char>(m->object)) + " " +
                         std::to_string(static_cast<int32_t>(m->a[0])));
}

struct Runtime : ::testing::Test {
    void SetUp() override {
        errors.clear();
        hostEntry = &recordingHost;
        moduleInstance = reinterpret_cast<void*>(0x1000);
        forgetOsVersion();
    }
    void TearDown() override {
        forgetOsVersion();
        hostEntry = nullptr;
        EXPECT_EQ(vTimerManager::current(), nullptr);
    }
    // Pumps until `condition` holds or the deadline passes.
};

struct RecordingWindow : vMessageWnd {
    explicit RecordingWindow(vMessageWnd* owner = nullptr) : vMessageWnd("kvqTest", owner) {}
    intptr_t windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        messages.push_back(message);
        if (message == plat::kWmUser + 1) last = static_cast<uint32_t>(wParam);
        return vMessageWnd::windowProc(message, wParam, lParam);
    }
    void onWindowCreated() override { order += "created "; }
    void onWindowReady() override { order += "ready"; }
    std::vector<uint32_t> messages;
    uint32_t last = 0;
    std::string order;
};

struct CountingTimer : vTimer {
    CountingTimer(uint32_t period, int32_t startNow) : vTimer(period, startNow) {}
    void onTimer(uint32_t) override { ++ticks; }
    int ticks = 0;
};

} // namespace

TEST_F(Runtime, WindowCreationOnceAndOwnership) {
    int before = plat::testing::liveWindows();
    {
        RecordingWindow owner;
        plat::Window w = owner.init();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(owner.order, "created ready");
        EXPECT_EQ(owner.messages.front(), plat::kWmCreate);
        EXPECT_EQ(plat::windowParent(w), plat::messageOnlyParent());
        EXPECT_EQ(owner.init(), nullptr); // a second init creates nothing
        EXPECT_EQ(plat::testing::liveWindows(), before + 1);

        RecordingWindow child(&owner);
        ASSERT_NE(child.init(), nullptr);
        EXPECT_EQ(plat::windowParent(child.window()), w);

        plat::postMessage(w, plat::kWmUser + 1, 7, 0);
        ASSERT_TRUE(waitUntil([&] { return owner.last == 7; }, 3000, true));
    }
    EXPECT_EQ(plat::testing::liveWindows(), before);
    EXPECT_TRUE(errors.empty());
}

static std::vector<std::string> debugLines;
static void keepDebugLine(const char* text) {
    debugLines.push_back(text);
}

// The kind of window follows the version, and the first window of each
// reading tells a debugger which it was.
TEST_F(Runtime, WithoutMessageOnlyWindowsTheWindowHasNoParent) {
    plat::listenDebugOutput(&keepDebugLine);
    debugLines.clear();
    plat::testing::overrideVersion(1, 4);
    RecordingWindow window;
    ASSERT_NE(window.init(), nullptr);
    EXPECT_EQ(plat::windowParent(window.window()), nullptr);
    RecordingWindow second;
    ASSERT_NE(second.init(), nullptr);
    plat::testing::overrideVersion(2, 4);
    forgetOsVersion();
    RecordingWindow old;
    ASSERT_NE(old.init(), nullptr);
    EXPECT_EQ(plat::windowParent(old.window()), nullptr);
    plat::testing::overrideVersion(2, 5);
    forgetOsVersion();
    RecordingWindow xp;
    ASSERT_NE(xp.init(), nullptr);
    EXPECT_EQ(plat::windowParent(xp.window()), plat::messageOnlyParent());
    plat::listenDebugOutput(nullptr);
    EXPECT_EQ(debugLines, (std::vector<std::string>{
                              "kvqTest: Windows platform 1, version 4.0: hidden top-level windows",
                              "kvqTest: Windows platform 2, version 4.0: hidden top-level windows",
                              "kvqTest: Windows platform 2, version 5.0: message-only windows"}));
}

TEST_F(Runtime, FailuresAreReportedToTheHost) {
    plat::testing::failWindowCreation(true);
    RecordingWindow window;
    EXPECT_EQ(window.init(), nullptr);
    EXPECT_EQ(errors, (std::vector<std::string>{"vMessageWnd:init() -2"}));

    errors.clear();
    plat::testing::failWindowCreation(false);
    plat::testing::failClassRegistration(true);
    vMessageWnd fresh("kvqNeverRegistered", nullptr);
    EXPECT_EQ(fresh.init(), nullptr);
    EXPECT_EQ(errors, (std::vector<std::string>{"vMessageWnd:onCreateWindow() -2",
                                                "vMessageWnd:init() -2"}));
}

TEST_F(Runtime, MessagesAfterDestructionGoToTheDefaultProcedure) {
    auto* window = new RecordingWindow();
    plat::Window w = window->init();
    ASSERT_NE(w, nullptr);
    // Detach the object as destruction does, then deliver a message: the
    // framework procedure must not reach the object.
    plat::setWindowUserData(w, 0);
    EXPECT_EQ(vMessageWnd::frameworkWndProc(w, plat::kWmUser + 1, 9, 0), 0);
    EXPECT_EQ(window->last, 0u);
    plat::setWindowUserData(w, reinterpret_cast<intptr_t>(static_cast<vMessageWnd*>(window)));
    plat::postMessage(w, plat::kWmUser + 1, 5, 0);
    delete window; // the queued message dies with the window
    EXPECT_EQ(plat::testing::queuedMessages(), 0);
    plat::pumpMessages(20);
}

TEST_F(Runtime, TimersShareOneManagerAndFireOnTheHostThread) {
    int windowsBefore = plat::testing::liveWindows();
    auto* first = new CountingTimer(10, 1);
    vTimerManager* manager = vTimerManager::current();
    ASSERT_NE(manager, nullptr);
    auto* second = new CountingTimer(10, 0);
    EXPECT_EQ(vTimerManager::current(), manager);
    EXPECT_EQ(plat::testing::liveWindows(), windowsBefore + 1);
    EXPECT_EQ(plat::testing::liveTimers(), 1); // the second is not started

    ASSERT_TRUE(waitUntil([&] { return first->ticks >= 3; }, 3000, true));
    EXPECT_EQ(second->ticks, 0);
    first->start(); // already started: left alone
    EXPECT_EQ(plat::testing::liveTimers(), 1);
    second->setPeriod(20); // stopped: arms nothing
    EXPECT_EQ(plat::testing::liveTimers(), 1);
    second->start();
    EXPECT_EQ(plat::testing::liveTimers(), 2);
    second->setPeriod(10); // started: re-armed, still one system timer
    EXPECT_EQ(plat::testing::liveTimers(), 2);
    ASSERT_TRUE(waitUntil([&] { return second->ticks >= 2; }, 3000, true));

    // A WM_TIMER for a timer that left the list is dropped with result 0.
    manager->timers().remove(second);
    int ticks = second->ticks;
    EXPECT_EQ(vMessageWnd::frameworkWndProc(manager->window(), plat::kWmTimer,
                                            reinterpret_cast<uintptr_t>(second), 0),
              0);
    EXPECT_EQ(second->ticks, ticks);
    manager->timers().insert(second, nullptr);

    delete first;
    EXPECT_EQ(vTimerManager::current(), manager);
    delete second;
    EXPECT_EQ(vTimerManager::current(), nullptr);
    EXPECT_EQ(plat::testing::liveWindows(), windowsBefore);
    EXPECT_EQ(plat::testing::liveTimers(), 0);

    CountingTimer third(10, 1); // a new manager and window
    EXPECT_NE(vTimerManager::current(), nullptr);
    EXPECT_EQ(plat::testing::liveWindows(), windowsBefore + 1);
    ASSERT_TRUE(waitUntil([&] { return third.ticks >= 1; }, 3000, true));
}

TEST_F(Runtime, AClassOfTheSameNameWithAnotherProcedureIsNotUsed) {
    // Left by an earlier load of the library, or another module's: its
    // procedure would get the timer window's messages, and no timer would fire.
    ASSERT_TRUE(plat::registerClass(moduleInstance, "vTimer", &plat::defWindowProc));
    {
        CountingTimer timer(10, 1);
        ASSERT_NE(vTimerManager::current(), nullptr);
        EXPECT_TRUE(waitUntil([&] { return timer.ticks >= 1; }, 3000, true));
        EXPECT_EQ(plat::classProcedure(moduleInstance, "vTimer"), &vMessageWnd::frameworkWndProc);
    }
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(plat::classRegistered(moduleInstance, "vTimer"));
}
