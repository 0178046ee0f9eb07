// The verbs (subcommands) of kvq-host, one file each in this folder. A verb
// gets the parsed options and the two output streams, and returns the tool's
// exit code. To add one: its file here with its run function, a line in
// kVerbs (tool.cpp), and its arguments, options and help in cli.cpp.
#pragma once

#include "../cli.h"

#include <ostream>

namespace kvqhost {

using VerbRun = int (*)(const Options& options, std::ostream& out, std::ostream& err);

int runTree(const Options& options, std::ostream& out, std::ostream& err);    // tree.cpp
int runCommand(const Options& options, std::ostream& out, std::ostream& err); // command.cpp
int runWatch(const Options& options, std::ostream& out, std::ostream& err);   // watch.cpp
int runCycles(const Options& options, std::ostream& out, std::ostream& err);  // cycles.cpp
int runPorts(const Options& options, std::ostream& out, std::ostream& err);   // ports.cpp
int runProbe(const Options& options, std::ostream& out, std::ostream& err);   // probe.cpp

} // namespace kvqhost
