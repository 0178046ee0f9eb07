// What the micro-benchmarks of kvqMicro share: where the built libraries are,
// a host entry that answers at once and counts what it is told, and the way a
// benchmark reports that the code it measures misbehaved (the program then
// exits with 1, so no figure of broken code reaches the performance table).
#pragma once

#include "entry/EntryMessage.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace micro {

extern const std::string kBinDir;

// Marks the run failed and stops this benchmark with `what` as its error.
void fail(benchmark::State& state, const std::string& what);
bool anyFailed();

// What hostEntry has been sent since the last reset.
struct HostCounts {
    uint32_t calls = 0;
    uint32_t announcements = 0; // node commands (2,2) with code 322
    uint32_t fired = 0;         // node commands (2,2) with code 321
};
extern HostCounts hostCounts;

// A host that answers (1,207) and (1,11) at once, keeps nothing and counts.
extern "C" void countingHostEntry(EntryMessage* message);

EntryMessage record(uint16_t category, int32_t operation, uint32_t object = 0);
uint32_t resultWord(const EntryMessage& m);

// The KV-X10 library that the boundary benchmarks share is unloaded here, so a
// benchmark that loads the library itself gets a fresh plug-in object.
void releaseSharedPlugin();

} // namespace micro
