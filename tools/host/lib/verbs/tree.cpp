// kvq-host tree: attach, build (or not), print the tree, detach.
#include "verbs.h"

#include "../report.h"
#include "../session.h"

namespace kvqhost {
namespace {

std::vector<kvqtools::Option> treeOptions(TreeOptions& o) {
    return {kvqtools::switchOption("--no-build", o.build, false,
                                   "print the tree as it is right after attach, without build")};
}

bool takeOperands(const std::vector<std::string>& words, TreeOptions& o, std::string& error) {
    return takeLibrary(words[0], o, error);
}

int runTree(const TreeOptions& o, std::ostream& out, std::ostream& err) {
    Session s(o, out, err);
    if (!s.ready()) return 1;
    s.open();
    s.showCalls(Session::Show::Errors);
    for (const TreeEntry& e : s.plugin().walk(s.root()))
        s.line(treeLines(e, o.json));
    s.finish(Session::Show::Errors);
    return 0;
}

} // namespace

const Verb& treeVerb() {
    static const VerbOf<TreeOptions> verb(
        {"tree", "LIB", "attach, build and print the plug-in's tree",
         "Attaches, builds and prints the tree below the root, indented by depth: each node\n"
         "with its name, [type], category, label, value with its kind and the names of its set\n"
         "flags, then one line per attribute: @name = value (kind) and its flags. Then detaches.\n",
         "JSON: one object per node, \"event\":\"node\", with \"path\", \"names\", \"depth\",\n"
         "\"handle\", \"name\", \"type\", \"category\", \"label\", \"value\" (text or null),\n"
         "\"valueKind\", \"flags\" (number), \"flagNames\", \"tag\" and \"attributes\": a list "
         "of\n"
         "objects with \"name\", \"kind\", \"value\", \"header\", \"flagNames\", \"tag\", "
         "\"handle\".\n"
         "Error reports of the plug-in are printed too.\n",
         false},
        treeOptions, takeOperands, runTree);
    return verb;
}

} // namespace kvqhost
