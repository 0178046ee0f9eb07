// The kvq-host command line: its arguments and help texts (cli.cpp), and
// runTool, which runs the verb they name (tool.cpp; the verbs are in verbs/).
// Kept out of main() so the tests can run the tool in-process.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kvqhost {

struct Options {
    // "tree", "invoke", "command", "watch", "cycles", "ports", "probe"; empty for the tool
    std::string subcommand;
    std::string library;
    std::string path;                 // invoke, command
    std::vector<std::string> names;   // path split into names
    uint64_t code = 289;              // command code (invoke: always 289)
    std::optional<uint32_t> w1;       // command: first word; default the host target H
    double seconds = 10;              // watch; cycles: per cycle (default 0.5)
    uint32_t count = 20;              // cycles
    std::vector<std::string> classes; // cycles: window classes that must be gone after unload
    std::vector<std::string> invokes;
    std::vector<std::vector<std::string>> invokeNames;
    bool json = false;
    bool verbose = false;
    bool progress = false;
    bool untilEof = false;     // watch: end when standard input reaches its end
    bool commands = false;     // watch: carry out commands read from standard input
    double resourcesEvery = 0; // watch: seconds between two resource readings; 0 for none
    bool destroyFired = false; // watch: destroy each node that fires, in its call-out
    // watch: window classes registered under the library's module handle before attach
    std::vector<std::string> foreignClasses;
    bool noBuild = false;
    std::vector<std::string> ports; // probe: the ports given; none for every port
    bool lines = false;             // probe: also read the four modem lines
    uint32_t waitMs = 1000;         // probe: how long to wait for the answer
};

enum class Parsed { Run, Help, Error };

// `args` without the program name. On Error, `error` is one line.
Parsed parseArguments(const std::vector<std::string>& args, Options& options, std::string& error);
// Help for one subcommand, or for the tool when `subcommand` is empty.
std::string helpText(const std::string& subcommand);

// Numbers as users write them: decimal or 0x hexadecimal, no sign, at most `max`.
bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value);
// A command code: like parseUnsigned up to 2^64-1, or a negative decimal
// (stored as its 64-bit two's complement).
bool parseCode(const std::string& text, uint64_t& value);
// Seconds: a non-negative decimal number, at most one million.
bool parseSeconds(const std::string& text, double& value);

// Runs the tool; returns the exit code (0 done, 1 the library or a path could
// not be used, 2 bad arguments, 3 cycles left something behind; probe: 0 a
// controller answered, 1 none did). Results go to `out`, errors to
// `err`, one line each.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace kvqhost
