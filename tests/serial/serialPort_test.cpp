// vSerialPort on a pseudo-terminal that stands in for COM5: the test plays the
// device on the master side and pumps the host's message loop for the timer.
#include "entry/library.h"
#include "fixtures/heapAccount.h"
#include "fixtures/joiningThread.h"
#include "fixtures/waitUntil.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/posix/testing.h"
#include "platform/serial.h"
#include "serial/vSerialPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The device end of COM5.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        path_ = ptsname(master_);
        setenv("KVQ_PORT_COM5", path_.c_str(), 1);
    }
    ~Pty() {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
        unsetenv("KVQ_PORT_COM5");
    }
    bool ready() const { return !path_.empty(); }
    // The device goes away: whoever holds the other end sees a hang-up.
    // The slave side is kept open meanwhile, so that the device's number is
    // not given to another process's new pseudo-terminal, which the port
    // would then open in its place.
    void hangUp() {
        if (master_ < 0) return;
        if (slave_ < 0) slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::close(master_);
        master_ = -1;
    }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What the port sent, until `size` bytes came or the limit passed.
    Bytes receive(size_t size, int limitMs = 3000) {
        Bytes out;
        auto start = Clock::now();
        while (out.size() < size && msSince(start) < limitMs) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[512];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Threads of this process as the system counts them, until they have fully exited.
int osThreads() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

struct CountingPort : vSerialPort {
    CountingPort() : vSerialPort({4800, 8, 0, 0}) {}
    void onData() override { calls.fetch_add(1); }
    void onOpenFailed() override { ++openFailures; }
    void onDeviceFailed() override { ++deviceFailures; }
    using vSerialPort::eventCounts;
    std::atomic<int> calls{0};
    int openFailures = 0;
    int deviceFailures = 0;
};

// Resources that a port creates; all must be back to their earlier count.
struct Resources {
    int threads = plat::testing::liveThreads();
    int threadHandles = plat::testing::liveThreadHandles();
    int mutexes = plat::testing::liveMutexes();
    int waitObjects = plat::testing::liveWaitObjects();
    int devices = plat::testing::openSerialDevices();
    int timers = plat::testing::liveTimers();
    int windows = plat::testing::liveWindows();

    void expectUnchanged(int waitMs = 3000) const {
        // A worker counts as live until its routine has returned.
        auto start = Clock::now();
        while (plat::testing::liveThreads() != threads && msSince(start) < waitMs)
            plat::sleep(1);
        EXPECT_EQ(plat::testing::liveThreads(), threads);
        EXPECT_EQ(plat::testing::liveThreadHandles(), threadHandles);
        EXPECT_EQ(plat::testing::liveMutexes(), mutexes);
        EXPECT_EQ(plat::testing::liveWaitObjects(), waitObjects);
        EXPECT_EQ(plat::testing::openSerialDevices(), devices);
        EXPECT_EQ(plat::testing::liveTimers(), timers);
        EXPECT_EQ(plat::testing::liveWindows(), windows);
    }
};

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        moduleInstance = reinterpret_cast<void*>(0x1000);
        ASSERT_TRUE(pty.ready());
    }
    void TearDown() override {
        moduleInstance = nullptr;
        EXPECT_EQ(vTimerManager::current(), nullptr);
    }

    void pumpFor(int ms) {
        auto start = Clock::now();
        while (msSince(start) < ms)
            plat::pumpMessages(10);
    }

    Resources before;
    Pty pty;
};

} // namespace

TEST_F(SerialPort, DeviceThatCannotBeOpenedLeavesThePortClosed) {
    setenv("KVQ_PORT_COM5", "/nonexistent/kvq-tty", 1);
    {
        CountingPort port;
        EXPECT_EQ(port.open("com5"), 0);
        EXPECT_FALSE(port.isOpen());
        EXPECT_FALSE(port.vThread::isStarted());
        EXPECT_FALSE(port.vTimer::isStarted());

        uint8_t byte = 0xEE;
        auto start = Clock::now();
        EXPECT_EQ(port.read(&byte, 1), 0);
        EXPECT_LT(msSince(start), 300) << "a closed port does not wait";
        EXPECT_EQ(byte, 0xEE);
        EXPECT_EQ(port.write(&byte, 1), 0);
        port.purge();
        port.close();
        EXPECT_EQ(port.calls.load(), 0);
    }
    before.expectUnchanged();
}

