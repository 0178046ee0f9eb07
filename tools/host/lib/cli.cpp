#include "cli.h"

#include "nodePath.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kvqhost {
namespace {

const char* const kToolHelp =
    "Usage: kvq-host SUBCOMMAND LIB [ARGUMENT]... [OPTION]...\n"
    "       kvq-host ports [--json]\n"
    "       kvq-host probe [PORT]... [--lines] [--wait MS] [--json]\n"
    "Stands in for the host application: loads the plug-in library LIB, speaks to it only\n"
    "through its exported V_KVQ_ENTRY function and the 112-byte entry record, and prints what\n"
    "the plug-in reports.\n"
    "\n"
    "Subcommands:\n"
    "  tree LIB                     attach, build and print the plug-in's tree\n"
    "  invoke LIB PATH              invoke the function node at PATH (command 289)\n"
    "  command LIB PATH CODE [W1]   send any command code to the node at PATH\n"
    "  watch LIB [--seconds N] [--invoke PATH]... [--commands] [--resources S]\n"
    "                               observe every node and print events as they happen;\n"
    "                               take commands from standard input, read resources\n"
    "  cycles LIB [--count N] [--seconds S] [--invoke PATH]... [--class NAME]...\n"
    "                               load, use and unload LIB again and again; check that\n"
    "                               nothing of the process's resources is left behind\n"
    "  ports                        list the serial ports and whether each is free or held\n"
    "  probe [PORT]...              ask each port (all by default) for an X10 controller's\n"
    "                               status and tell what answered\n"
    "\n"
    "PATH names a node by the names from below the root down to it, joined with '/', for\n"
    "example \"X10/House Code: A/Unit Code: 1/Power On\". Names may hold spaces and colons;\n"
    "write a '/' or '\\' inside a name as \\/ or \\\\.\n"
    "\n"
    "Options of every subcommand:\n"
    "  --json         one JSON object per line instead of text; every object has an\n"
    "                 \"event\" field (see each subcommand's --help and tools/host/README.md)\n"
    "  -v, --verbose  also print the host queries (1,207) and (1,11) and everything the\n"
    "                 plug-in reports while it builds and detaches\n"
    "  -h, --help     print help (kvq-host SUBCOMMAND --help for one subcommand)\n"
    "\n"
    "Errors are one line on standard error. Exit status: 0 done; 1 the library could not\n"
    "be used (missing, no V_KVQ_ENTRY, attach refused) or PATH names no node; 2 bad\n"
    "arguments; 3 (cycles) resources were left behind; probe: 0 a controller answered,\n"
    "1 none did.\n";

const char* const kEventHelp =
    "Lines for what the plug-in reports (text form, then the JSON \"event\"):\n"
    "  [t] fired 321 PATH        \"fired\"     an event node fired (node command 321)\n"
    "  [t] announce 322 PATH     \"announce\"  a button announced itself (322)\n"
    "  [t] answer 323 PATH to H  \"answer\"    a button answered the host's command 1 (323)\n"
    "  [t] command CODE PATH ... \"command\"   any other node command to the host\n"
    "  [t] observer NAME PATH .. \"observer\"  an observer event (activeChanged, ...)\n"
    "  [t] error CODE \"TEXT\"     \"error\"     an error report (1,304)\n"
    "  [t] short-name \"b10\" ... \"shortName\" a short-name report (5,112)\n"
    "  [t] unload module M       \"unload\"    the unload notice (1,2)\n"
    "  [t] call category ...     \"call\"      any other call-out\n"
    "  [t] debug \"TEXT\"          \"debug\"     a line of the plug-in's debug output: what it\n"
    "                                        found of the system (not by tree or command)\n"
    "t is the time in seconds since the library was loaded (JSON field \"t\").\n";

const char* const kTreeHelp =
    "Usage: kvq-host tree LIB [--no-build] [--json] [--verbose]\n"
    "Attaches, builds and prints the tree below the root, indented by depth: each node\n"
    "with its name, [type], category, label, value with its kind and the names of its set\n"
    "flags, then one line per attribute: @name = value (kind) and its flags. Then detaches.\n"
    "\n"
    "  --no-build     print the tree as it is right after attach, without build\n"
    "\n"
    "JSON: one object per node, \"event\":\"node\", with \"path\", \"names\", \"depth\",\n"
    "\"handle\", \"name\", \"type\", \"category\", \"label\", \"value\" (text or null),\n"
    "\"valueKind\", \"flags\" (number), \"flagNames\", \"tag\" and \"attributes\": a list of\n"
    "objects with \"name\", \"kind\", \"value\", \"header\", \"flagNames\", \"tag\", \"handle\".\n"
    "Error reports of the plug-in are printed too.\n";

const char* const kInvokeHelp =
    "Usage: kvq-host invoke LIB PATH [--json] [--verbose]\n"
    "Attaches, builds, sends command 289 (invoke: A2 = 289, A3 = 0, A0 = the host target\n"
    "handle) to the node at PATH, prints what the plug-in reported during the command and\n"
    "the command's result, then detaches and prints the unload notice.\n"
    "\n"
    "The result line: [t] result VALUE of command CODE on PATH (N ms) (JSON \"event\":\n"
    "\"result\" with \"code\", \"node\", \"path\", \"value\" and \"ms\", the time the command\n"
    "held the host's thread).\n";

const char* const kCommandHelp =
    "Usage: kvq-host command LIB PATH CODE [W1] [--json] [--verbose]\n"
    "Like invoke, with any 64-bit command code CODE (decimal, 0x hexadecimal or negative)\n"
    "in A2-A3, for example 288 on an X10 unit node for its short-name report, or 1 on a\n"
    "button. W1 (A0) defaults to the host target handle H, which the host answers to\n"
    "(1,207).\n";

const char* const kWatchHelp =
    "Usage: kvq-host watch LIB [--seconds N] [--invoke PATH]... [--commands] [--resources S]\n"
    "                      [--progress] [--until-eof] [--destroy-fired]\n"
    "                      [--foreign-class NAME]... [--json]\n"
    "Attaches, builds, registers an observer on every node, invokes each --invoke PATH in\n"
    "turn (command 289), runs the message loop for N seconds (default 10; Ctrl+C ends it\n"
    "early) printing every event as it happens, then detaches and prints the unload\n"
    "notice.\n"
    "\n"
    "  --seconds N    how long to run the message loop (decimal, may be 0)\n"
    "  --invoke PATH  invoke the function node at PATH once observers are registered\n"
    "  --commands     carry out the commands that come on standard input, one per line\n"
    "                 (below); the end of standard input ends the watch, as --until-eof\n"
    "  --resources S  print a \"resources\" line when the loop starts and every S seconds\n"
    "                 (0.01 to 1000000)\n"
    "  --progress     report the time left on standard error once a second\n"
    "  --until-eof    also end the watch early when standard input reaches its end\n"
    "                 (for scripts: close the pipe instead of sending Ctrl+C)\n"
    "  --destroy-fired  destroy each node that fires (node operation 1) while its event\n"
    "                 call-out (321) is still running, as a careless host may\n"
    "  --foreign-class NAME  before attach, register a window class NAME under the\n"
    "                 library's module handle with a procedure not the library's, as an\n"
    "                 earlier load of it or another module may have left one\n"
    "\n"
    "Commands (--commands), carried out on the host's thread between two turns of the\n"
    "message loop, in order:\n"
    "  invoke PATH              command 289, as the invoke subcommand: a \"result\" line\n"
    "  command PATH CODE [W1]   any command code, as the command subcommand\n"
    "  resources                a \"resources\" line now\n"
    "  loop                     a \"loop\" line now: the longest hold of the message loop\n"
    "                           since the last one (or the invokes), then counting anew\n"
    "  sleep MS                 the next line waits MS milliseconds; the loop runs on\n"
    "  end                      end the watch, as at the end of its time\n"
    "Words are separated by spaces; a PATH in double quotes may hold spaces (invoke also\n"
    "takes the rest of its line as PATH). Empty lines and lines starting with # are\n"
    "skipped. An unknown command or path prints one error line on standard error and the\n"
    "watch goes on. Lines that come after the end of the watch are not carried out.\n"
    "\n"
    "Besides the event lines, watch prints \"watching\" (JSON \"nodes\", \"observers\",\n"
    "\"seconds\"), a \"result\" line per --invoke with the time the command held the host's\n"
    "thread (\"ms\"), then \"message loop: longest hold N ms\" (JSON \"loop\",\n"
    "\"longestHoldMs\", \"ticks\"): the longest time anything held the message loop after\n"
    "the invokes, measured by a 10 ms timer of the tool's own (the tool's own commands and\n"
    "readings do not count); and at the end \"detached\" with the number of observer events\n"
    "sent while the tree was destroyed (\"observerEvents\"), which are printed one by one\n"
    "only with --verbose.\n"
    "\n"
    "[t] resources: handles H, threads T, windows W, timers M, user objects U, private P KiB\n"
    "(JSON \"resources\" with \"handles\", \"threads\", \"windows\", \"timers\",\n"
    "\"userObjects\", \"privateKiB\"): what the process holds now. Open handles (file\n"
    "descriptors natively), threads, windows of the host's thread, timers (natively the\n"
    "live ones; on Windows, which cannot list them, the timer messages due at that moment,\n"
    "taken from the queue), USER objects of the process (Windows) and its private memory\n"
    "in KiB (Windows: private bytes; natively VmData). -1 where the system will not tell.\n";

const char* const kCyclesHelp =
    "Usage: kvq-host cycles LIB [--count N] [--seconds S] [--invoke PATH]... [--class NAME]...\n"
    "                       [--json]\n"
    "Checks that the plug-in gives back what it takes. Each cycle loads LIB, attaches,\n"
    "builds, invokes each --invoke PATH (command 289), runs the message loop for S seconds\n"
    "(default 0.5) so that the plug-in's devices, workers and timers do their work,\n"
    "detaches and unloads LIB. After two warm-up cycles the process's resources are read\n"
    "(the baseline), then after each of N cycles (default 20): open handles (file\n"
    "descriptors natively), threads, windows of the host's thread and timers still firing\n"
    "(on Windows: timer messages that arrive within 1.1 s of the baseline and the last\n"
    "cycle). A reading is taken once it holds still, at most 3 s after the unload.\n"
    "\n"
    "  --count N      cycles after the warm-up (1 to 100000)\n"
    "  --seconds S    message loop time of each cycle\n"
    "  --invoke PATH  invoke the function node at PATH in every cycle\n"
    "  --class NAME   a window class the plug-in registers: after each unload, a class of\n"
    "                 that name still registered under the module instance the tool handed\n"
    "                 over counts as left behind (the system keeps a library's classes\n"
    "                 when it is unloaded, with a window procedure in code that is gone)\n"
    "\n"
    "One line per reading: [t] cycle K: handles H, threads T, windows W, timers M, fired F\n"
    "(loaded: ...; detach D ms), with \", classes C\" when --class is given (K 0 is the\n"
    "baseline; F the events the plug-in fired in that\n"
    "cycle; the loaded figures were read at the end of the cycle's message loop, before the\n"
    "detach, which took D ms; JSON \"event\":\"cycle\" with those fields, \"loadedHandles\",\n"
    "\"loadedThreads\", \"loadedWindows\" and \"detachMs\"); then \"nothing left behind\" or what "
    "was left (JSON\n"
    "\"event\":\"left\" with the differences, \"classes\", \"longestDetachMs\" and \"clean\"). "
    "Exit status\n"
    "3 when something was left.\n";

const char* const kPortsHelp =
    "Usage: kvq-host ports [--json]\n"
    "Lists the serial ports the system has: on Windows the COMn names among its DOS\n"
    "devices (under Wine these include the ports mapped in HKLM\\Software\\Wine\\Ports);\n"
    "natively COMn for each /dev/ttyS(n-1) with a UART behind it and for each KVQ_PORT_COMn\n"
    "override, then /dev/ttyUSB* and /dev/ttyACM* by their paths (never the kernel's\n"
    "console). Each port is opened as a plug-in opens it and closed again at once;\n"
    "nothing is sent. One line per port:\n"
    "  PORT (DEVICE): STATE\n"
    "STATE is free (it can be opened now), held (another program has it open) or absent\n"
    "(no device behind the name). JSON: \"event\":\"port\" with \"port\", \"device\" and\n"
    "\"state\".\n";

const char* const kProbeHelp =
    "Usage: kvq-host probe [PORT]... [--lines] [--wait MS] [--json]\n"
    "Looks for an X10 controller (CM11A) on each PORT given (COM1, COM4, ...; natively\n"
    "also a device path), or on every port that kvq-host ports lists. Each port is\n"
    "opened at 4800 baud, 8N1, and sent the controller's status request, the single byte\n"
    "8b, and nothing else: no acknowledgement, no checksum, no answer to a poll. What\n"
    "comes within MS milliseconds (default 1000) tells what is there, one line per port:\n"
    "  controller   its 14-byte status answer: firmware revision, its clock, battery\n"
    "               timer, monitored house code and the units on there\n"
    "  polling      5a: a controller that has power-line traffic to report (it answers\n"
    "               nothing else until a plug-in takes the report)\n"
    "  clock        a5 (or a6): a controller asking for the time; it lost power\n"
    "  silence      nothing: no controller, no power, or another port\n"
    "  held         another program has the port open (the plug-in, a host)\n"
    "  absent       the port cannot be opened: no device behind the name\n"
    "  other bytes  something answered that is not a controller\n"
    "\n"
    "  --lines      also print the four modem lines of each port (CTS, DSR, RLSD, RING:\n"
    "               what Quillport shows)\n"
    "  --wait MS    how long to wait for the answer (100 to 60000, default 1000)\n"
    "\n"
    "JSON: \"event\":\"probe\" with \"port\", \"device\", \"found\" (controller, polling,\n"
    "clockRequest, silence, held, absent, unknown) and \"bytes\" (what came, in hex); for a\n"
    "controller \"firmware\", \"clock\", \"yday\", \"weekday\", \"batteryTimer\", \"house\",\n"
    "\"addressed\", \"on\" and \"dimmed\"; with --lines \"cts\", \"dsr\", \"rlsd\" and\n"
    "\"ring\" (true, false, or null when unreadable). Exit status 0 when a controller\n"
    "answered on some port, 1 when none did.\n";

bool isSubcommand(const std::string& s) {
    return s == "tree" || s == "invoke" || s == "command" || s == "watch" || s == "cycles" ||
           s == "ports" || s == "probe";
}

} // namespace

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    int base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (v > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    value = v;
    return true;
}

