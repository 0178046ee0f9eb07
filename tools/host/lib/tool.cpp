// The subcommands of kvq-host, each a short session with one plug-in: load,
// attach, build, do the work, print what the plug-in reported, detach.
#include "cli.h"
#include "json.h"
#include "nodePath.h"
#include "platform/platform.h"
#include "plugin.h"
#include "report.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <set>

namespace kvqhost {
namespace {

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) {
    interrupted = 1;
}

constexpr uint32_t kSliceMs = 200; // the watch loop looks at Ctrl+C and progress this often

using SteadyClock = std::chrono::steady_clock;

double msBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double msSince(SteadyClock::time_point from) {
    return msBetween(from, SteadyClock::now());
}

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
        last_ = std::chrono::steady_clock::now();
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
    int64_t ticks() const { return ticks_; }

private:
    static constexpr const char* kClass = "kvqHostLoopProbe";
    static constexpr uint32_t kPeriodMs = 10;

    static intptr_t KVQ_CALLBACK proc(plat::Window w, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam) {
        auto* self = reinterpret_cast<LoopProbe*>(plat::windowUserData(w));
        if (message != plat::kWmTimer || !self)
            return plat::defWindowProc(w, message, wParam, lParam);
        auto now = std::chrono::steady_clock::now();
        double gap = msBetween(self->last_, now);
        self->longest_ = std::max(self->longest_, gap - kPeriodMs);
        self->last_ = now;
        ++self->ticks_;
        return 0;
    }

    plat::Window window_ = nullptr;
    std::chrono::steady_clock::time_point last_;
    double longest_ = 0;
    int64_t ticks_ = 0;
};

class Session {
public:
    Session(Plugin& plugin, const Options& options, std::ostream& out, std::ostream& err)
        : p_(plugin), o_(options), out_(out), err_(err) {}

    int run() {
        if (!p_.attach()) {
            err_ << "kvq-host: \"" << o_.library
                 << "\" refused attach: the library has no plug-in object\n";
            return 1;
        }
        if (o_.subcommand == "tree") return tree();
        if (o_.subcommand == "watch") return watch();
        return command();
    }

private:
    // Which recorded calls a phase prints.
    enum class Show { Errors, Reports, ReportsNoObserver };

    void line(const std::string& text) { out_ << text << '\n' << std::flush; }

    bool shown(const Call& c, Show show) const {
        if (o_.verbose) return true;
        if (isQuery(c)) return false;
        switch (show) {
        case Show::Errors:
            return c.is(1, 304);
        case Show::Reports:
            return true;
        case Show::ReportsNoObserver:
            return c.category() != 3;
        }
        return true;
    }

    // Prints the calls recorded since the last look; returns how many observer
    // events were held back.
    size_t showCalls(Show show) {
        std::vector<Call> calls = p_.callsSince(seen_);
        seen_ += calls.size();
        // What the batch says is gone is not asked about, not even for an
        // earlier line of the same batch.
        for (const Call& c : calls) {
            if (c.is(3, 2) && c.observerKnown) gone_.insert(c.observedNode);
            if (c.is(3, 7) || c.is(3, 11)) gone_.insert(c.arg(0));
        }
        size_t held = 0;
        for (const Call& c : calls) {
            PathLookup attributeName = [this, &c](Handle a) -> std::optional<std::string> {
                if (p_.detached() || !a || gone_.count(a) || gone_.count(c.observedNode))
                    return std::nullopt;
                return p_.valueName(a);
            };
            if (shown(c, show))
                line(callLine(c, pathLookup(), o_.json, attributeName));
            else if (c.category() == 3)
                ++held;
        }
        return held;
    }

    PathLookup pathLookup() {
        return [this](Handle h) { return pathOf(h); };
    }

    // Paths come from the walk; a node the walk did not see is looked up through
    // its parents, but only while the plug-in is there and the node is not known
    // to be gone.
    std::optional<std::string> pathOf(Handle h) {
        if (!h) return std::nullopt;
        auto it = paths_.find(h);
        if (it != paths_.end()) return it->second;
        if (p_.detached() || gone_.count(h) || !root_) return std::nullopt;
        std::vector<std::string> names;
        Handle n = h;
        for (int depth = 0; n && depth < 256; ++depth) {
            if (n == root_) {
                std::reverse(names.begin(), names.end());
                return paths_[h] = formatPath(names);
            }
            names.push_back(p_.name(n));
            n = p_.parent(n);
        }
        return std::nullopt;
    }

