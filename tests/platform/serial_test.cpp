// Serial devices of the POSIX platform, on a pseudo-terminal that stands in for COM7.
#include "fixtures/joiningThread.h"
#include "fixtures/waitUntil.h"
#include "platform/clock.h"
#include "platform/deviceNames.h"
#include "platform/posix/testing.h"
#include "platform/serial.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono;

long long msSince(steady_clock::time_point start) {
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

class PlatformSerial : public ::testing::Test {
protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        ASSERT_EQ(setenv("KVQ_PORT_COM7", ptsname(master), 1), 0);
        // Opened before the device is, so its exclusive mode doesn't apply; it shows
        // how much input waits unread without taking any.
        observer = ::open(ptsname(master), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(observer, 0);
        devicesBefore = plat::testing::openSerialDevices();
    }
    void TearDown() override {
        if (port) plat::serialClose(port);
        ::close(observer);
        ::close(master);
        unsetenv("KVQ_PORT_COM7");
        EXPECT_EQ(plat::testing::openSerialDevices(), devicesBefore);
    }

    // Opens COM7 configured as the serial port class configures its device.
    void openConfigured() {
        port = plat::serialOpen("com7", nullptr);
        ASSERT_NE(port, nullptr);
        EXPECT_TRUE(plat::serialSetMask(port, plat::kEvRxChar | plat::kEvRing));
        EXPECT_TRUE(plat::serialSetupQueues(port, 4096, 4096));
        EXPECT_TRUE(plat::serialPurge(port, plat::kPurgeAll));
        plat::SerialTimeouts t{300, 300, 300, 300, 300};
        EXPECT_TRUE(plat::serialSetTimeouts(port, &t));
        plat::LineSettings s{};
        s.DCBlength = sizeof s;
        s.BaudRate = 4800;
        s.ByteSize = 8;
        s.fBinary = 1;
        s.fParity = 1;
        s.fDtrControl = 1;
        s.fRtsControl = 1;
        s.fOutX = 1; // asked for, and deliberately not honoured on a binary line
        s.fInX = 1;
        s.XonLim = 100;
        s.XoffLim = 100;
        s.XonChar = 0x11;
        s.XoffChar = 0x13;
        EXPECT_TRUE(plat::serialSetState(port, &s));
    }

    void toDevice(const void* data, size_t size) {
        ASSERT_EQ(::write(master, data, size), static_cast<ssize_t>(size));
    }

    // What the device sent, gathered until `size` bytes came or the limit passed.
    std::vector<uint8_t> fromDevice(size_t size, int limitMs = 3000) {
        std::vector<uint8_t> out;
        auto start = steady_clock::now();
        while (out.size() < size && msSince(start) < limitMs) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[512];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    int unread() {
        int n = 0;
        ioctl(observer, FIONREAD, &n);
        return n;
    }

    int master = -1;
    int observer = -1;
    plat::Handle port = nullptr;
    int devicesBefore = 0;
};

TEST_F(PlatformSerial, OpensExclusivelyByWindowsNameAndReopensAfterClose) {
    plat::SerialOpenResult result = plat::kOpenFailed;
    // Another program's lock: held, and the device is not taken.
    ASSERT_EQ(flock(observer, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(plat::serialOpen("COM7", nullptr, &result), nullptr);
    EXPECT_EQ(result, plat::kOpenHeld);
    ASSERT_EQ(flock(observer, LOCK_UN), 0);
    port = plat::serialOpen("COM7", nullptr, &result);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(result, plat::kOpenDone);
    EXPECT_EQ(plat::testing::openSerialDevices(), devicesBefore + 1);
    EXPECT_EQ(plat::serialOpen("com7", nullptr, &result), nullptr); // already open
    EXPECT_EQ(result, plat::kOpenHeld);
    EXPECT_EQ(plat::serialOpen("cOm7", nullptr), nullptr);

    plat::serialClose(port);
    EXPECT_EQ(plat::testing::openSerialDevices(), devicesBefore);
    EXPECT_FALSE(plat::serialSetMask(port, plat::kEvRxChar)); // the old handle is dead
    plat::serialClose(port);                                  // closing twice is harmless

    plat::SerialOpenOptions options;
    options.inheritable = true;
    options.nullDacl = true;
    plat::Handle again = plat::serialOpen("com7", &options);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, port); // a new handle, never the stale one
    EXPECT_FALSE(plat::serialSetMask(port, plat::kEvRxChar));
    EXPECT_TRUE(plat::serialSetMask(again, plat::kEvRxChar));
    port = again;

    for (const char* name : {"COM0", "COM07", "COM7x", "LPT1", "com", "", "/dev/null"}) {
        result = plat::kOpenHeld;
        EXPECT_EQ(plat::serialOpen(name, nullptr, &result), nullptr) << name;
        EXPECT_EQ(result, plat::kOpenAbsent) << name;
    }
    EXPECT_EQ(plat::serialOpen(nullptr, nullptr), nullptr);
    ASSERT_EQ(setenv("KVQ_PORT_COM9", "/nonexistent/tty", 1), 0);
    result = plat::kOpenHeld; // a reason left from before must not survive
    EXPECT_EQ(plat::serialOpen("COM9", nullptr, &result), nullptr);
    EXPECT_EQ(result, plat::kOpenAbsent);
    unsetenv("KVQ_PORT_COM9");
}

TEST_F(PlatformSerial, ReadOnASilentLineGivesUpAfterTheLimitAndLeavesTheBuffer) {
    openConfigured();
    uint8_t buffer[1] = {0xAB};
    auto start = steady_clock::now();
    EXPECT_EQ(plat::serialRead(port, buffer, 1, 500), 0);
    long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 490);
    EXPECT_LT(elapsed, 2500);
    EXPECT_EQ(buffer[0], 0xAB);

    // A handle that is not open fails at once.
    EXPECT_EQ(plat::serialRead(nullptr, buffer, 1, 500), plat::kTransferFailed);
    EXPECT_EQ(plat::serialWrite(nullptr, buffer, 1, 500), plat::kTransferFailed);

    // A device that goes away (the other end hangs up) is a failure, not a
    // silence: reads and writes say so at once, and a byte that came is counted.
    toDevice("\x5A", 1);
    uint32_t got = 0;
    EXPECT_EQ(plat::serialRead(port, buffer, 1, 500, &got), plat::kTransferDone);
    EXPECT_EQ(got, 1u);
    ::close(master);
    master = -1;
    start = steady_clock::now();
    EXPECT_EQ(plat::serialRead(port, buffer, 1, 500, &got), plat::kTransferFailed);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(plat::serialWrite(port, buffer, 1, 500), plat::kTransferFailed);
    EXPECT_LT(msSince(start), 450);
}

// A request that its caller gives up at the time limit is cancelled; what the
// device transferred before the cancel reached it is gone from the device, so
// it is handed out, and a write that went out is no failure to be sent again.
TEST_F(PlatformSerial, ARequestGivenUpAtItsLimitHandsOutWhatItTransferred) {
    openConfigured();
    plat::SerialTimeouts none{0, 0, 0, 300, 300}; // reads wait for all they ask for
    ASSERT_TRUE(plat::serialSetTimeouts(port, &none));
    toDevice("\x5a\x01", 2);
    ASSERT_TRUE(waitUntil([&] { return unread() == 2; }));
    uint8_t buffer[4] = {};
    uint32_t got = 0;
    EXPECT_EQ(plat::serialRead(port, buffer, 4, 300, &got), plat::kTransferDone);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buffer[0], 0x5a);
    EXPECT_EQ(buffer[1], 0x01);

    // Completed between the end of the wait and the cancel.
    plat::testing::lateCompletions(true);
    toDevice("\x55", 1);
    ASSERT_TRUE(waitUntil([&] { return unread() == 1; }));
    buffer[0] = 0;
    EXPECT_EQ(plat::serialRead(port, buffer, 1, 300, &got), plat::kTransferDone);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buffer[0], 0x55);
    EXPECT_EQ(plat::serialWrite(port, "\x04\x66", 2, 300), plat::kTransferDone);
    EXPECT_EQ(fromDevice(2), (std::vector<uint8_t>{0x04, 0x66}));

    // A write that the device does not take in time is given up: a slow
    // transfer, not a failed device.
    plat::testing::lateCompletions(false);
    plat::SerialTimeouts noWriteLimit{0, 0, 0, 0, 0};
    ASSERT_TRUE(plat::serialSetTimeouts(port, &noWriteLimit));
    std::vector<uint8_t> flood(1 << 20, 0x55);
    EXPECT_EQ(plat::serialWrite(port, flood.data(), static_cast<uint32_t>(flood.size()), 200),
              plat::kTransferTimedOut);
}

