// The generic parser of kvq-host's command line, and the help, both built from
// the common options below and the tables of the verbs (verbs/).
#include "cli.h"

#include "entry/entryCodes.h"

namespace kvqhost {
namespace {

using kvqtools::either;
using kvqtools::Option;
using kvqtools::words;

constexpr size_t kWidth = 92;        // help lines are shorter than this
constexpr size_t kOptionColumn = 17; // where an option's help starts
constexpr size_t kVerbColumn = 31;   // ... and a verb's summary in the tool's help

const char* const kAbout =
    "Stands in for the host application: loads the plug-in library LIB, speaks to it only\n"
    "through its exported V_KVQ_ENTRY function and the 112-byte entry record, and prints what\n"
    "the plug-in reports.\n";

const char* const kPathHelp =
    "PATH names a node by the names from below the root down to it, joined with '/', for\n"
    "example \"X10/House Code: A/Unit Code: 1/Power On\". Names may hold spaces and colons;\n"
    "write a '/' or '\\' inside a name as \\/ or \\\\.\n";

const char* const kExitHelp =
    "Errors are one line on standard error. Exit status: 0 done; 1 the library could not\n"
    "be used (missing, no V_KVQ_ENTRY, attach refused) or PATH names no node; 2 bad\n"
    "arguments; 3 (cycles) resources were left behind; probe: 0 a controller answered,\n"
    "1 none did.\n";

// The lines for what the plug-in reports; the numbers come from the entry's vocabulary.
std::string eventHelp() {
    const std::string fired = std::to_string(kCodeFired), announce = std::to_string(kCodeAnnounce),
                      answer = std::to_string(kCodeAnswer);
    const std::string error =
        std::to_string(kCategoryPlugin) + "," + std::to_string(kRequestReportError);
    const std::string shortName =
        std::to_string(kCategoryShortName) + "," + std::to_string(kRequestShortName);
    const std::string unload =
        std::to_string(kCategoryPlugin) + "," + std::to_string(kRequestUnloadNotice);
    return "Lines for what the plug-in reports (text form, then the JSON \"event\"):\n"
           "  [t] fired " +
           fired + " PATH        \"fired\"     an event node fired (node command " + fired +
           ")\n"
           "  [t] announce " +
           announce + " PATH     \"announce\"  a button announced itself (" + announce +
           ")\n"
           "  [t] answer " +
           answer + " PATH to H  \"answer\"    a button answered the host's command " +
           std::to_string(kCommandPress) + " (" + answer +
           ")\n"
           "  [t] command CODE PATH ... \"command\"   any other node command to the host\n"
           "  [t] observer NAME PATH .. \"observer\"  an observer event (activeChanged, ...)\n"
           "  [t] error CODE \"TEXT\"     \"error\"     an error report (" +
           error +
           ")\n"
           "  [t] short-name \"b10\" ... \"shortName\" a short-name report (" +
           shortName +
           ")\n"
           "  [t] unload module M       \"unload\"    the unload notice (" +
           unload +
           ")\n"
           "  [t] call category ...     \"call\"      any other call-out\n"
           "  [t] debug \"TEXT\"          \"debug\"     a line of the plug-in's debug output: what "
           "it\n"
           "                                        found of the system (not by tree or command)\n"
           "t is the time in seconds since the library was loaded (JSON field \"t\").\n";
}

// The options every verb takes, before or after its name.
std::vector<Option> commonOptions(VerbOptions& o, bool& help) {
    std::vector<Option> table = {
        kvqtools::switchOption("--json", o.json,
                               "one JSON object per line instead of text; every object has an\n"
                               "\"event\" field (see each subcommand's --help and "
                               "tools/host/README.md)"),
        kvqtools::switchOption("--verbose", o.verbose,
                               "also print the host queries (1,207) and (1,11) and everything "
                               "the\nplug-in reports while it builds and detaches"),
        kvqtools::switchOption("--help", help,
                               "print help (kvq-host SUBCOMMAND --help for one subcommand)")};
    table[1].alias = "-v";
    table[2].alias = "-h";
    return table;
}

std::string verbList() {
    std::vector<std::string> names;
    for (const Verb* v : allVerbs())
        names.push_back(v->text().name);
    return " (" + either(names) + "; see kvq-host --help)";
}

// The number of operands a verb's usage allows, checked before the verb reads them.
bool countOperands(const Verb& verb, const std::vector<std::string>& given, std::string& error) {
    const std::string name = verb.text().name;
    const std::string see = " (see kvq-host " + name + " --help)";
    std::vector<std::string> required;
    size_t most = 0;
    for (const std::string& w : words(verb.text().operands)) {
        if (w.find("...") != std::string::npos) most = SIZE_MAX;
        if (w[0] != '[') required.push_back(w);
        if (most != SIZE_MAX) ++most;
    }
    // Every verb with operands it needs starts with LIB.
    if (given.size() < required.size()) {
        error = name + " needs " +
                (given.empty() ? "the plug-in library LIB"
                               : either({required.begin() + 1, required.end()}, " and ")) +
                see;
        return false;
    }
    if (given.size() > most) {
        error = (most == 0 ? name + " takes no arguments, not \"" + given[0] + "\""
                           : "too many arguments for " + name + ": \"" + given[most] + "\"") +
                see;
        return false;
    }
    return true;
}

std::string usageOf(const Verb& verb, const std::string& head, bool common) {
    std::vector<std::string> tokens = words(verb.text().operands);
    auto options = verb.newOptions();
    for (const Option& o : verb.options(*options))
        if (!o.forTests) tokens.push_back(o.usage());
    if (common) tokens.insert(tokens.end(), {"[--json]", "[--verbose]"});
    const std::string start = head + "kvq-host " + verb.text().name;
    return kvqtools::wrapWords(start, tokens, kWidth, start.size() + 1) + "\n";
}

} // namespace

std::string synopsis() {
    std::string text;
    for (const Verb* v : allVerbs())
        text += usageOf(*v, "", false);
    return text;
}

std::string helpText(const Verb* verb) {
    if (!verb) {
        // The verbs listed as options are: name and operands, then the summary.
        std::vector<Option> list;
        for (const Verb* v : allVerbs())
            list.push_back(kvqtools::valueOption(
                kvqtools::wrapWords(v->text().name, words(v->text().operands), kWidth, 0), "", {},
                v->text().summary));
        bool help = false;
        VerbOptions o;
        return "Usage: kvq-host SUBCOMMAND [ARGUMENT]... [OPTION]...\n" + std::string(kAbout) +
               "\nSubcommands:\n" + kvqtools::optionHelp(list, kVerbColumn) +
               "\nEach subcommand with its arguments and own options (more in kvq-host "
               "SUBCOMMAND --help):\n" +
               synopsis() + "\n" + kPathHelp + "\nOptions of every subcommand:\n" +
               kvqtools::optionHelp(commonOptions(o, help), kOptionColumn) + "\n" + kExitHelp;
    }
    const Verb::Text& t = verb->text();
    auto o = verb->newOptions();
    std::vector<Option> options = verb->options(*o);
    std::string text = usageOf(*verb, "Usage: ", true) + t.about;
    std::string own = kvqtools::optionHelp(options, kOptionColumn);
    std::string tests = kvqtools::optionHelp(options, kOptionColumn, true);
    if (!own.empty()) text += "\n" + own;
    if (!tests.empty()) text += "\nFor tests:\n" + tests;
    if (*t.more) text += "\n" + std::string(t.more);
    if (t.eventLines) text += "\n" + eventHelp();
    return text;
}

Parsed parseArguments(const std::vector<std::string>& args, Invocation& inv, std::string& error) {
    inv = Invocation();
    // Every option of every verb is read, and its value checked, in the order
    // given, into options of its own; the verb's own options are filled once
    // the verb is known.
    bool help = false;
    std::vector<std::unique_ptr<VerbOptions>> scratch;
    std::vector<std::vector<Option>> tables;
    scratch.push_back(std::make_unique<VerbOptions>());
    tables.push_back(commonOptions(*scratch.back(), help)); // then one per verb, in order
    for (const Verb* v : allVerbs()) {
        scratch.push_back(v->newOptions());
        tables.push_back(v->options(*scratch.back()));
    }
    auto find = [&](const std::string& flag) -> const Option* {
        for (const auto& table : tables)
            if (const Option* o = kvqtools::findOption(table, flag)) return o;
        return nullptr;
    };
    kvqtools::Syntax syntax;
    syntax.unknown = [](const std::string& flag) { return "unknown option " + flag; };
    syntax.needsValue = [](const std::string& flag) { return flag + " needs a value"; };
    std::vector<std::string> operands;
    std::vector<kvqtools::GivenOption> given;
    if (!kvqtools::scanArguments(args, find, syntax, operands, given, error)) return Parsed::Error;

    if (!operands.empty()) {
        for (const Verb* v : allVerbs())
            if (operands[0] == v->text().name) inv.verb = v;
        if (!inv.verb) {
            error = "unknown subcommand \"" + operands[0] + "\"" + verbList();
            return Parsed::Error;
        }
    }
    if (help) return Parsed::Help;
    if (!inv.verb) {
        error = "no subcommand given" + verbList();
        return Parsed::Error;
    }

    const std::string name = inv.verb->text().name;
    inv.options = inv.verb->newOptions();
    std::vector<Option> common = commonOptions(*inv.options, help);
    std::vector<Option> own = inv.verb->options(*inv.options);
    for (const kvqtools::GivenOption& g : given) {
        const std::string& flag = g.option->flag;
        const Option* o = kvqtools::findOption(common, flag);
        if (!o) o = kvqtools::findOption(own, flag);
        if (!o) {
            std::vector<std::string> owners;
            for (size_t i = 0; i < allVerbs().size(); ++i)
                if (kvqtools::findOption(tables[i + 1], flag))
                    owners.push_back(allVerbs()[i]->text().name);
            error = flag + " belongs to " + either(owners) + ", not " + name;
            return Parsed::Error;
        }
        if (!o->store(g.value, error)) return Parsed::Error;
    }
    operands.erase(operands.begin());
    if (!countOperands(*inv.verb, operands, error)) return Parsed::Error;
    return inv.verb->takeOperands(operands, *inv.options, error) ? Parsed::Run : Parsed::Error;
}

} // namespace kvqhost