    void open() {
        if (!o_.noBuild) p_.build();
        root_ = p_.root();
    }

    void finish(Show show) {
        p_.detach();
        size_t held = showCalls(show);
        if (o_.subcommand == "watch") {
            if (o_.json)
                line(JsonObject()
                         .real("t", p_.secondsSinceLoad())
                         .text("event", "detached")
                         .number("observerEvents", static_cast<int64_t>(held))
                         .str());
            else
                line(timePrefix(p_.secondsSinceLoad()) + "detached, " + std::to_string(held) +
                     " observer events while the tree was destroyed" +
                     (held ? " (shown with --verbose)" : ""));
        }
    }

    Handle findNode(const std::vector<std::string>& names, const std::string& path) {
        std::string error;
        Handle node = p_.find(names, &error);
        if (!node) err_ << "kvq-host: unknown path \"" << path << "\": " << error << '\n';
        return node;
    }

    void result(Handle node, uint64_t code, int64_t value, double ms) {
        std::optional<std::string> path = pathOf(node);
        if (o_.json) {
            JsonObject j;
            j.real("t", p_.secondsSinceLoad()).text("event", "result");
            j.number("code", static_cast<int64_t>(code)).text("node", hex(node));
            if (path)
                j.text("path", *path);
            else
                j.null("path");
            line(j.number("value", value).real("ms", ms, 1).str());
        } else {
            char took[32];
            std::snprintf(took, sizeof took, " (%.1f ms)", ms);
            line(timePrefix(p_.secondsSinceLoad()) + "result " + std::to_string(value) +
                 " of command " + std::to_string(code) + " on " +
                 (path ? (path->empty() ? "(root)" : *path) : hex(node)) + took);
        }
    }

    // Runs one command and reports its result and how long it held the host's thread.
    void timedCommand(Handle node, uint64_t code, uint32_t w1) {
        auto start = std::chrono::steady_clock::now();
        int64_t value = p_.command(node, code, w1);
        double ms = msSince(start);
        showCalls(Show::Reports);
        result(node, code, value, ms);
    }

    int tree() {
        open();
        showCalls(Show::Errors);
        for (const TreeEntry& e : p_.walk(root_))
            line(treeLines(e, o_.json));
        finish(Show::Errors);
        return 0;
    }

    int command() {
        open();
        showCalls(Show::Errors);
        Handle node = findNode(o_.names, o_.path);
        if (!node) {
            finish(Show::Reports);
            return 1;
        }
        uint64_t code = o_.subcommand == "invoke" ? 289 : o_.code;
        timedCommand(node, code, o_.w1.value_or(p_.hostTarget()));
        finish(Show::Reports);
        return 0;
    }

    int watch() {
        // Ctrl+C from here on ends the watch early but still detaches.
        interrupted = 0;
        auto previous = std::signal(SIGINT, onInterrupt);
        int code = watchSession();
        std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
        return code;
    }