TEST_F(SerialPort, OpensWithFixedSettingsAndPassesEveryByteValueBothWays) {
    CountingPort port;
    ASSERT_EQ(port.open("com5"), 1);
    EXPECT_TRUE(port.isOpen());
    EXPECT_TRUE(port.vThread::isStarted());
    EXPECT_TRUE(port.vTimer::isStarted());
    EXPECT_EQ(port.vTimer::getPeriod(), 0u);

    const plat::LineSettings& s = port.settings();
    EXPECT_EQ(s.DCBlength, 28u);
    EXPECT_EQ(s.BaudRate, 4800u);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, 0);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_EQ(s.fBinary, 1u);
    EXPECT_EQ(s.fParity, 1u);
    EXPECT_EQ(s.fOutxCtsFlow, 0u);
    EXPECT_EQ(s.fOutxDsrFlow, 0u);
    EXPECT_EQ(s.fDtrControl, 1u);
    EXPECT_EQ(s.fDsrSensitivity, 0u);
    EXPECT_EQ(s.fTXContinueOnXoff, 0u);
    EXPECT_EQ(s.fOutX, 0u) << "XON/XOFF would swallow 0x11 and 0x13 of the binary protocol";
    EXPECT_EQ(s.fInX, 0u);
    EXPECT_EQ(s.fErrorChar, 0u);
    EXPECT_EQ(s.fNull, 0u);
    EXPECT_EQ(s.fRtsControl, 1u);
    EXPECT_EQ(s.fAbortOnError, 0u);
    EXPECT_EQ(s.XonLim, 100);
    EXPECT_EQ(s.XoffLim, 100);
    EXPECT_EQ(s.XonChar, 0x11);
    EXPECT_EQ(s.XoffChar, 0x13);
    EXPECT_EQ(s.ErrorChar, 0);
    EXPECT_EQ(s.EofChar, 0);
    EXPECT_EQ(s.EvtChar, 0);

    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(port.write(all.data(), 256), 1);
    EXPECT_EQ(pty.receive(256), all);

    pty.send(all);
    Bytes got(256, 0);
    ASSERT_EQ(port.read(got.data(), 256), 1);
    EXPECT_EQ(got, all);
}

TEST_F(SerialPort, ReadOfASilentLineGivesUpAfterItsLimit) {
    CountingPort port;
    ASSERT_EQ(port.open("com5"), 1);
    uint8_t byte = 0xEE;
    auto start = Clock::now();
    EXPECT_EQ(port.read(&byte, 1), 0);
    long long took = msSince(start);
    EXPECT_GE(took, 450);
    EXPECT_LT(took, 3000);
    EXPECT_EQ(byte, 0xEE) << "a read that gave up leaves the buffer alone";

    // A byte that comes later is still there for the next read.
    pty.send({0x42});
    ASSERT_EQ(port.read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x42);
}

TEST_F(SerialPort, CloseAndReopen) {
    {
        CountingPort port;
        ASSERT_EQ(port.open("com5"), 1);
        EXPECT_EQ(plat::testing::openSerialDevices(), before.devices + 1);
        port.close();
        port.close(); // a closed port: nothing happens
        EXPECT_FALSE(port.isOpen());
        EXPECT_FALSE(port.vThread::isStarted());
        EXPECT_FALSE(port.vTimer::isStarted());
        EXPECT_EQ(plat::testing::openSerialDevices(), before.devices);
        uint8_t byte = 0;
        EXPECT_EQ(port.write(&byte, 1), 0);

        ASSERT_EQ(port.open("com5"), 1);
        EXPECT_EQ(port.settings().BaudRate, 4800u);
        EXPECT_EQ(port.settings().fOutX, 0u);
        byte = 0x13;
        ASSERT_EQ(port.write(&byte, 1), 1);
        EXPECT_EQ(pty.receive(1), Bytes{0x13});

        // Opening an open port closes it first: one device, one watcher.
        ASSERT_EQ(port.open("com5"), 1);
        EXPECT_EQ(plat::testing::openSerialDevices(), before.devices + 1);
        EXPECT_EQ(plat::testing::liveThreadHandles(), before.threadHandles + 1);
        pty.send({0x11});
        ASSERT_TRUE(waitUntil([&] { return port.calls.load() >= 1; }, 3000, true));
        EXPECT_EQ(port.read(&byte, 1), 1);
        EXPECT_EQ(byte, 0x11);
    }
    before.expectUnchanged();
}

