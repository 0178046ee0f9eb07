// kvq-host as a whole: the arguments parsed, then the verb they name run.
#include "cli.h"
#include "verbs/verbs.h"

#include <cstring>

namespace kvqhost {
namespace {

struct Verb {
    const char* name;
    VerbRun run;
};

// Every verb, by the name it is given on the command line.
const Verb kVerbs[] = {
    {"tree", runTree},     {"invoke", runCommand}, {"command", runCommand}, {"watch", runWatch},
    {"cycles", runCycles}, {"ports", runPorts},    {"probe", runProbe},
};

} // namespace

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    std::string error;
    switch (parseArguments(args, o, error)) {
    case Parsed::Help:
        out << helpText(o.subcommand);
        return 0;
    case Parsed::Error:
        err << "kvq-host: " << error << '\n';
        return 2;
    case Parsed::Run:
        break;
    }
    for (const Verb& v : kVerbs)
        if (o.subcommand == v.name) return v.run(o, out, err);
    err << "kvq-host: no verb runs \"" << o.subcommand << "\"\n";
    return 2;
}

} // namespace kvqhost
