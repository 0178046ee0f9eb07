// kvq-host as a whole: the verbs, the arguments parsed, then the verb they name run.
#include "cli.h"
#include "verbs/verbs.h"

namespace kvqhost {

const std::vector<const Verb*>& allVerbs() {
    static const std::vector<const Verb*> verbs = {&treeVerb(),  &invokeVerb(), &commandVerb(),
                                                   &watchVerb(), &cyclesVerb(), &portsVerb(),
                                                   &probeVerb()};
    return verbs;
}

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Invocation invocation;
    std::string error;
    switch (parseArguments(args, invocation, error)) {
    case Parsed::Help:
        out << helpText(invocation.verb);
        return 0;
    case Parsed::Error:
        err << "kvq-host: " << error << '\n';
        return 2;
    case Parsed::Run:
        break;
    }
    return invocation.verb->run(*invocation.options, out, err);
}

} // namespace kvqhost
