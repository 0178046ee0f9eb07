// Benchmarks through the real library boundary: the kvq-host library loads
// KV-X10.so and the figures are of calls into its V_KVQ_ENTRY.
//   - one cheap operation of each category the entry answers (1, 2, 3, 4, 7);
//   - KV-X10 build, the host entry answering at once.
#include "lib/plugin.h"
#include "microBench.h"
#include "platform/host.h"

#include "entry/vExtension.h"

#include <cstring>
#include <memory>

using namespace kvqhost;

namespace micro {
namespace {

std::unique_ptr<Plugin> shared;

// KV-X10, loaded, attached and built once for the entry benchmarks.
Plugin* sharedX10(benchmark::State& state) {
    if (!shared) {
        std::string error;
        shared = Plugin::load(kBinDir + "/KV-X10.so", error);
        if (!shared || !shared->attach()) {
            shared.reset();
            fail(state, "cannot load KV-X10.so: " + error);
            return nullptr;
        }
        shared->build();
    }
    return shared.get();
}

// The result bytes 96-103 are zero, whatever the caller left in them.
bool clearedResult(Plugin& plugin, EntryMessage m) {
    std::memset(m.result, 0xAB, sizeof m.result);
    m = plugin.send(m);
    for (int i = 0; i < 8; ++i)
        if (m.result[i] != 0) return false;
    return m.result[8] == 0xAB;
}

// Calls the entry with `m` as often as the benchmark asks.
void callEntry(benchmark::State& state, Plugin& plugin, EntryMessage& m) {
    EntryFunction* entry = plugin.entry();
    for (auto _ : state) {
        entry(&m);
        benchmark::ClobberMemory();
    }
}

void BM_EntryCategory1RecordSize(benchmark::State& state) {
    Plugin* x10 = sharedX10(state);
    if (x10 == nullptr) return;
    EntryMessage m = record(1, 30);
    callEntry(state, *x10, m);
    if (resultWord(m) != sizeof(EntryMessage)) fail(state, "(1,30) does not answer 112");
}
BENCHMARK(BM_EntryCategory1RecordSize);

void BM_EntryCategory2GetName(benchmark::State& state) {
    Plugin* x10 = sharedX10(state);
    if (x10 == nullptr) return;
    EntryMessage m = record(2, 3, x10->root());
    callEntry(state, *x10, m);
    const char* name = fromHandle<const char>(resultWord(m));
    if (name == nullptr || std::strcmp(name, "KV-X10") != 0)
        fail(state, "(2,3) on the root does not give \"KV-X10\"");
}
BENCHMARK(BM_EntryCategory2GetName);

// An operation outside 1..20 on an observer: refused with a cleared result.
void BM_EntryCategory3Unknown(benchmark::State& state) {
    Plugin* x10 = sharedX10(state);
    if (x10 == nullptr) return;
    EntryMessage m = record(3, 21, x10->root());
    if (!clearedResult(*x10, m)) return fail(state, "(3,21) does not clear the result");
    callEntry(state, *x10, m);
}
BENCHMARK(BM_EntryCategory3Unknown);

// What a host does to follow a node: create a proxy on it (3,-1), later
// destroy it (3,1). One iteration is the pair.
void BM_EntryCategory3ProxyPair(benchmark::State& state) {
    Plugin* x10 = sharedX10(state);
    if (x10 == nullptr) return;
    EntryFunction* entry = x10->entry();
    EntryMessage create = record(3, -1, x10->root());
    create.a[0] = 0x7000; // the host observer, never called: the root does not change
    EntryMessage destroy = record(3, 1);
    for (auto _ : state) {
        entry(&create);
        destroy.object = resultWord(create);
        if (destroy.object == 0) return fail(state, "(3,-1) gives no proxy");
        entry(&destroy);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EntryCategory3ProxyPair);

void BM_EntryCategory4AsText(benchmark::State& state) {
    Plugin* x10 = sharedX10(state);
    if (x10 == nullptr) return;
    Handle id = x10->findAttribute(x10->root(), "id");
    std::optional<std::string> expected = id != 0 ? x10->valueAsText(id) : std::nullopt;
    if (!expected) return fail(state, "the root has no \"id\" with a text form");
    EntryMessage m = record(4, 7, id);
    callEntry(state, *x10, m);
    const char* text = fromHandle<const char>(resultWord(m));
    if (text == nullptr || *expected != text) fail(state, "(4,7) on \"id\" gives another text");
}
BENCHMARK(BM_EntryCategory4AsText);

// A host-side extension object: the entry forwards operation 3 to its first
// operation across the boundary.
class CountingExtension : public vExtension {
public:
    void first(uint32_t a0, uint32_t a2, uint32_t a4) override {
        ++calls;
        sum += a0 + a2 + a4;
    }
    uint64_t calls = 0;
    uint64_t sum = 0;
};

void BM_EntryCategory7Forward(benchmark::State& state) {
    Plugin* x10 = sharedX10(state);
    if (x10 == nullptr) return;
    CountingExtension extension;
    EntryMessage m = record(7, 3, toHandle(&extension));
    m.a[0] = 1;
    m.a[2] = 2;
    m.a[4] = 4;
    if (!clearedResult(*x10, m)) return fail(state, "(7,3) does not clear the result");
    extension.calls = extension.sum = 0;
    callEntry(state, *x10, m);
    uint64_t n = static_cast<uint64_t>(state.iterations());
    if (extension.calls != n || extension.sum != 7 * n)
        fail(state, "(7,3) did not reach the extension once per call with A0, A2, A4");
}
BENCHMARK(BM_EntryCategory7Forward);

// KV-X10 build (1,10) through the boundary; each iteration loads the library
// afresh (a plug-in builds once), untimed, as are attach, detach and unload.
void BM_X10BuildThroughBoundary(benchmark::State& state) {
    releaseSharedPlugin(); // the same file loaded twice would be one plug-in
    const std::string path = kBinDir + "/KV-X10.so";
    for (auto _ : state) {
        state.PauseTiming();
        char error[256] = {};
        void* library = plat::loadLibrary(path.c_str(), error, sizeof error);
        auto* entry =
            library ? reinterpret_cast<EntryFunction*>(plat::findSymbol(library, "V_KVQ_ENTRY"))
                    : nullptr;
        if (entry == nullptr) {
            if (library) plat::freeLibrary(library);
            return fail(state, std::string("cannot load KV-X10.so: ") + error);
        }
        EntryMessage attach = record(1, 1, toHandle(&countingHostEntry));
        attach.a[2] = toHandle(library);
        entry(&attach);
        EntryMessage build = record(1, 10);
        hostCounts = {};
        state.ResumeTiming();

        entry(&build);

        state.PauseTiming();
        uint32_t announcements = hostCounts.announcements;
        EntryMessage detach = record(1, 2);
        entry(&detach);
        plat::freeLibrary(library);
        if (announcements != 512) return fail(state, "build did not announce 512 events");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_X10BuildThroughBoundary)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

void releaseSharedPlugin() {
    shared.reset();
}

} // namespace micro
