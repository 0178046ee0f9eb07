// kvq-host watch: every node observed, the message loop run for a while with
// every event printed as it happens, then the detach. A timer of the tool's
// own measures how long the plug-in holds the loop.
#include "verbs.h"

#include "../lineInput.h"
#include "../report.h"
#include "../session.h"
#include "common/json.h"
#include "entry/entryCodes.h"
#include "platform/host.h"
#include "platform/windows.h"
#include "watchCommands.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

namespace kvqhost {
namespace {

using kvqtools::JsonObject;
using kvqtools::Option;

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) {
    interrupted = 1;
}

constexpr uint32_t kSliceMs = 200; // the watch loop looks at Ctrl+C and progress this often

std::string secondsText(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", seconds);
    return buf;
}

// A window and a 10 ms timer of the tool's own on the host's thread: the
// longest time between two of its ticks (less the period) is the longest time
// something held the message loop, such as a plug-in's timer work.
class LoopProbe {
public:
    LoopProbe() {
        static char instance; // a module instance no library has
        if (!plat::classRegistered(&instance, kClass))
            plat::registerClass(&instance, kClass, &proc);
        window_ = plat::createWindow(kClass, "", plat::messageOnlyParent(), &instance, nullptr);
        if (window_) {
            plat::setWindowUserData(window_, reinterpret_cast<intptr_t>(this));
            plat::setTimer(window_, 1, kPeriodMs);
        }
        last_ = HostClock::now();
    }
    LoopProbe(const LoopProbe&) = delete;
    LoopProbe& operator=(const LoopProbe&) = delete;
    ~LoopProbe() {
        if (!window_) return;
        plat::killTimer(window_, 1);
        plat::setWindowUserData(window_, 0);
        plat::destroyWindow(window_);
    }
    double longestGapMs() const { return longest_; }
    // Counting starts over (the `loop` command).
    void clearLongest() { longest_ = 0; }
    int64_t ticks() const { return ticks_; }
    // The tool's own work held the loop until now: the gap is counted from here.
    void restart() { last_ = HostClock::now(); }

private:
    static constexpr const char* kClass = "kvqHostLoopProbe";
    static constexpr uint32_t kPeriodMs = 10;

    static intptr_t KVQ_CALLBACK proc(plat::Window w, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam) {
        auto* self = reinterpret_cast<LoopProbe*>(plat::windowUserData(w));
        if (message != plat::kWmTimer || !self)
            return plat::defWindowProc(w, message, wParam, lParam);
        auto now = HostClock::now();
        double gap = msBetween(self->last_, now);
        self->longest_ = std::max(self->longest_, gap - kPeriodMs);
        self->last_ = now;
        ++self->ticks_;
        return 0;
    }

    plat::Window window_ = nullptr;
    HostClock::time_point last_;
    double longest_ = 0;
    int64_t ticks_ = 0;
};

// The longest hold of the loop so far: at the end of the watch, and at each
// `loop` command, after which counting starts over.
void showLoop(Session& s, LoopProbe& probe) {
    const double t = s.plugin().secondsSinceLoad();
    if (s.options().json)
        s.line(JsonObject()
                   .real("t", t)
                   .text("event", "loop")
                   .real("longestHoldMs", probe.longestGapMs(), 1)
                   .number("ticks", probe.ticks())
                   .str());
    else
        s.line(timePrefix(t) + "message loop: longest hold " +
               std::to_string(static_cast<long>(probe.longestGapMs())) + " ms");
}

void showResources(Session& s) {
    plat::ProcessResources r{};
    plat::processResources(&r, 0);
    s.line(resourcesLine(r, s.plugin().secondsSinceLoad(), s.options().json));
}

// The commands of --commands, taken from standard input between two turns of
// the message loop. The reader posts to a window of ours when a line comes, so
// a loop waiting for the plug-in turns at once.
class CommandLines {
public:
    enum class Outcome { Going, End, InputEnded };

    CommandLines() : input_(LineInput::instance()) {
        static char instance; // a module instance no library has
        if (!plat::classRegistered(&instance, kClass))
            plat::registerClass(&instance, kClass, &proc);
        window_ = plat::createWindow(kClass, "", plat::messageOnlyParent(), &instance, nullptr);
        input_.wake(window_);
    }
    CommandLines(const CommandLines&) = delete;
    CommandLines& operator=(const CommandLines&) = delete;
    ~CommandLines() {
        input_.wake(nullptr);
        if (window_) plat::destroyWindow(window_);
    }