TEST_F(SerialPort, EventsWhileDataIsPendingGiveOneOnData) {
    CountingPort port;
    ASSERT_EQ(port.open("com5"), 1);
    pty.send({0x01});
    auto start = Clock::now();
    while (!port.isDataPending() && msSince(start) < 3000)
        plat::sleep(1);
    ASSERT_TRUE(port.isDataPending());
    // More arrivals while the flag is up, each its own event.
    for (uint8_t b = 2; b < 12; ++b) {
        pty.send({b});
        plat::sleep(5);
    }
    EXPECT_EQ(port.calls.load(), 0) << "onData runs only from the host's message loop";

    ASSERT_TRUE(waitUntil([&] { return port.calls.load() >= 1; }, 3000, true));
    EXPECT_FALSE(port.isDataPending());
    pumpFor(300);
    // One call for all of them; arrivals that the watcher reports only after the
    // flag was cleared may add one more, never one per event.
    EXPECT_LE(port.calls.load(), 2);

    // The flag is down again, so the next arrival is reported anew.
    int seen = port.calls.load();
    pty.send({0x20});
    EXPECT_TRUE(waitUntil([&] { return port.calls.load() > seen; }, 3000, true));
}

TEST_F(SerialPort, WaitsThatCompleteAtOnceWithInputCount) {
    EXPECT_TRUE(CountingPort::eventCounts(plat::kWaitImmediate, plat::kEvRxChar));
    EXPECT_TRUE(CountingPort::eventCounts(plat::kWaitImmediate, plat::kEvRing));
    EXPECT_FALSE(CountingPort::eventCounts(plat::kWaitImmediate, 0));
    EXPECT_FALSE(CountingPort::eventCounts(plat::kWaitImmediate, 0x0004)); // EV_TXEMPTY
    EXPECT_TRUE(CountingPort::eventCounts(plat::kWaitCompleted, 0));
    EXPECT_FALSE(CountingPort::eventCounts(plat::kWaitFailed, plat::kEvRxChar));

    // Input that is there before the watcher first waits completes its first wait
    // at once; it must still reach onData.
    for (int round = 0; round < 5; ++round) {
        CountingPort port;
        ASSERT_EQ(port.open("com5"), 1);
        pty.send({static_cast<uint8_t>(0x30 + round)});
        EXPECT_TRUE(waitUntil([&] { return port.calls.load() >= 1; }, 3000, true))
            << "round " << round;
        uint8_t byte = 0;
        EXPECT_EQ(port.read(&byte, 1), 1);
        EXPECT_EQ(byte, 0x30 + round);
    }
}