bool parseCode(const std::string& text, uint64_t& value) {
    if (!text.empty() && text[0] == '-') {
        uint64_t magnitude;
        if (text.size() < 2 || (text.size() > 2 && text[1] == '0' && text[2] == 'x')) return false;
        if (!parseUnsigned(text.substr(1), uint64_t(1) << 63, magnitude)) return false;
        value = ~magnitude + 1;
        return true;
    }
    return parseUnsigned(text, UINT64_MAX, value);
}

bool parseSeconds(const std::string& text, double& value) {
    if (text.empty() || !(text[0] == '.' || (text[0] >= '0' && text[0] <= '9'))) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (errno || !end || *end || !std::isfinite(v) || v < 0 || v > 1e6) return false;
    value = v;
    return true;
}

std::string helpText(const std::string& subcommand) {
    if (subcommand == "tree") return kTreeHelp;
    if (subcommand == "invoke") return std::string(kInvokeHelp) + "\n" + kEventHelp;
    if (subcommand == "command") return std::string(kCommandHelp) + "\n" + kEventHelp;
    if (subcommand == "watch") return std::string(kWatchHelp) + "\n" + kEventHelp;
    if (subcommand == "cycles") return kCyclesHelp;
    if (subcommand == "ports") return kPortsHelp;
    if (subcommand == "probe") return kProbeHelp;
    return kToolHelp;
}