TEST_F(PlatformSerial, ReadCompletesShortAfterTheDevicesIntervalTimeout) {
    openConfigured();
    toDevice("\x5a\x01", 2);
    uint8_t buffer[4] = {};
    auto start = steady_clock::now();
    EXPECT_EQ(plat::serialRead(port, buffer, 4, 2000), 1);
    EXPECT_LT(msSince(start), 1900);
    EXPECT_EQ(buffer[0], 0x5a);
    EXPECT_EQ(buffer[1], 0x01);
    EXPECT_EQ(buffer[2], 0);
}

// The wait cap that protocol fuzzing runs under: a read ends at once with what
// has arrived, a sleep returns at once, and lifting the cap restores both.
TEST_F(PlatformSerial, CappedWaitsEndAtOnceWithWhatHasArrived) {
    openConfigured();
    plat::testing::capWaits(0);
    toDevice("\x5a", 1);
    auto deadline = steady_clock::now() + std::chrono::seconds(3);
    while (unread() < 1 && steady_clock::now() < deadline) {}
    uint8_t buffer[3] = {0, 0xAB, 0xAB};
    auto start = steady_clock::now();
    EXPECT_EQ(plat::serialRead(port, buffer, 3, 500), 1);
    EXPECT_EQ(plat::serialRead(port, buffer + 1, 1, 500), 1); // nothing there: completes empty
    plat::sleep(2000);
    EXPECT_LT(msSince(start), 400);
    EXPECT_EQ(buffer[0], 0x5a);
    EXPECT_EQ(buffer[1], 0xAB);

    plat::testing::resetSeams();
    start = steady_clock::now();
    EXPECT_EQ(plat::serialRead(port, buffer, 1, 500), 0);
    EXPECT_GE(msSince(start), 490);
}