    // Carries out the lines that are due; `worked` tells whether any did something.
    Outcome carryOut(Session& s, LoopProbe& probe, bool& worked) {
        while (HostClock::now() >= sleepUntil_) {
            std::string text;
            if (!input_.next(text)) return input_.ended() ? Outcome::InputEnded : Outcome::Going;
            WatchCommand c;
            std::string error;
            if (!parseWatchCommand(text, c, error)) {
                s.err() << "kvq-host: " << error << '\n' << std::flush;
                continue;
            }
            switch (c.kind) {
            case WatchCommand::Kind::Skip:
                continue;
            case WatchCommand::Kind::Invoke:
            case WatchCommand::Kind::Command:
                if (Handle node = s.findNode(c.names, c.path))
                    s.timedCommand(node,
                                   c.kind == WatchCommand::Kind::Invoke ? kCommandInvoke : c.code,
                                   c.w1.value_or(s.plugin().hostTarget()));
                break;
            case WatchCommand::Kind::Resources:
                showResources(s);
                break;
            case WatchCommand::Kind::Loop:
                showLoop(s, probe);
                probe.clearLongest();
                break;
            case WatchCommand::Kind::Sleep:
                sleepUntil_ = HostClock::now() + std::chrono::milliseconds(c.ms);
                break;
            case WatchCommand::Kind::End:
                return Outcome::End;
            }
            worked = true;
        }
        return Outcome::Going;
    }

    // How long the loop may wait for the next line: until a sleep is over, or
    // without a limit of ours when none is pending (a line that comes wakes it).
    double msUntilDue() const {
        double ms = msBetween(HostClock::now(), sleepUntil_);
        return ms > 0 ? ms : kNoLimitMs;
    }

private:
    static constexpr const char* kClass = "kvqHostCommandInput";
    static constexpr double kNoLimitMs = 1e9;

    static intptr_t KVQ_CALLBACK proc(plat::Window w, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam) {
        // kWmUser only wakes the loop; the lines are taken after the dispatch.
        if (message == plat::kWmUser) return 0;
        return plat::defWindowProc(w, message, wParam, lParam);
    }