Parsed parseArguments(const std::vector<std::string>& args, Options& o, std::string& error) {
    o = Options();
    std::vector<std::string> positional;
    bool help = false;
    bool optionsDone = false;
    std::vector<std::string> watchOnly, treeOnly, cyclesOnly, probeOnly;
    bool secondsGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
            continue;
        }
        std::string value;
        bool hasValue = false;
        size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto noValue = [&]() -> bool {
            if (hasValue) error = a + " takes no value";
            return !hasValue;
        };
        if (a == "--") {
            optionsDone = true;
        } else if (a == "--help" || a == "-h") {
            if (!noValue()) return Parsed::Error;
            help = true;
        } else if (a == "--json") {
            if (!noValue()) return Parsed::Error;
            o.json = true;
        } else if (a == "--verbose" || a == "-v") {
            if (!noValue()) return Parsed::Error;
            o.verbose = true;
        } else if (a == "--progress") {
            if (!noValue()) return Parsed::Error;
            o.progress = true;
            watchOnly.push_back(a);
        } else if (a == "--until-eof") {
            if (!noValue()) return Parsed::Error;
            o.untilEof = true;
            watchOnly.push_back(a);
        } else if (a == "--commands") {
            if (!noValue()) return Parsed::Error;
            o.commands = true;
            watchOnly.push_back(a);
        } else if (a == "--resources") {
            if (!takeValue()) return Parsed::Error;
            if (!parseSeconds(value, o.resourcesEvery) || o.resourcesEvery < 0.01) {
                error = "--resources needs a number of seconds from 0.01 to 1000000, not \"" +
                        value + "\"";
                return Parsed::Error;
            }
            watchOnly.push_back(a);
        } else if (a == "--destroy-fired") {
            if (!noValue()) return Parsed::Error;
            o.destroyFired = true;
            watchOnly.push_back(a);
        } else if (a == "--foreign-class") {
            if (!takeValue()) return Parsed::Error;
            o.foreignClasses.push_back(value);
            watchOnly.push_back(a);
        } else if (a == "--no-build") {
            if (!noValue()) return Parsed::Error;
            o.noBuild = true;
            treeOnly.push_back(a);
        } else if (a == "--seconds") {
            if (!takeValue()) return Parsed::Error;
            if (!parseSeconds(value, o.seconds)) {
                error =
                    "--seconds needs a number of seconds from 0 to 1000000, not \"" + value + "\"";
                return Parsed::Error;
            }
            secondsGiven = true;
        } else if (a == "--invoke") {
            if (!takeValue()) return Parsed::Error;
            o.invokes.push_back(value);
        } else if (a == "--count") {
            if (!takeValue()) return Parsed::Error;
            uint64_t n = 0;
            if (!parseUnsigned(value, 100000, n) || n == 0) {
                error = "--count needs a number of cycles from 1 to 100000, not \"" + value + "\"";
                return Parsed::Error;
            }
            o.count = static_cast<uint32_t>(n);
            cyclesOnly.push_back(a);
        } else if (a == "--lines") {
            if (!noValue()) return Parsed::Error;
            o.lines = true;
            probeOnly.push_back(a);
        } else if (a == "--wait") {
            if (!takeValue()) return Parsed::Error;
            uint64_t ms = 0;
            if (!parseUnsigned(value, 60000, ms) || ms < 100) {
                error = "--wait needs a number of milliseconds from 100 to 60000, not \"" + value +
                        "\"";
                return Parsed::Error;
            }
            o.waitMs = static_cast<uint32_t>(ms);
            probeOnly.push_back(a);
        } else if (a == "--class") {
            if (!takeValue()) return Parsed::Error;
            o.classes.push_back(value);
            cyclesOnly.push_back(a);
        } else {
            error = "unknown option " + a;
            return Parsed::Error;
        }
    }

    if (!positional.empty()) {
        o.subcommand = positional[0];
        if (!isSubcommand(o.subcommand)) {
            error =
                "unknown subcommand \"" + o.subcommand +
                "\" (tree, invoke, command, watch, cycles, ports or probe; see kvq-host --help)";
            o.subcommand.clear();
            return Parsed::Error;
        }
    }
    if (help) return Parsed::Help;
    if (o.subcommand.empty()) {
        error = "no subcommand given (tree, invoke, command, watch, cycles, ports or probe; see "
                "kvq-host --help)";
        return Parsed::Error;
    }
    const std::string see = " (see kvq-host " + o.subcommand + " --help)";
    // An option of one subcommand given to another.
    for (const auto& [only, owner] :
         {std::make_pair(&watchOnly, "watch"), std::make_pair(&cyclesOnly, "cycles"),
          std::make_pair(&probeOnly, "probe")})
        if (!only->empty() && o.subcommand != owner) {
            error = only->front() + " belongs to " + owner + ", not " + o.subcommand;
            return Parsed::Error;
        }
    const bool looping = o.subcommand == "watch" || o.subcommand == "cycles";
    if (!looping && (secondsGiven || !o.invokes.empty())) {
        error = std::string(secondsGiven ? "--seconds" : "--invoke") +
                " belongs to watch or cycles, not " + o.subcommand;
        return Parsed::Error;
    }
    if (o.subcommand == "cycles" && !secondsGiven) o.seconds = 0.5;
    if (o.subcommand == "ports" || o.subcommand == "probe") {
        if (!treeOnly.empty()) {
            error = treeOnly[0] + " belongs to tree, not " + o.subcommand;
            return Parsed::Error;
        }
        if (o.subcommand == "ports" && positional.size() > 1) {
            error = "ports takes no arguments, not \"" + positional[1] + "\"" + see;
            return Parsed::Error;
        }
        for (size_t i = 1; i < positional.size(); ++i) {
            if (positional[i].empty()) {
                error = "a port name is empty";
                return Parsed::Error;
            }
            o.ports.push_back(positional[i]);
        }
        return Parsed::Run;
    }
    if (!treeOnly.empty() && o.subcommand != "tree") {
        error = treeOnly[0] + " belongs to tree, not " + o.subcommand;
        return Parsed::Error;
    }

    size_t least = 2, most = 2;
    if (o.subcommand == "invoke") least = most = 3;
    if (o.subcommand == "command") least = 4, most = 5;
    if (positional.size() < 2) {
        error = o.subcommand + " needs the plug-in library LIB" + see;
        return Parsed::Error;
    }
    if (positional.size() < least) {
        error = o.subcommand + (o.subcommand == "invoke" ? " needs PATH" : " needs PATH and CODE") +
                see;
        return Parsed::Error;
    }
    if (positional.size() > most) {
        error = "too many arguments for " + o.subcommand + ": \"" + positional[most] + "\"" + see;
        return Parsed::Error;
    }
    o.library = positional[1];
    if (o.library.empty()) {
        error = "the library path is empty";
        return Parsed::Error;
    }
    if (positional.size() > 2) {
        o.path = positional[2];
        if (!parsePath(o.path, o.names, error)) return Parsed::Error;
    }
    if (o.subcommand == "command") {
        if (!parseCode(positional[3], o.code)) {
            error = "CODE must be a 64-bit number (decimal, 0x hexadecimal or negative), not \"" +
                    positional[3] + "\"";
            return Parsed::Error;
        }
        if (positional.size() > 4) {
            uint64_t w1;
            if (!parseUnsigned(positional[4], UINT32_MAX, w1)) {
                error = "W1 must be a 32-bit number (decimal or 0x hexadecimal), not \"" +
                        positional[4] + "\"";
                return Parsed::Error;
            }
            o.w1 = static_cast<uint32_t>(w1);
        }
    }
    for (const std::string& p : o.invokes) {
        std::vector<std::string> names;
        if (!parsePath(p, names, error)) return Parsed::Error;
        o.invokeNames.push_back(names);
    }
    return Parsed::Run;
}

} // namespace kvqhost