TEST_F(PlatformSerial, EveryByteValuePassesBothWaysUnchanged) {
    openConfigured();
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);

    EXPECT_EQ(plat::serialWrite(port, all.data(), 256, 10000), 1);
    EXPECT_EQ(fromDevice(256), all);

    toDevice(all.data(), all.size());
    std::vector<uint8_t> in(256, 0xEE);
    EXPECT_EQ(plat::serialRead(port, in.data(), 256, 3000), 1);
    EXPECT_EQ(in, all);
}

TEST_F(PlatformSerial, PurgeDiscardsUnreadInput) {
    openConfigured();
    toDevice("abc", 3);
    ASSERT_TRUE(waitUntil([&] { return unread() == 3; }));
    uint32_t mask = 0;
    plat::Handle wait = plat::createWaitObject();
    ASSERT_EQ(plat::serialWaitEvent(port, wait, &mask), plat::kWaitImmediate);
    EXPECT_TRUE(plat::serialPurge(port, plat::kPurgeAll));
    uint8_t buffer[1] = {0};
    EXPECT_EQ(plat::serialRead(port, buffer, 1, 200), 0);
    // Input after the purge is reported again.
    toDevice("d", 1);
    ASSERT_TRUE(waitUntil([&] { return unread() == 1; }));
    EXPECT_EQ(plat::serialWaitEvent(port, wait, &mask), plat::kWaitImmediate);
    EXPECT_EQ(mask, plat::kEvRxChar);
    plat::closeWaitObject(wait);
}

struct Watcher {
    plat::Handle port;
    plat::Handle wait;
    std::atomic<bool> running{true};
    std::atomic<int> passes{0};
    std::atomic<int> reported{0};
    std::atomic<int> last{-1};
    std::optional<JoiningThread> thread;

    // The serial port's watch loop: wait, note the event, sleep 1 ms.
    void start() {
        thread.emplace(
            [this] {
                while (running) {
                    uint32_t mask = 0;
                    plat::SerialWaitResult r = plat::serialWaitEvent(port, wait, &mask);
                    last = r;
                    if (r != plat::kWaitFailed && (mask & plat::kEvRxChar)) ++reported;
                    ++passes;
                    std::this_thread::sleep_for(milliseconds(1));
                }
            },
            [this] {
                running = false;
                plat::stopWaiting(wait);
            });
    }
};