TEST_F(SerialPort, DestroyingAnOpenPortEndsTheWatcherAndReleasesEverything) {
    // A thread of an earlier test may still be on its way out (slowly under a
    // thread checker): no more threads than at the start counts as none left.
    const int osThreadsAtStart = osThreads();
    // Two cycles first set up what the platform keeps for the life of the process
    // (its handle tables and their free lists).
    for (int i = 0; i < 2; ++i) {
        CountingPort warmUp;
        ASSERT_EQ(warmUp.open("com5"), 1);
        pty.send({0x01});
        ASSERT_TRUE(waitUntil([&] { return warmUp.calls.load() >= 1; }, 3000, true));
        uint8_t byte = 0;
        warmUp.read(&byte, 1);
    }
    // A worker that has ended still lets go of its own record before its thread is gone.
    auto threadsGone = [&] {
        auto start = Clock::now();
        while (osThreads() > osThreadsAtStart && msSince(start) < 3000)
            plat::sleep(1);
        return osThreads() <= osThreadsAtStart;
    };
    before.expectUnchanged();
    ASSERT_TRUE(threadsGone());
    size_t heapBefore = HeapAccount::liveBytes();

    auto port = std::make_unique<CountingPort>();
    ASSERT_EQ(port->open("com5"), 1);
    EXPECT_EQ(plat::testing::liveThreads(), before.threads + 1);
    pty.send({0x5A});
    ASSERT_TRUE(waitUntil([&] { return port->calls.load() >= 1; }, 3000, true));

    const int closedUnderAWait = plat::testing::devicesClosedUnderAWait();
    auto start = Clock::now();
    port.reset();
    EXPECT_LT(msSince(start), 2000);
    EXPECT_EQ(plat::testing::devicesClosedUnderAWait(), closedUnderAWait) << "closed first";
    before.expectUnchanged();
    if (HeapAccount::available()) {
        EXPECT_TRUE(threadsGone());
        EXPECT_EQ(HeapAccount::liveBytes(), heapBefore);
    }

    // A driver that keeps the watcher's event wait pending whatever the mask and
    // the handle do: the watcher is still stopped, and has ended before the
    // object goes, well inside the worker's first stop wait (which a watcher
    // left in its wait would run out, and then the second, longer one).
    plat::testing::stubbornEventWaits(true);
    port = std::make_unique<CountingPort>();
    ASSERT_EQ(port->open("com5"), 1);
    pty.send({0x5A});
    ASSERT_TRUE(waitUntil([&] { return port->calls.load() >= 1; }, 3000, true));
    auto waiting = [] { return plat::testing::pendingEventWaits() == 1; };
    for (start = Clock::now(); !waiting() && msSince(start) < 3000;)
        plat::sleep(1);
    ASSERT_TRUE(waiting());
    start = Clock::now();
    port.reset();
    long long took = msSince(start);
    plat::testing::stubbornEventWaits(false);
    EXPECT_LT(took, static_cast<long long>(vThread::kStopWaitMs));
    EXPECT_EQ(plat::testing::liveThreads(), before.threads) << "the watcher outlived its port";
    EXPECT_EQ(plat::testing::devicesClosedUnderAWait(), closedUnderAWait) << "closed first";
    before.expectUnchanged();
}

TEST_F(SerialPort, AFailedDeviceIsClosedAndReopenedWhenItIsBack) {
    {
        CountingPort port;
        port.setReopenPeriod(100);
        ASSERT_EQ(port.open("com5"), 1);
        uint8_t byte = 0;
        ASSERT_EQ(port.write(&byte, 1), 1);

        // Pulled out: the watcher's wait fails, the port closes the device and
        // says so once; attempts to open it meanwhile fail.
        pty.hangUp();
        ASSERT_TRUE(waitUntil([&] { return !port.isOpen(); }, 3000, true));
        EXPECT_EQ(port.deviceFailures, 1);
        EXPECT_EQ(port.write(&byte, 1), 0);
        ASSERT_TRUE(waitUntil([&] { return port.openFailures >= 2; }, 3000, true));
        EXPECT_EQ(plat::testing::openSerialDevices(), before.devices);

        // Back (at the same name): opened by the timer, without being asked.
        Pty back;
        ASSERT_TRUE(back.ready());
        ASSERT_TRUE(waitUntil([&] { return port.isOpen(); }, 3000, true));
        back.send({0x5A});
        EXPECT_TRUE(waitUntil([&] { return port.calls.load() >= 1; }, 3000, true));
        EXPECT_EQ(port.read(&byte, 1), 1);
        EXPECT_EQ(byte, 0x5A);
        EXPECT_EQ(port.deviceFailures, 1);

        // Closed by its owner, it stays closed.
        port.close();
        pumpFor(300);
        EXPECT_FALSE(port.isOpen());
    }
    before.expectUnchanged();
}

TEST_F(SerialPort, ADeviceThatFailsAsSoonAsItOpensWaitsAPeriodBeforeEachOpen) {
    {
        // A driver that refuses the event wait: every open fails at once. Over
        // five periods, at most six opens, however often the owner asks.
        plat::testing::failEventWaitsAtOnce(true);
        CountingPort port;
        port.setReopenPeriod(200);
        const int opensBefore = plat::testing::serialOpens();
        ASSERT_EQ(port.open("com5"), 1);
        auto start = Clock::now();
        while (msSince(start) < 1000) {
            plat::pumpMessages(10);
            port.reopenNow();
        }
        EXPECT_LE(plat::testing::serialOpens() - opensBefore, 6);
        EXPECT_GE(port.deviceFailures, 2) << "still opened again";

        // Once the driver takes the wait, the next period's open holds.
        plat::testing::failEventWaitsAtOnce(false);
        ASSERT_TRUE(waitUntil([&] { return port.isOpen() && !port.hasFailed(); }, 3000, true));
        pty.send({0x5A});
        EXPECT_TRUE(waitUntil([&] { return port.calls.load() >= 1; }, 3000, true));
        port.close();
    }
    before.expectUnchanged();
}

