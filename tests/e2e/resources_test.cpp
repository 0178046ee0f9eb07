// Resource accounting: the plug-ins are loaded, attached, built, given a little
// work, detached and unloaded again and again in this process. Afterwards no
// serial device, worker, timer, window, mutex or wait object may be left, and
// the live heap must be back at the byte where it was.
#include "fixtures/heapAccount.h"
#include "fixtures/hostRun.h"
#include "fixtures/loadedPlugin.h"
#include "fixtures/simulator.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/posix/testing.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <ostream>
#include <tuple>

// Freed blocks wait in a quarantine of 16 MB instead of the default, which
// leaves room in the address space for the reload cycles.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

namespace {

const std::string kX10 = std::string(KVQ_BIN_DIR) + "/KV-X10.so";
const std::string kQuillport = std::string(KVQ_BIN_DIR) + "/Quillport.so";

// Cycles per plug-in; each one loads the library afresh, since a plug-in object
// is made only while its library loads. Under user-mode emulation every load
// maps the library, and every worker its stack, at fresh addresses (unmapped
// ranges are not handed out again), so the sanitizer's quarantine is kept small
// (below) for 200 KV-X10 cycles to fit the 32-bit address space. CTest runs
// each test in a process of its own; run by hand, run them one at a time.
constexpr int kQuillportCycles = 200;
constexpr int kX10Cycles = 200;
constexpr int kWarmUpCycles = 2;

struct Live {
    int windows, timers, threads, threadHandles, mutexes, waitObjects, devices, queued;
    static Live now() {
        namespace t = plat::testing;
        return {t::liveWindows(),       t::liveTimers(),    t::liveThreads(),
                t::liveThreadHandles(), t::liveMutexes(),   t::liveWaitObjects(),
                t::openSerialDevices(), t::queuedMessages()};
    }
    bool operator==(const Live& o) const {
        return windows == o.windows && timers == o.timers && threads == o.threads &&
               threadHandles == o.threadHandles && mutexes == o.mutexes &&
               waitObjects == o.waitObjects && devices == o.devices && queued == o.queued;
    }
};
std::ostream& operator<<(std::ostream& os, const Live& c) {
    return os << "windows " << c.windows << ", timers " << c.timers << ", threads " << c.threads
              << ", thread handles " << c.threadHandles << ", mutexes " << c.mutexes
              << ", wait objects " << c.waitObjects << ", devices " << c.devices << ", queued "
              << c.queued;
}

// What the plug-ins asked of the host, counted without allocating, so that the
// heap comparison sees only the plug-ins.
struct HostCounts {
    int fired = 0, answered = 0, unloads = 0;
};
HostCounts host;

void countingHost(EntryMessage* m) {
    if (m->category == 2 && m->operation == 2 && m->a[2] == 321) ++host.fired;
    if (m->category == 2 && m->operation == 2 && m->a[2] == 323) ++host.answered;
    if (m->category == 1 && m->operation == 2) ++host.unloads;
    LoadedPlugin::answerHostQueries(m);
}

bool attach(LoadedPlugin& p, const std::string& path) {
    host = HostCounts{};
    return p.word(1, 1, toHandle(&countingHost),
                  {LoadedPlugin::kContext, 0, LoadedPlugin::moduleBase(path)}) == 1;
}

// A worker is detached: after its object has seen it end, the thread itself
// may still be on its way out, releasing its record and its thread data. A
// reading counts once it has held for a while, within a deadline.
size_t steadyHeap() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    size_t last = HeapAccount::liveBytes();
    for (int same = 0; same < 10 && std::chrono::steady_clock::now() < deadline;) {
        plat::sleep(5);
        size_t now = HeapAccount::liveBytes();
        same = now == last ? same + 1 : 0;
        last = now;
    }
    return last;
}

// Runs `cycle` after warm-up cycles, `count` times, and checks that nothing is
// left: no platform resource, and no heap that grows with the cycles.
//
// The platform's handle tables queue their free slots in blocks of 128: the
// cycle that starts a new block holds that block until the next cycle frees
// the old one. So the starting point is a reading that two cycles in a row
// agree on, and the end may take one cycle more to get back to it. Anything
// the cycles leak shows in every reading and never matches.
template <class Cycle> void expectNothingLeftBy(Cycle cycle, int count) {
    Live idle = Live::now();
    // Warm-up: the loader keeps some bookkeeping of its own for good after the
    // first reloads.
    for (int i = 0; i < kWarmUpCycles; ++i) {
        ASSERT_TRUE(cycle()) << "warm-up " << i;
        EXPECT_EQ(Live::now(), idle);
    }
    // The system's loader may take a share of its own once, at a moment that
    // depends on the timing of the workers (natively 160 bytes, somewhere in
    // the cycles). A leak grows with every cycle, so it shows in both of two
    // later thirds of the cycles; a share taken once shows in one at most.
    for (int i = 0; i < count / 3; ++i)
        ASSERT_TRUE(cycle()) << "cycle " << i;
    size_t start = steadyHeap();
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(cycle());
        size_t now = steadyHeap();
        if (now == start) break;
        start = now;
    }
    auto third = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            if (!cycle()) return false;
        return true;
    };
    ASSERT_TRUE(third(count / 3, 2 * count / 3));
    size_t middle = steadyHeap();
    ASSERT_TRUE(third(2 * count / 3, count));
    EXPECT_EQ(Live::now(), idle);
    if (!HeapAccount::available()) return;
    size_t end = steadyHeap();
    if (end != middle) {
        ASSERT_TRUE(cycle());
        end = steadyHeap();
    }
    EXPECT_TRUE(middle == start || end == middle)
        << "live heap bytes grew in both thirds: " << start << ", " << middle << ", " << end;
}