    LineInput& input_;
    plat::Window window_ = nullptr;
    HostClock::time_point sleepUntil_{};
};

// Detaches, then says how many observer events the destruction of the tree sent.
void detach(Session& s) {
    size_t held = s.finish(Session::Show::ReportsNoObserver);
    const double t = s.plugin().secondsSinceLoad();
    if (s.options().json)
        s.line(JsonObject()
                   .real("t", t)
                   .text("event", "detached")
                   .number("observerEvents", static_cast<int64_t>(held))
                   .str());
    else
        s.line(timePrefix(t) + "detached, " + std::to_string(held) +
               " observer events while the tree was destroyed" +
               (held ? " (shown with --verbose)" : ""));
}

int watchSession(const WatchOptions& o, Session& s) {
    Plugin& p = s.plugin();
    s.open();
    std::vector<TreeEntry> entries = p.walk(s.root());
    s.rememberPaths(entries);
    s.showCalls(Session::Show::Reports); // what the plug-in announced while it built

    std::vector<Handle> targets;
    for (size_t i = 0; i < o.invokeNames.size(); ++i) {
        Handle node = s.findNode(o.invokeNames[i], o.invokes[i]);
        if (!node) {
            detach(s);
            return 1;
        }
        targets.push_back(node);
    }

    size_t observing = 0;
    for (const TreeEntry& e : entries)
        if (p.observe(e.handle)) ++observing;
    if (o.json)
        s.line(JsonObject()
                   .real("t", p.secondsSinceLoad())
                   .text("event", "watching")
                   .number("nodes", static_cast<int64_t>(entries.size()))
                   .number("observers", static_cast<int64_t>(observing))
                   .real("seconds", o.seconds)
                   .str());
    else
        s.line(timePrefix(p.secondsSinceLoad()) + "watching " + std::to_string(entries.size()) +
               " nodes (" + std::to_string(observing) + " observers) for " +
               secondsText(o.seconds) + " s");

    for (Handle node : targets)
        s.timedCommand(node, kCommandInvoke, p.hostTarget());
    std::unique_ptr<CommandLines> commands;
    if (o.commands) commands = std::make_unique<CommandLines>();
    LoopProbe probe; // from here on: how long the plug-in holds the loop

    double start = p.secondsSinceLoad();
    double end = start + o.seconds;
    double nextReading = start; // --resources
    long lastReport = -1;
    for (;;) {
        double now = p.secondsSinceLoad();
        if (interrupted || now >= end) break;
        bool worked = false;
        if (commands) {
            CommandLines::Outcome outcome = commands->carryOut(s, probe, worked);
            if (outcome == CommandLines::Outcome::End) break;
            if (outcome == CommandLines::Outcome::InputEnded) {
                interrupted = 1;
                break;
            }
        } else if (o.untilEof && plat::inputEnded()) {
            interrupted = 1;
            break;
        }
        if (o.resourcesEvery > 0 && p.secondsSinceLoad() >= nextReading) {
            showResources(s);
            nextReading += o.resourcesEvery;
            if (nextReading <= p.secondsSinceLoad())
                nextReading = p.secondsSinceLoad() + o.resourcesEvery;
            worked = true;
        }
        if (worked) probe.restart(); // the tool's own work is not the plug-in's hold

        now = p.secondsSinceLoad();
        double waitMs = std::min<double>((end - now) * 1000 + 1, kSliceMs);
        if (o.resourcesEvery > 0) waitMs = std::min(waitMs, (nextReading - now) * 1000 + 1);
        if (commands) waitMs = std::min(waitMs, commands->msUntilDue() + 1);
        Plugin::pumpOnce(static_cast<uint32_t>(std::max(0.0, waitMs)));
        s.showCalls(Session::Show::Reports);
        s.forgetShownCalls();
        long elapsed = static_cast<long>(p.secondsSinceLoad() - start);
        if (o.progress && elapsed != lastReport) {
            lastReport = elapsed;
            s.err() << "kvq-host: watching, " << elapsed << " of " << o.seconds << " s, "
                    << s.callsSoFar() << " calls so far\n"
                    << std::flush;
        }
    }
    if (interrupted)
        s.line(o.json
                   ? JsonObject().real("t", p.secondsSinceLoad()).text("event", "interrupted").str()
                   : timePrefix(p.secondsSinceLoad()) + "interrupted");
    showLoop(s, probe);

    detach(s);
    return 0;
}

// The watch help after the options.
const char* const kWatchMore =
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

int runWatch(const WatchOptions& o, std::ostream& out, std::ostream& err) {
    Session s(o, out, err);
    if (!s.ready()) return 1;
    // Ctrl+C from here on ends the watch early but still detaches.
    interrupted = 0;
    auto previous = std::signal(SIGINT, onInterrupt);
    int code = watchSession(o, s);
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    return code;
}

std::vector<Option> watchOptions(WatchOptions& o) {
    std::vector<Option> table =
        loopOptions(o, "N", "how long to run the message loop (decimal, may be 0)",
                    "invoke the function node at PATH once observers are registered");
    Option foreign =
        kvqtools::textsOption("--foreign-class", "NAME", o.foreignClasses,
                              "before attach, register a window class NAME under the\n"
                              "library's module handle with a procedure not the library's, as an\n"
                              "earlier load of it or another module may have left one");
    table.insert(
        table.end(),
        {kvqtools::switchOption("--commands", o.commands,
                                "carry out the commands that come on standard input, one per "
                                "line\n(below); the end of standard input ends the watch, as "
                                "--until-eof"),
         secondsOption("--resources", "S", o.resourcesEvery, 0.01, "0.01",
                       "print a \"resources\" line when the loop starts and every S seconds\n"
                       "(0.01 to 1000000)"),
         kvqtools::switchOption("--progress", o.progress,
                                "report the time left on standard error once a second"),
         kvqtools::switchOption("--until-eof", o.untilEof,
                                "also end the watch early when standard input reaches its end\n"
                                "(for scripts: close the pipe instead of sending Ctrl+C)"),
         kvqtools::switchOption("--destroy-fired", o.destroyFired,
                                "destroy each node that fires (node operation " +
                                    std::to_string(kNodeDestroy) + ") while its event\ncall-out (" +
                                    std::to_string(kCodeFired) +
                                    ") is still running, as a careless host may")
             .tests(),
         foreign.tests()});
    return table;
}

} // namespace

const Verb& watchVerb() {
    static const VerbOf<WatchOptions> verb(
        {"watch", "LIB",
         "observe every node and print events as they happen;\n"
         "take commands from standard input, read resources",
         "Attaches, builds, registers an observer on every node, invokes each --invoke PATH in\n"
         "turn (command 289), runs the message loop for N seconds (default 10; Ctrl+C ends it\n"
         "early) printing every event as it happens, then detaches and prints the unload\n"
         "notice.\n",
         kWatchMore, true},
        watchOptions, takeLoopOperands, runWatch);
    return verb;
}

} // namespace kvqhost