TEST_F(PlatformSerial, EventWaitReportsPendingDataAtOnceAndLaterArrivalsWhenTheyCome) {
    openConfigured();
    plat::Handle wait = plat::createWaitObject();
    ASSERT_NE(wait, nullptr);
    toDevice("x", 1);
    ASSERT_TRUE(waitUntil([&] { return unread() == 1; }));
    uint32_t mask = 0;
    EXPECT_EQ(plat::serialWaitEvent(port, wait, &mask), plat::kWaitImmediate);
    EXPECT_EQ(mask, plat::kEvRxChar);

    // Unread input that was already reported does not complete the next wait.
    std::atomic<int> result{-1};
    std::atomic<bool> entered{false};
    std::atomic<uint32_t> laterMask{0};
    JoiningThread waiter(
        [&] {
            uint32_t m = 0;
            entered = true;
            result = plat::serialWaitEvent(port, wait, &m);
            laterMask = m;
        },
        [&] { plat::stopWaiting(wait); });
    ASSERT_TRUE(waitUntil([&] { return entered.load(); }));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(result.load(), -1);
    toDevice("y", 1);
    EXPECT_TRUE(waitUntil([&] { return result.load() != -1; }));
    waiter.join();
    // Completed while waiting, or at once if the waiter was slow to get there.
    EXPECT_NE(result.load(), plat::kWaitFailed);
    EXPECT_EQ(laterMask.load(), plat::kEvRxChar);

    uint8_t buffer[2] = {};
    EXPECT_EQ(plat::serialRead(port, buffer, 2, 1000), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "xy");
    plat::closeWaitObject(wait);
    EXPECT_EQ(plat::serialWaitEvent(port, wait, &mask), plat::kWaitFailed);

    plat::testing::failWaitObjectCreation(true);
    EXPECT_EQ(plat::createWaitObject(), nullptr);
}

TEST_F(PlatformSerial, AWatcherDoesNotSpinWhileInputWaitsUnreadYetSeesEveryArrival) {
    openConfigured();
    const int waitObjects = plat::testing::liveWaitObjects();
    Watcher w;
    w.port = port;
    w.wait = plat::createWaitObject();
    EXPECT_EQ(plat::testing::liveWaitObjects(), waitObjects + 1);
    w.start();

    toDevice("a", 1);
    ASSERT_TRUE(waitUntil([&] { return w.reported.load() == 1; }));
    // Nobody reads: the loop must sleep in its wait, neither going round every
    // millisecond nor burning the processor inside the wait.
    clockid_t cpuClock;
    ASSERT_EQ(pthread_getcpuclockid(w.thread->nativeHandle(), &cpuClock), 0);
    auto cpuMs = [&] {
        timespec ts{};
        clock_gettime(cpuClock, &ts);
        return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
    };
    int passes = w.passes.load();
    double cpu = cpuMs();
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_LE(w.passes.load() - passes, 3);
    EXPECT_LT(cpuMs() - cpu, 20.0);

    for (int i = 2; i <= 4; ++i) {
        toDevice("b", 1);
        ASSERT_TRUE(waitUntil([&] { return w.reported.load() == i; })) << i;
    }

    // Closing the device wakes the waiting watcher, which then sees failures.
    auto start = steady_clock::now();
    plat::serialClose(port);
    port = nullptr;
    EXPECT_TRUE(waitUntil([&] { return w.last.load() == plat::kWaitFailed; }, 1000));
    EXPECT_LT(msSince(start), 1000);
    w.running = false;
    w.thread->join();
    plat::closeWaitObject(w.wait);
    EXPECT_EQ(plat::testing::liveWaitObjects(), waitObjects);
}

