// The verbs (subcommands) of kvq-host, one file each in this folder (invoke
// and command share one). Each file declares its Verb: its name, operands and
// help, the table of its options into its own options struct below, and its
// run function. To add one: its options here, its file, and a line in
// allVerbs() (tool.cpp); the parser, the help and the errors follow from those.
#pragma once

#include "../cli.h"
#include "../session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvqhost {

using TreeOptions = SessionOptions; // --no-build clears `build`

struct CommandOptions : SessionOptions {
    std::string path;
    std::vector<std::string> names; // path split into names
    uint64_t code = 289;            // invoke: always 289
    std::optional<uint32_t> w1;     // default the host target H
};

// watch and cycles: the message loop run, after invoking some nodes.
struct LoopOptions : SessionOptions {
    explicit LoopOptions(double defaultSeconds) : seconds(defaultSeconds) {}
    double seconds;
    std::vector<std::string> invokes;
    std::vector<std::vector<std::string>> invokeNames;
};

struct WatchOptions : LoopOptions {
    WatchOptions() : LoopOptions(10) {}
    bool progress = false;
    bool untilEof = false;     // end when standard input reaches its end
    bool commands = false;     // carry out commands read from standard input
    double resourcesEvery = 0; // seconds between two resource readings; 0 for none
};

struct CyclesOptions : LoopOptions {
    CyclesOptions() : LoopOptions(0.5) {}
    uint32_t count = 20;
    std::vector<std::string> classes; // window classes that must be gone after unload
};

using PortsOptions = VerbOptions;

struct ProbeOptions : VerbOptions {
    std::vector<std::string> ports; // none for every port
    bool lines = false;             // also read the four modem lines
    uint32_t waitMs = 1000;         // how long to wait for the answer
};

const Verb& treeVerb();    // tree.cpp
const Verb& invokeVerb();  // command.cpp
const Verb& commandVerb(); // command.cpp
const Verb& watchVerb();   // watch.cpp
const Verb& cyclesVerb();  // cycles.cpp
const Verb& portsVerb();   // ports.cpp
const Verb& probeVerb();   // probe.cpp

// What the verbs share (shared.cpp): the library operand; --seconds and
// --invoke of watch and cycles, and the paths of --invoke read once the library is.
bool takeLibrary(const std::string& word, SessionOptions& options, std::string& error);
std::vector<kvqtools::Option> loopOptions(LoopOptions& options, const char* secondsName,
                                          const char* secondsHelp, const char* invokeHelp);
bool takeLoopOperands(const std::vector<std::string>& words, LoopOptions& options,
                      std::string& error);
// "FLAG needs a number of UNIT from LO to HI" for a whole number from lo to hi.
kvqtools::Option countOption(const char* flag, const char* valueName, uint32_t& field, uint32_t lo,
                             uint32_t hi, const char* unit, const char* help);
// The same for seconds from `least` to one million.
kvqtools::Option secondsOption(const char* flag, const char* valueName, double& field, double least,
                               const char* leastText, const char* help);

} // namespace kvqhost
