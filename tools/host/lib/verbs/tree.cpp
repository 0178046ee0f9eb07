// kvq-host tree: attach, build (or not), print the tree, detach.
#include "verbs.h"

#include "../report.h"
#include "../session.h"

namespace kvqhost {

int runTree(const Options& o, std::ostream& out, std::ostream& err) {
    Session s(o, out, err);
    if (!s.ready()) return 1;
    s.open();
    s.showCalls(Session::Show::Errors);
    for (const TreeEntry& e : s.plugin().walk(s.root()))
        s.line(treeLines(e, o.json));
    s.finish(Session::Show::Errors);
    return 0;
}

} // namespace kvqhost