TEST_F(PlatformSerial, ClosingWakesABlockedWaitAndTheDeviceCanBeReopenedAtOnce) {
    openConfigured();
    plat::Handle wait = plat::createWaitObject();
    std::atomic<int> result{-1};
    JoiningThread waiter(
        [&] {
            uint32_t m = 0;
            result = plat::serialWaitEvent(port, wait, &m);
        },
        [&] { plat::stopWaiting(wait); });
    ASSERT_TRUE(waitUntil([] { return plat::testing::pendingEventWaits() == 1; }));
    EXPECT_EQ(result.load(), -1);
    plat::Handle closing = port;
    port = nullptr;
    auto start = steady_clock::now();
    plat::serialClose(closing);
    // The device is free before the waiter has even let go of it.
    plat::Handle again = plat::serialOpen("COM7", nullptr);
    EXPECT_NE(again, nullptr);
    waiter.join();
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(result.load(), plat::kWaitFailed);
    uint32_t mask = 0;
    EXPECT_EQ(plat::serialWaitEvent(closing, wait, &mask), plat::kWaitFailed);
    port = again;

    // A new event mask completes a pending wait with no events, as on Windows;
    // with an empty mask the next wait fails at once.
    EXPECT_TRUE(plat::serialSetMask(port, plat::kEvRxChar));
    std::atomic<uint32_t> events{0xFFFF};
    result = -1;
    JoiningThread masked(
        [&] {
            uint32_t m = 0xFFFF;
            result = plat::serialWaitEvent(port, wait, &m);
            events = m;
        },
        [&] { plat::stopWaiting(wait); });
    ASSERT_TRUE(waitUntil([] { return plat::testing::pendingEventWaits() == 1; }));
    EXPECT_EQ(result.load(), -1);
    start = steady_clock::now();
    plat::serialSetMask(port, 0);
    masked.join();
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(result.load(), plat::kWaitCompleted);
    EXPECT_EQ(events.load(), 0u);
    EXPECT_EQ(plat::serialWaitEvent(port, wait, &mask), plat::kWaitFailed);

    // A driver that keeps its wait pending after its device was pulled out
    // ends it for neither a new mask nor a close: only a stop ends it, and
    // every later wait on the object.
    EXPECT_TRUE(plat::serialSetMask(port, plat::kEvRxChar));
    plat::testing::stubbornEventWaits(true);
    result = -1;
    JoiningThread stubborn(
        [&] {
            uint32_t m = 0;
            result = plat::serialWaitEvent(port, wait, &m);
        },
        [&] { plat::stopWaiting(wait); });
    ASSERT_TRUE(waitUntil([] { return plat::testing::pendingEventWaits() == 1; }));
    plat::serialSetMask(port, 0);
    plat::serialClose(port);
    closing = port;
    port = nullptr;
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(result.load(), -1) << "ended by the mask or the close";
    plat::stopWaiting(wait);
    stubborn.join();
    plat::testing::stubbornEventWaits(false);
    EXPECT_EQ(result.load(), plat::kWaitStopped);
    EXPECT_EQ(plat::serialWaitEvent(closing, wait, &mask), plat::kWaitStopped);
    plat::closeWaitObject(wait);
}

TEST_F(PlatformSerial, WritesReachTheOtherEnd) {
    openConfigured();
    EXPECT_EQ(plat::serialWrite(port, "\x04\x66", 2, 1000), 1);
    EXPECT_EQ(fromDevice(2), (std::vector<uint8_t>{0x04, 0x66}));
    EXPECT_EQ(plat::serialWrite(port, "", 0, 1000), 1);
}

// The device list of a machine with many volumes and 256 ports, too long for
// the first buffer, which the system says with either error code; and lists
// that never fit (bounded) or fail otherwise (given up at once).
TEST(PlatformDeviceNames, TheListGrowsOnEitherErrorCodeUntilEveryPortIsFound) {
    std::string list;
    for (int i = 1; i <= 256; ++i)
        list += "COM" + std::to_string(i) + '\0' + "Volume{" + std::string(64, 'f') + "}" + '\0';
    list += '\0';
    for (uint32_t answer : {plat::kErrorMoreData, plat::kErrorInsufficientBuffer, 5u}) {
        for (size_t length : {list.size(), size_t{8} << 20}) {
            int queries = 0;
            std::vector<char> names =
                plat::readNameList([&](char* buffer, uint32_t size, uint32_t* error) {
                    ++queries;
                    std::memcpy(buffer, list.data(), std::min<size_t>(size, list.size()));
                    *error = answer;
                    return size < length ? 0u : static_cast<uint32_t>(length);
                });
            int ports = 0;
            for (const char* p = names.data(); !names.empty() && *p; p += std::strlen(p) + 1)
                ports += std::strncmp(p, "COM", 3) == 0;
            const bool grows = answer != 5u;
            const bool fits = length == list.size();
            EXPECT_EQ(ports, grows && fits ? 256 : 0) << answer << " " << length;
            EXPECT_EQ(queries, !grows ? 1 : fits ? 2 : 9) << answer << " " << length;
        }
    }
}

} // namespace