    int watchSession() {
        open();
        std::vector<TreeEntry> entries = p_.walk(root_);
        for (const TreeEntry& e : entries)
            paths_[e.handle] = formatPath(e.path);
        showCalls(Show::Reports); // what the plug-in announced while it built

        std::vector<Handle> targets;
        for (size_t i = 0; i < o_.invokeNames.size(); ++i) {
            Handle node = findNode(o_.invokeNames[i], o_.invokes[i]);
            if (!node) {
                finish(Show::ReportsNoObserver);
                return 1;
            }
            targets.push_back(node);
        }

        size_t observing = 0;
        for (const TreeEntry& e : entries)
            if (p_.observe(e.handle)) ++observing;
        if (o_.json)
            line(JsonObject()
                     .real("t", p_.secondsSinceLoad())
                     .text("event", "watching")
                     .number("nodes", static_cast<int64_t>(entries.size()))
                     .number("observers", static_cast<int64_t>(observing))
                     .real("seconds", o_.seconds)
                     .str());
        else
            line(timePrefix(p_.secondsSinceLoad()) + "watching " + std::to_string(entries.size()) +
                 " nodes (" + std::to_string(observing) + " observers) for " +
                 secondsText(o_.seconds) + " s");

        for (Handle node : targets)
            timedCommand(node, 289, p_.hostTarget());
        LoopProbe probe; // from here on: how long the plug-in holds the loop

        double start = p_.secondsSinceLoad();
        double end = start + o_.seconds;
        long lastReport = -1;
        for (;;) {
            double now = p_.secondsSinceLoad();
            if (interrupted || now >= end) break;
            if (o_.untilEof && plat::inputEnded()) {
                interrupted = 1;
                break;
            }
            double left = end - now;
            Plugin::pumpOnce(static_cast<uint32_t>(std::min<double>(left * 1000 + 1, kSliceMs)));
            showCalls(Show::Reports);
            long elapsed = static_cast<long>(p_.secondsSinceLoad() - start);
            if (o_.progress && elapsed != lastReport) {
                lastReport = elapsed;
                err_ << "kvq-host: watching, " << elapsed << " of " << o_.seconds << " s, "
                     << p_.callCount() << " calls so far\n"
                     << std::flush;
            }
        }
        if (interrupted)
            line(o_.json ? JsonObject()
                               .real("t", p_.secondsSinceLoad())
                               .text("event", "interrupted")
                               .str()
                         : timePrefix(p_.secondsSinceLoad()) + "interrupted");
        if (o_.json)
            line(JsonObject()
                     .real("t", p_.secondsSinceLoad())
                     .text("event", "loop")
                     .real("longestHoldMs", probe.longestGapMs(), 1)
                     .number("ticks", probe.ticks())
                     .str());
        else
            line(timePrefix(p_.secondsSinceLoad()) + "message loop: longest hold " +
                 std::to_string(static_cast<long>(probe.longestGapMs())) + " ms");
        finish(Show::ReportsNoObserver);
        return 0;
    }

    Plugin& p_;
    const Options& o_;
    std::ostream& out_;
    std::ostream& err_;
    size_t seen_ = 0;
    Handle root_ = 0;
    std::map<Handle, std::string> paths_;
    std::set<Handle> gone_;
};

// cycles: the plug-in loaded, used and unloaded again and again, with the
// process's resources read before and after.
class Cycles {
public:
    Cycles(const Options& options, std::ostream& out, std::ostream& err)
        : o_(options), out_(out), err_(err), start_(std::chrono::steady_clock::now()) {}

    int run() {
        constexpr int kWarmUp = 2;
        for (int i = 0; i < kWarmUp; ++i)
            if (int code = cycle(); code != 0) return code;
        longestDetachMs_ = 0;
        plat::ProcessResources baseline = settled(nullptr, kTimerWaitMs);
        report(0, baseline, 0);
        plat::ProcessResources last = baseline;
        for (uint32_t k = 1; k <= o_.count; ++k) {
            int fired = 0;
            if (int code = cycle(&fired); code != 0) return code;
            last = settled(&baseline, k == o_.count ? kTimerWaitMs : 0);
            report(k, last, fired);
        }
        return verdict(baseline, last);
    }

private:
    static constexpr uint32_t kTimerWaitMs = 1100; // longer than the plug-ins' longest period

    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

    // One load, attach, build, use, detach and unload; 0, or the tool's exit code.
    int cycle(int* fired = nullptr) {
        std::string error;
        std::unique_ptr<Plugin> p = Plugin::load(o_.library, error);
        if (!p) {
            err_ << "kvq-host: " << error << '\n';
            return 1;
        }
        if (!p->attach()) {
            err_ << "kvq-host: \"" << o_.library
                 << "\" refused attach: the library has no plug-in object\n";
            return 1;
        }
        p->build();
        for (size_t i = 0; i < o_.invokeNames.size(); ++i) {
            Handle node = p->find(o_.invokeNames[i], &error);
            if (!node) {
                err_ << "kvq-host: unknown path \"" << o_.invokes[i] << "\": " << error << '\n';
                return 1;
            }
            p->command(node, 289, p->hostTarget());
        }
        Plugin::pump(static_cast<uint32_t>(o_.seconds * 1000));
        plat::processResources(&loaded_, 0);
        auto detachStart = std::chrono::steady_clock::now();
        p->detach();
        detachMs_ = msSince(detachStart);
        longestDetachMs_ = std::max(longestDetachMs_, detachMs_);
        if (fired) {
            for (const Call& c : p->calls())
                if (c.is(2, 2) && c.arg(2) == 321) ++*fired;
        }
        void* instance = p->moduleInstance();
        p.reset(); // unloads the library
        classes_ = 0;
        for (const std::string& name : o_.classes)
            classes_ += plat::classRegistered(instance, name.c_str());
        return 0;
    }