// The platform's class table grows by doubling when a cycle registers a class
// while it is full. Filling it with classes of instances no library can have,
// once, leaves it room enough for every cycle, so that the heap comparison sees
// only the plug-ins.
intptr_t KVQ_CALLBACK neverCalled(plat::Window, uint32_t, uintptr_t, intptr_t) {
    return 0;
}
void makeRoomForWindowClasses() {
    static bool done = false;
    for (uintptr_t i = 1; !done && i <= 1100; ++i)
        plat::registerClass(reinterpret_cast<plat::Instance>(i), "room", &neverCalled);
    done = true;
}

// One Quillport cycle: a button pressed by the host answers it.
bool quillportCycle() {
    LoadedPlugin p(kQuillport);
    if (!p.loaded() || !attach(p, kQuillport)) return false;
    p.build();
    uint32_t button = p.child(p.child(p.root(), "Quillport"), "Button 2 (DSR)");
    if (button == 0) return false;
    p.call(2, 32, button, {1});
    p.call(2, 2, button, {LoadedPlugin::kHostTarget, 0, 1, 0});
    plat::pumpMessages(0);
    bool answered = host.answered == 1;
    return p.detach() == 1 && answered && host.unloads == 1 && p.root() == 0;
}

// One KV-X10 cycle: a command goes out to the controller (the caller counts it
// on the simulator's side); with `report`, traffic from the power line fires.
bool x10Cycle(ChildProcess* sim, bool report) {
    LoadedPlugin p(kX10);
    if (!p.loaded() || !attach(p, kX10)) return false;
    p.build();
    uint32_t unit = p.child(p.child(p.child(p.root(), "X10"), "House Code: C"), "Unit Code: 7");
    uint32_t off = p.child(unit, "Power Off");
    if (off == 0) return false;
    p.call(2, 2, off, {LoadedPlugin::kHostTarget, 0, 289, 0});
    bool fired = true;
    if (report && sim != nullptr) {
        sim->write("report C7 C-ON\n");
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (host.fired == 0 && std::chrono::steady_clock::now() < deadline)
            plat::pumpMessages(20);
        fired = host.fired == 1;
    }
    return p.detach() == 1 && fired && host.unloads == 1;
}

} // namespace

TEST(Resources, QuillportCyclesLeaveNothingBehind) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    setenv("KVQ_PORT_COM3", pty.slavePath().c_str(), 1);
    makeRoomForWindowClasses();
    expectNothingLeftBy(quillportCycle, kQuillportCycles);
}

TEST(Resources, X10CyclesLeaveNothingBehind) {
    Simulator sim({}, {}, 100);
    ASSERT_TRUE(sim.ok());
    setenv("KVQ_PORT_COM1", sim.device.c_str(), 1);
    makeRoomForWindowClasses();
    int cycles = 0;
    expectNothingLeftBy([&] { return x10Cycle(sim.child.get(), cycles++ % 5 == 0); }, kX10Cycles);

    // Every cycle's command reached the power line. (Read only now: the lines
    // the simulator wrote are kept in this process.)
    int commands = 0;
    while (commands < cycles && !sim.child->waitFor("C7 OFF put on the power line", 5000).empty())
        ++commands;
    EXPECT_EQ(commands, cycles);
}

TEST(Resources, WithoutTheirDevicesThePluginsStillReleaseEverything) {
    setenv("KVQ_PORT_COM1", "/dev/kvq-no-such-device", 1);
    setenv("KVQ_PORT_COM3", "/dev/kvq-no-such-device", 1);
    makeRoomForWindowClasses();
    expectNothingLeftBy([] { return quillportCycle() && x10Cycle(nullptr, false); }, 5);
}

// A host that hands the same module instance to every load of the library: a
// window class left registered by the first load would keep the window
// procedure of code that was unloaded, and the next build would call into it
// once the library sits at another address. The platform keeps classes across
// unloads, as Windows does, so each plug-in must take its own away.
TEST(Resources, ReloadWithTheSameModuleInstance) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    setenv("KVQ_PORT_COM3", pty.slavePath().c_str(), 1);
    setenv("KVQ_PORT_COM1", pty.slavePath().c_str(), 1);
    auto instance = reinterpret_cast<plat::Instance>(LoadedPlugin::kInstance);
    for (int i = 0; i < 3; ++i) {
        for (const auto& [library, root, windowClass] :
             {std::make_tuple(kQuillport, "Quillport", "Quillport"),
              std::make_tuple(kX10, "X10", "vTimer")}) {
            {
                LoadedPlugin p(library);
                ASSERT_TRUE(p.loaded()) << p.error();
                p.attach(); // always LoadedPlugin::kInstance
                p.build();
                EXPECT_NE(p.child(p.root(), root), 0u);
                EXPECT_TRUE(plat::classRegistered(instance, windowClass));
                EXPECT_EQ(p.detach(), 1u);
            }
            EXPECT_FALSE(plat::classRegistered(instance, windowClass))
                << windowClass << " outlived " << library;
        }
    }
}