TEST_F(SerialPort, AStubbornDriverHoldsTheHostsThreadBrieflyAndLeavesNothingBehind) {
    // Windows holds a thread in its exit while a request of its own is
    // pending, and this driver lets go of the watcher's wait only when its
    // device is closed: a close that waited for the watcher first would wait
    // for its own close.
    plat::testing::stubbornEventWaits(true);
    plat::testing::pendingRequestsHoldTheirThread(true);
    auto waiting = [] { return plat::testing::pendingEventWaits() == 1; };
    uint8_t byte = 0;
    {
        CountingPort port;
        port.setReopenPeriod(100);
        ASSERT_EQ(port.open("com5"), 1);
        ASSERT_TRUE(waitUntil(waiting, 3000));
        // Pulled out: the watcher sees nothing, a write fails; the next try
        // closes the device and finds none.
        pty.hangUp();
        EXPECT_EQ(port.write(&byte, 1), 0);
        auto start = Clock::now();
        EXPECT_FALSE(port.reopenNow());
        ASSERT_LE(msSince(start), 2500);
        EXPECT_EQ(port.deviceFailures, 1);
        EXPECT_EQ(plat::testing::heldRequests(), 0) << "the close completed it";
        port.close();

        // Twenty outages (the cancel's settle cut short) leave nothing behind.
        plat::testing::capWaits(20);
        Pty back;
        ASSERT_TRUE(back.ready());
        for (int outage = 0; outage < 20; ++outage) {
            ASSERT_EQ(port.open("com5"), 1);
            ASSERT_TRUE(waitUntil(waiting, 3000));
            start = Clock::now();
            port.close();
            ASSERT_LE(msSince(start), 2500);
        }
        EXPECT_EQ(plat::testing::liveWaitObjects(), before.waitObjects);
        EXPECT_EQ(plat::testing::liveThreadHandles(), before.threadHandles);
        EXPECT_EQ(plat::testing::openSerialDevices(), before.devices);
        plat::testing::uncapWaits();
    }
    before.expectUnchanged();

    // A request that never completes: the close is still bounded, and leaves
    // only the thread the system holds, counted, until the request completes.
    plat::testing::pendingRequestsHoldTheirThread(true, false);
    Pty again;
    ASSERT_TRUE(again.ready());
    {
        CountingPort port;
        ASSERT_EQ(port.open("com5"), 1);
        ASSERT_TRUE(waitUntil(waiting, 3000));
        auto start = Clock::now();
        port.close();
        EXPECT_LE(msSince(start), 2500);
        EXPECT_EQ(plat::testing::heldRequests(), 1);
        EXPECT_EQ(plat::testing::liveThreads(), before.threads + 1) << "held in its exit";
        EXPECT_EQ(plat::testing::liveWaitObjects(), before.waitObjects);
    }
    plat::testing::pendingRequestsHoldTheirThread(false);
    before.expectUnchanged();
}

TEST_F(SerialPort, TheWatcherAsksAfterTheDeviceSoADriverThatNeverAnswersLeavesTheHostsThreadFree) {
    {
        CountingPort port;
        port.setReopenPeriod(100);
        ASSERT_EQ(port.open("com5"), 1);
        plat::testing::hangStatusReads(true);
        JoiningThread release([] {
            plat::sleep(4000);
            plat::testing::hangStatusReads(false);
        });
        // An idle port over three of its checks: the host's thread pumps on.
        auto start = Clock::now();
        pumpFor(1500);
        EXPECT_LT(msSince(start), 2500) << "the host's thread waited for the driver";
        release.join();
        EXPECT_TRUE(port.isOpen());
        EXPECT_EQ(port.deviceFailures, 0);
        port.close();
    }
    before.expectUnchanged();
}