    // A worker may still be on its way out when its object is gone, so a reading
    // counts once it matches the baseline or holds still, within 3 s.
    static plat::ProcessResources settled(const plat::ProcessResources* baseline,
                                          uint32_t timerWaitMs) {
        auto same = [](const plat::ProcessResources& a, const plat::ProcessResources& b) {
            return a.handles == b.handles && a.threads == b.threads && a.windows == b.windows;
        };
        plat::ProcessResources r{};
        plat::processResources(&r, 0);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (int still = 0; still < 10 && std::chrono::steady_clock::now() < deadline;) {
            if (baseline && same(r, *baseline)) break;
            plat::sleep(20);
            plat::ProcessResources next{};
            plat::processResources(&next, 0);
            still = same(next, r) ? still + 1 : 0;
            r = next;
        }
        plat::ProcessResources timers{};
        plat::processResources(&timers, timerWaitMs);
        r.timers = timers.timers;
        return r;
    }

    void report(uint32_t k, const plat::ProcessResources& r, int fired) {
        if (o_.json) {
            out_ << JsonObject()
                        .real("t", seconds())
                        .text("event", "cycle")
                        .number("cycle", k)
                        .number("handles", r.handles)
                        .number("threads", r.threads)
                        .number("windows", r.windows)
                        .number("timers", r.timers)
                        .number("fired", fired)
                        .number("loadedHandles", loaded_.handles)
                        .number("loadedThreads", loaded_.threads)
                        .number("loadedWindows", loaded_.windows)
                        .real("detachMs", detachMs_, 1)
                        .number("classes", classes_)
                        .str()
                 << '\n';
        } else {
            out_ << timePrefix(seconds()) << "cycle " << k << ": handles " << r.handles
                 << ", threads " << r.threads << ", windows " << r.windows << ", timers "
                 << r.timers << ", fired " << fired << " (loaded: handles " << loaded_.handles
                 << ", threads " << loaded_.threads << ", windows " << loaded_.windows
                 << "; detach " << static_cast<long>(detachMs_) << " ms)"
                 << (o_.classes.empty() ? "" : ", classes " + std::to_string(classes_)) << '\n';
        }
        out_ << std::flush;
    }

    int verdict(const plat::ProcessResources& before, const plat::ProcessResources& after) {
        const int handles = after.handles - before.handles;
        const int threads = after.threads - before.threads;
        const int windows = after.windows - before.windows;
        const int timers = after.timers - before.timers;
        const bool clean =
            handles == 0 && threads == 0 && windows == 0 && timers == 0 && classes_ == 0;
        if (o_.json) {
            out_ << JsonObject()
                        .real("t", seconds())
                        .text("event", "left")
                        .number("cycles", o_.count)
                        .number("handles", handles)
                        .number("threads", threads)
                        .number("windows", windows)
                        .number("timers", timers)
                        .number("classes", classes_)
                        .real("longestDetachMs", longestDetachMs_, 1)
                        .boolean("clean", clean)
                        .str()
                 << '\n';
        } else if (clean) {
            out_ << timePrefix(seconds()) << "nothing left behind after " << o_.count
                 << " cycles\n";
        } else {
            out_ << timePrefix(seconds()) << "left behind after " << o_.count << " cycles: handles "
                 << handles << ", threads " << threads << ", windows " << windows << ", timers "
                 << timers << ", window classes " << classes_ << '\n';
        }
        out_ << std::flush;
        return clean ? 0 : 3;
    }

    const Options& o_;
    std::ostream& out_;
    std::ostream& err_;
    std::chrono::steady_clock::time_point start_;
    plat::ProcessResources loaded_{}; // read at the end of the last cycle's message loop
    double detachMs_ = 0;             // the last cycle's detach
    int classes_ = 0;                 // --class names still registered after the last unload
    double longestDetachMs_ = 0;      // over the cycles after the warm-up
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
    if (o.subcommand == "cycles") return Cycles(o, out, err).run();
    std::unique_ptr<Plugin> plugin = Plugin::load(o.library, error);
    if (!plugin) {
        err << "kvq-host: " << error << '\n';
        return 1;
    }
    plugin->setDestroyFired(o.destroyFired);
    return Session(*plugin, o, out, err).run();
}

} // namespace kvqhost
