// The commands of `watch --commands`: one per line of standard input, carried
// out on the host's thread between two turns of the message loop.
//
//   invoke PATH              command 289 to the node at PATH (W1 = the host target)
//   command PATH CODE [W1]   any command code, as the subcommand of that name
//   resources                a resources line now
//   loop                     a loop line now: the longest hold since the last one
//   sleep MS                 the next line waits MS milliseconds; the loop runs on
//   end                      the watch ends, as at the end of its time
//
// Words are separated by spaces or tabs. A PATH in double quotes may hold
// spaces; `invoke` also takes the rest of the line as its PATH without them.
// Empty lines and lines starting with '#' are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvqhost {

struct WatchCommand {
    enum class Kind { Skip, Invoke, Command, Resources, Loop, Sleep, End };
    Kind kind = Kind::Skip;
    std::string path;               // invoke, command
    std::vector<std::string> names; // path split into names
    uint64_t code = 289;            // command (invoke: always 289)
    std::optional<uint32_t> w1;     // command: first word; default the host target
    uint32_t ms = 0;                // sleep
};

// Parses one line; false with a one-line `error` for an unknown command or bad
// arguments.
bool parseWatchCommand(const std::string& line, WatchCommand& command, std::string& error);

} // namespace kvqhost
