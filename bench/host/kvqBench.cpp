// kvqBench: the figures of docs/performance.md that need a whole plug-in at
// work, measured through the real library boundary with the kvq-host library.
// (Entry calls and build time are micro-benchmarks: bench/micro, kvqMicro.)
//
//   kvqBench build              the heap of the built KV-X10 tree
//   kvqBench quillport N        line change to 321 at the host (p50, p99)
//   kvqBench quillport-cpu      the poll loop's CPU
//   kvqBench x10-event N        cm11a-sim's poll to 321 at the host (p50, p99)
//
// Each prints lines "name<TAB>value<TAB>unit". Quillport needs the modem-line
// fixture preloaded (scripts/bench does that).
#include "entry/entryCodes.h"
#include "fixtures/modemlines/modemLines.h"
#include "lib/plugin.h"
#include "platform/host.h"
#include "tools/childProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kvqhost;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kBin = KVQ_BIN_DIR;

double micros(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() / 1000.0;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void print(const char* name, double value, const char* unit) {
    std::printf("%s\t%.3f\t%s\n", name, value, unit);
    std::fflush(stdout);
}

// PREFIX.p50 and PREFIX.p99 of latencies in ms, and how many samples there were.
void printLatencies(const std::string& prefix, const std::vector<double>& latencies) {
    print((prefix + ".p50").c_str(), percentile(latencies, 0.5), "ms");
    print((prefix + ".p99").c_str(), percentile(latencies, 0.99), "ms");
    print((prefix + ".samples").c_str(), static_cast<double>(latencies.size()), "");
}

std::unique_ptr<Plugin> load(const std::string& file) {
    std::string error;
    auto plugin = Plugin::load(kBin + "/" + file, error);
    if (!plugin) {
        std::fprintf(stderr, "kvqBench: %s\n", error.c_str());
        std::exit(1);
    }
    plugin->attach();
    return plugin;
}

// Runs the message loop until the plug-in has fired an event (321) at the host.
bool pumpUntilFired(Plugin& plugin, uint32_t ms) {
    return Plugin::pumpUntil(
        [&] {
            for (const Call& c : plugin.calls())
                if (c.is(kCategoryNode, kNodeCommand) && c.arg64(2) == kCodeFired) return true;
            return false;
        },
        ms);
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A host that answers (1,207) and (1,11) at once and keeps nothing.
extern "C" void fastHost(EntryMessage* m) {
    if (m->category == kCategoryPlugin &&
        (m->operation == kRequestHostTarget || m->operation == kRequestHostSource)) {
        uint32_t word = 0x1000;
        std::memcpy(m->result, &word, 4);
    }
}

EntryMessage record(uint16_t category, int32_t operation, uint32_t object = 0) {
    EntryMessage m{};
    m.category = category;
    m.operation = operation;
    m.object = object;
    return m;
}

// The growth of the allocator's in-use bytes across KV-X10's build, with a
// host that answers at once and keeps nothing.
int build() {
    setenv("KVQ_PORT_COM1", "/dev/kvq-no-controller", 1); // build without a device
    const std::string path = kBin + "/KV-X10.so";
    char error[256] = {};
    void* library = plat::loadLibrary(path.c_str(), error, sizeof error);
    auto* entry = library
                      ? reinterpret_cast<EntryFunction*>(plat::findSymbol(library, "V_KVQ_ENTRY"))
                      : nullptr;
    if (entry == nullptr) {
        std::fprintf(stderr, "kvqBench: %s\n", error);
        return 1;
    }
    EntryMessage attach = record(1, 1, toHandle(&fastHost));
    entry(&attach);
    EntryMessage buildIt = record(1, 10);
    size_t before = mallinfo2().uordblks;
    entry(&buildIt);
    double bytes = static_cast<double>(mallinfo2().uordblks - before);
    EntryMessage detach = record(1, 2);
    entry(&detach);
    plat::freeLibrary(library);
    print("x10.tree.heap", bytes / 1024.0, "KiB");
    return 0;
}

// The poll loop's CPU with the plug-in alone: COM3 is a pseudo-terminal whose
// modem-status read fails, one system call per pass as with a real port (the
// modem-line fixture, which reads a file on every call, is not loaded here).
int quillportCpu() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master)) return 1;
    setenv("KVQ_PORT_COM3", ptsname(master), 1);
    auto plugin = load("Quillport.so");
    plugin->build();
    Plugin::pump(200);
    double cpu0 = cpuSeconds();
    auto wall0 = Clock::now();
    Plugin::pump(5000);
    double cpu = cpuSeconds() - cpu0;
    double wall = micros(Clock::now() - wall0) / 1e6;
    print("quillport.pollLoop.cpu", 100.0 * cpu / wall, "% of one core");
    plugin->detach();
    close(master);
    return 0;
}

int quillport(int n) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master)) return 1;
    setenv("KVQ_PORT_COM3", ptsname(master), 1);
    ModemLines::reset();
    auto plugin = load("Quillport.so");
    plugin->build();
    Plugin::pump(200);

    // Each sample: CTS goes active, timed until the button's 321 reaches the
    // host; then it goes inactive again, untimed.
    std::vector<double> latencies;
    for (int i = 0; i < n; ++i) {
        plugin->clearCalls();
        auto begin = Clock::now();
        ModemLines::set(true, false, false, false);
        bool seen = pumpUntilFired(*plugin, 2000);
        if (seen) latencies.push_back(micros(Clock::now() - begin) / 1000.0);
        ModemLines::set(false, false, false, false);
        Plugin::pump(10);
    }
    printLatencies("quillport.latency", latencies);
    plugin->detach();
    ModemLines::remove();
    close(master);
    return 0;
}

int x10Event(int n) {
    ChildProcess sim({kBin + "/cm11a-sim", "--instant", "--poll-interval", "1000"});
    std::string line = sim.waitFor("device ", 10000);
    if (line.empty()) return 1;
    setenv("KVQ_PORT_COM1", line.substr(7).c_str(), 1);
    auto plugin = load("KV-X10.so");
    plugin->build();
    Plugin::pump(200);
    std::vector<double> latencies;
    for (int i = 0; i < n; ++i) {
        plugin->clearCalls();
        // The simulator sends its first 0x5A as soon as it reads the report.
        auto begin = Clock::now();
        sim.write(i % 2 ? "report A1 A-ON\n" : "report B2 B-OFF\n");
        bool seen = pumpUntilFired(*plugin, 5000);
        if (seen) latencies.push_back(micros(Clock::now() - begin) / 1000.0);
        Plugin::pump(20);
    }
    printLatencies("x10.event", latencies);
    plugin->detach();
    sim.write("quit\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    int n = argc > 2 ? std::atoi(argv[2]) : 200;
    if (what == "build") return build();
    if (what == "quillport") return quillport(n);
    if (what == "quillport-cpu") return quillportCpu();
    if (what == "x10-event") return x10Event(n);
    std::fprintf(stderr, "usage: kvqBench build | quillport N | quillport-cpu | x10-event N\n");
    return 2;
}
