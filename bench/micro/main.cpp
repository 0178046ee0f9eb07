// kvqMicro's main, the counting host entry and the failure flag.
#include "microBench.h"

#include <cstdlib>
#include <cstring>

namespace micro {

const std::string kBinDir = KVQ_BIN_DIR;
HostCounts hostCounts;

namespace {
bool failed = false;
}

void fail(benchmark::State& state, const std::string& what) {
    failed = true;
    state.SkipWithError(what.c_str());
}

bool anyFailed() {
    return failed;
}

extern "C" void countingHostEntry(EntryMessage* m) {
    ++hostCounts.calls;
    if (m->category == 1 && (m->operation == 207 || m->operation == 11)) {
        uint32_t word = 0x1000;
        std::memcpy(m->result, &word, 4);
    } else if (m->category == 2 && m->operation == 2 && m->a[3] == 0) {
        if (m->a[2] == 322) ++hostCounts.announcements;
        if (m->a[2] == 321) ++hostCounts.fired;
    }
}

EntryMessage record(uint16_t category, int32_t operation, uint32_t object) {
    EntryMessage m{};
    m.category = category;
    m.operation = operation;
    m.object = object;
    return m;
}

uint32_t resultWord(const EntryMessage& m) {
    uint32_t word = 0;
    std::memcpy(&word, m.result, 4);
    return word;
}

} // namespace micro

int main(int argc, char** argv) {
    // KV-X10 builds without a controller: its port "com1" does not open.
    setenv("KVQ_PORT_COM1", "/dev/kvq-no-controller", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    micro::releaseSharedPlugin();
    return micro::anyFailed() ? 1 : 0;
}
