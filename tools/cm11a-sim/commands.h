// The simulator's command language, one command per line, from standard input
// or the control file: power-line reports, clock requests and the faults that
// a test injects. Parsing turns a line into calls on the Controller.
#pragma once

#include "controller.h"

#include <string>

namespace cm11a {

enum class CommandResult {
    Done,   // carried out, or an empty line or comment
    Quit,   // the simulator should exit
    HangUp, // the caller should close the line, then call Controller::hangUp
    Error   // not carried out; the message says why
};

CommandResult runCommand(const std::string& line, Controller& controller, EventLog& log,
                         std::string& error);

// The command summary printed by --help and by the help command.
const char* commandHelp();

} // namespace cm11a
