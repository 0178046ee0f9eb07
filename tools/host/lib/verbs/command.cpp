// kvq-host invoke and command: one command to one node, with what the plug-in
// reported during it and the command's result.
#include "verbs.h"

#include "../session.h"
#include "entry/entryCodes.h"

namespace kvqhost {

// invoke is command 289 with the host target in W1.
int runCommand(const Options& o, std::ostream& out, std::ostream& err) {
    Session s(o, out, err);
    if (!s.ready()) return 1;
    s.open();
    s.showCalls(Session::Show::Errors);
    Handle node = s.findNode(o.names, o.path);
    if (!node) {
        s.finish(Session::Show::Reports);
        return 1;
    }
    uint64_t code = o.subcommand == "invoke" ? kCommandInvoke : o.code;
    s.timedCommand(node, code, o.w1.value_or(s.plugin().hostTarget()));
    s.finish(Session::Show::Reports);
    return 0;
}

} // namespace kvqhost
