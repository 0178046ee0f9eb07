// kvq-host invoke and command: one command to one node, with what the plug-in
// reported during it and the command's result.
#include "verbs.h"

#include "../nodePath.h"
#include "../session.h"
#include "entry/entryCodes.h"

namespace kvqhost {
namespace {

std::vector<kvqtools::Option> noOptions(CommandOptions&) {
    return {};
}

// LIB PATH, and for command CODE [W1].
bool takeOperands(const std::vector<std::string>& words, CommandOptions& o, std::string& error) {
    if (!takeLibrary(words[0], o, error)) return false;
    o.path = words[1];
    if (!parsePath(o.path, o.names, error)) return false;
    if (words.size() < 3) return true;
    if (!parseCode(words[2], o.code)) {
        error = "CODE must be a 64-bit number (decimal, 0x hexadecimal or negative), not \"" +
                words[2] + "\"";
        return false;
    }
    if (words.size() > 3) {
        uint64_t w1;
        if (!parseUnsigned(words[3], UINT32_MAX, w1)) {
            error =
                "W1 must be a 32-bit number (decimal or 0x hexadecimal), not \"" + words[3] + "\"";
            return false;
        }
        o.w1 = static_cast<uint32_t>(w1);
    }
    return true;
}

// invoke is command 289 (the default code) with the host target in W1.
int runCommand(const CommandOptions& o, std::ostream& out, std::ostream& err) {
    Session s(o, out, err);
    if (!s.ready()) return 1;
    s.open();
    s.showCalls(Session::Show::Errors);
    Handle node = s.findNode(o.names, o.path);
    if (!node) {
        s.finish(Session::Show::Reports);
        return 1;
    }
    s.timedCommand(node, o.code, o.w1.value_or(s.plugin().hostTarget()));
    s.finish(Session::Show::Reports);
    return 0;
}

} // namespace

const Verb& invokeVerb() {
    static const VerbOf<CommandOptions> verb(
        {"invoke", "LIB PATH", "invoke the function node at PATH (command 289)",
         "Attaches, builds, sends command 289 (invoke: A2 = 289, A3 = 0, A0 = the host target\n"
         "handle) to the node at PATH, prints what the plug-in reported during the command and\n"
         "the command's result, then detaches and prints the unload notice.\n",
         "The result line: [t] result VALUE of command CODE on PATH (N ms) (JSON \"event\":\n"
         "\"result\" with \"code\", \"node\", \"path\", \"value\" and \"ms\", the time the "
         "command\n"
         "held the host's thread).\n",
         true},
        noOptions, takeOperands, runCommand);
    return verb;
}

const Verb& commandVerb() {
    static const VerbOf<CommandOptions> verb(
        {"command", "LIB PATH CODE [W1]", "send any command code to the node at PATH",
         "Like invoke, with any 64-bit command code CODE (decimal, 0x hexadecimal or negative)\n"
         "in A2-A3, for example 288 on an X10 unit node for its short-name report, or 1 on a\n"
         "button. W1 (A0) defaults to the host target handle H, which the host answers to\n"
         "(1,207).\n",
         "", true},
        noOptions, takeOperands, runCommand);
    return verb;
}

} // namespace kvqhost
