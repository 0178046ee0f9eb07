// Benchmarks on KV-X10's own code, linked into this program (its own copy of
// the framework and plug-in object, attached to the counting host entry):
//   - findEvent of the built plug-in: hits for On and Off over all 256 codes,
//     and a miss (a function other than On or Off);
//   - decodeBuffer of the X10 port on a typical and on a full upload, with an
//     event source whose lookup only counts, so the figure is the decoder's;
//   - build and, apart, its 512 announcements (322 to the host), so that the
//     rest of build is their difference.
#include "microBench.h"

#include "descriptors/vButtonNode.h"
#include "entry/hostRequests.h"
#include "entry/library.h"
#include "plugin/vX10Plugin.h"
#include "protocol/vX10Port.h"
#include "protocol/x10Codes.h"
#include "protocol/x10Events.h"

#include <cstring>
#include <vector>

extern "C" void V_KVQ_ENTRY(EntryMessage* message); // this program's copy of KV-X10

namespace micro {
namespace {

// What attach hands over as the module instance: window classes of this copy
// of the framework are registered under it, apart from those of KV-X10.so.
char moduleTag;

vX10Plugin* attachedPlugin(benchmark::State& state) {
    static bool attached = false;
    if (!attached) {
        EntryMessage m = record(1, 1, toHandle(&countingHostEntry));
        m.a[2] = toHandle(&moduleTag);
        V_KVQ_ENTRY(&m);
        attached = resultWord(m) == 1;
    }
    auto* plugin = dynamic_cast<vX10Plugin*>(pluginInstance);
    if (!attached || plugin == nullptr) {
        fail(state, "the linked KV-X10 plug-in object does not attach");
        return nullptr;
    }
    return plugin;
}

vX10Plugin* builtPlugin(benchmark::State& state) {
    vX10Plugin* plugin = attachedPlugin(state);
    if (plugin != nullptr && plugin->events() == nullptr) {
        EntryMessage build = record(1, 10);
        V_KVQ_ENTRY(&build);
        if (plugin->events() == nullptr) {
            fail(state, "build made no event tree");
            return nullptr;
        }
    }
    return plugin;
}

// ---------------------------------------------------------------- findEvent

// The event that findEvent must give for `code` and `kind`: named after the
// kind, under the unit and house nodes whose "code" make up `code`.
bool isEventOf(vAssignmentButton* event, uint8_t code, int kind) {
    if (event == nullptr) return false;
    const char* want = kind == kX10EventOn ? "Powered On" : "Powered Off";
    vNode* unit = event->getParent();
    vNode* house = unit != nullptr ? unit->getParent() : nullptr;
    return std::strcmp(event->getName(), want) == 0 && house != nullptr &&
           unit->attributeInt("code") == (code & 0x0F) &&
           house->attributeInt("code") == (code & 0xF0);
}

void BM_X10FindEvent(benchmark::State& state, int kind) {
    vX10Plugin* plugin = builtPlugin(state);
    if (plugin == nullptr) return;
    for (int code = 0; code < 256; ++code) {
        vAssignmentButton* event =
            plugin->eventSource().findEvent(static_cast<uint8_t>(code), kind);
        bool right = kind == kX10EventNone ? event == nullptr
                                           : isEventOf(event, static_cast<uint8_t>(code), kind);
        if (!right)
            return fail(state, "findEvent gives a wrong node for code " + std::to_string(code));
    }
    uint32_t code = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            plugin->eventSource().findEvent(static_cast<uint8_t>(code++), kind));
}
// Each iteration looks up the next code byte, so a figure is the mean over all 256.
BENCHMARK_CAPTURE(BM_X10FindEvent, on, kX10EventOn);
BENCHMARK_CAPTURE(BM_X10FindEvent, off, kX10EventOff);
BENCHMARK_CAPTURE(BM_X10FindEvent, miss, kX10EventNone);

// ---------------------------------------------------------------- decodeBuffer

// An event source that only counts: the decoder's own cost is what remains.
class CountingSource : public vX10EventSource {
public:
    vAssignmentButton* findEvent(uint8_t code, int kind) override {
        if (lookups < 8) asked[lookups] = {code, kind};
        ++lookups;
        return nullptr;
    }
    struct Lookup {
        uint8_t code;
        int kind;
    };
    uint64_t lookups = 0;
    Lookup asked[8] = {};
};

uint8_t codeOf(int house, int unit) {
    return static_cast<uint8_t>(houseCodes[house] | unitCodes[unit]);
}

// Decodes `upload` as often as the benchmark asks. Before timing, one decode
// must ask for exactly `expected`, in that order.
void decode(benchmark::State& state, const std::vector<uint8_t>& upload,
            const std::vector<CountingSource::Lookup>& expected) {
    if (attachedPlugin(state) == nullptr) return;
    CountingSource source;
    vX10Port port(source); // not opened: decodeBuffer needs no device
    std::vector<uint8_t> buffer(vX10Port::kUploadBufferSize, 0);
    std::memcpy(buffer.data(), upload.data(), upload.size());
    const uint32_t count = static_cast<uint32_t>(upload.size());

    port.decodeBuffer(buffer.data(), count);
    bool right = source.lookups == expected.size();
    for (size_t i = 0; right && i < expected.size() && i < 8; ++i)
        right =
            source.asked[i].code == expected[i].code && source.asked[i].kind == expected[i].kind;
    if (!right) return fail(state, "decodeBuffer asks for other events than the upload holds");

    source.lookups = 0;
    for (auto _ : state) {
        port.decodeBuffer(buffer.data(), count);
        benchmark::ClobberMemory();
    }
    state.counters["lookups"] =
        benchmark::Counter(static_cast<double>(source.lookups), benchmark::Counter::kAvgIterations);
}

// Size 4: mask 0x04, A1, A2, A On. The two addresses, nearest first.
void BM_X10DecodeTypical(benchmark::State& state) {
    decode(state, {0x04, codeOf(0, 0), codeOf(0, 1), 0x62},
           {{codeOf(0, 1), kX10EventOn}, {codeOf(0, 0), kX10EventOn}});
}
BENCHMARK(BM_X10DecodeTypical);

// Size 255, the most a size byte can announce: mask 0x80, seven A addresses,
// A On (the function furthest from the start that the mask can mark), then
// 246 more A addresses with no function after them.
void BM_X10DecodeFull(benchmark::State& state) {
    std::vector<uint8_t> upload{0x80};
    for (int unit = 0; unit < 7; ++unit)
        upload.push_back(codeOf(0, unit));
    upload.push_back(0x62);
    while (upload.size() < 255)
        upload.push_back(codeOf(0, static_cast<int>(upload.size()) % 16));
    std::vector<CountingSource::Lookup> expected;
    for (int unit = 6; unit >= 0; --unit)
        expected.push_back({codeOf(0, unit), kX10EventOn});
    decode(state, upload, expected);
}
BENCHMARK(BM_X10DecodeFull);

// ---------------------------------------------------------------- build

// The plug-in's build (1,10), the host answering at once; the tree is torn
// down between iterations, untimed.
void BM_X10BuildInProcess(benchmark::State& state) {
    vX10Plugin* plugin = attachedPlugin(state);
    if (plugin == nullptr) return;
    EntryMessage build = record(1, 10);
    for (auto _ : state) {
        state.PauseTiming();
        plugin->teardown();
        hostCounts = {};
        state.ResumeTiming();

        V_KVQ_ENTRY(&build);

        state.PauseTiming();
        bool right = hostCounts.announcements == 512;
        state.ResumeTiming();
        if (!right) return fail(state, "build did not announce 512 events");
    }
}
BENCHMARK(BM_X10BuildInProcess)->Unit(benchmark::kMillisecond)->Iterations(10);

// The 512 announcements alone: each event node of the built tree sends what
// its construction sends, 322 through the three host requests. One iteration
// is all 512.
void BM_X10Announcements(benchmark::State& state) {
    vX10Plugin* plugin = builtPlugin(state);
    if (plugin == nullptr) return;
    std::vector<vNode*> events;
    for (vNode* house = plugin->events()->firstChild(); house != nullptr;
         house = plugin->events()->nextChild(house))
        for (vNode* unit = house->firstChild(); unit != nullptr; unit = house->nextChild(unit))
            for (vNode* event = unit->firstChild(); event != nullptr;
                 event = unit->nextChild(event))
                if (dynamic_cast<vAssignmentButton*>(event) != nullptr) events.push_back(event);
    if (events.size() != 512) return fail(state, "the built tree has not 512 events");
    hostCounts = {};
    for (auto _ : state)
        for (vNode* event : events)
            notifyHost(kCodeAnnounce, event);
    const uint64_t n = static_cast<uint64_t>(state.iterations());
    if (hostCounts.announcements != 512 * n || hostCounts.calls != 3 * 512 * n)
        fail(state, "an announcement is not three host calls ending in 322");
}
BENCHMARK(BM_X10Announcements)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace micro
