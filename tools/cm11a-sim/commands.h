// The simulator's command language, one command per line, from standard input
// or the control file: power-line reports, clock requests and the faults that
// a test injects. Parsing turns a line into calls on the Controller and on the
// Port (the device itself).
#pragma once

#include "controller.h"
#include "port.h"

#include <string>

namespace cm11a {

enum class CommandResult {
    Done, // carried out, or an empty line or comment
    Quit, // the simulator should exit
    Error // not carried out; the message says why
};

// now: the monotonic time (ms) at which the command is carried out.
CommandResult runCommand(const std::string& line, Controller& controller, Port& port, EventLog& log,
                         long long now, std::string& error);

// The command summary printed by --help and by the help command.
const char* commandHelp();

} // namespace cm11a
