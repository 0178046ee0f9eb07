// kvq-host cycles: the plug-in loaded, used and unloaded again and again, with
// what the process holds of the system read before and after; exit code 3 when
// something was left behind.
#include "verbs.h"

#include "../plugin.h"
#include "../report.h"
#include "../session.h"
#include "common/json.h"
#include "entry/entryCodes.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/windows.h"

#include <algorithm>
#include <memory>

namespace kvqhost {
namespace {

using kvqtools::JsonObject;

// The cycles, their readings and the verdict.
class Cycles {
public:
    Cycles(const CyclesOptions& options, std::ostream& out, std::ostream& err)
        : o_(options), out_(out), err_(err), start_(HostClock::now()) {}

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
        return std::chrono::duration<double>(HostClock::now() - start_).count();
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
            p->command(node, kCommandInvoke, p->hostTarget());
        }
        Plugin::pump(static_cast<uint32_t>(o_.seconds * 1000));
        plat::processResources(&loaded_, 0);
        auto detachStart = HostClock::now();
        p->detach();
        detachMs_ = msSince(detachStart);
        longestDetachMs_ = std::max(longestDetachMs_, detachMs_);
        if (fired) {
            for (const Call& c : p->calls())
                if (c.is(kCategoryNode, kNodeCommand) && c.arg(2) == kCodeFired) ++*fired;
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
        auto deadline = HostClock::now() + std::chrono::seconds(3);
        for (int still = 0; still < 10 && HostClock::now() < deadline;) {
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

    const CyclesOptions& o_;
    std::ostream& out_;
    std::ostream& err_;
    HostClock::time_point start_;
    plat::ProcessResources loaded_{}; // read at the end of the last cycle's message loop
    double detachMs_ = 0;             // the last cycle's detach
    int classes_ = 0;                 // --class names still registered after the last unload
    double longestDetachMs_ = 0;      // over the cycles after the warm-up
};

int runCycles(const CyclesOptions& o, std::ostream& out, std::ostream& err) {
    return Cycles(o, out, err).run();
}

std::vector<kvqtools::Option> cyclesOptions(CyclesOptions& o) {
    std::vector<kvqtools::Option> table =
        loopOptions(o, "S", "message loop time of each cycle",
                    "invoke the function node at PATH in every cycle");
    table.insert(table.begin(), countOption("--count", "N", o.count, 1, 100000, "cycles",
                                            "cycles after the warm-up (1 to 100000)"));
    table.push_back(kvqtools::textsOption(
        "--class", "NAME", o.classes,
        "a window class the plug-in registers: after each unload, a class of\n"
        "that name still registered under the module instance the tool handed\n"
        "over counts as left behind (the system keeps a library's classes\n"
        "when it is unloaded, with a window procedure in code that is gone)"));
    return table;
}

} // namespace

const Verb& cyclesVerb() {
    static const VerbOf<CyclesOptions> verb(
        {"cycles", "LIB",
         "load, use and unload LIB again and again; check that\n"
         "nothing of the process's resources is left behind",
         "Checks that the plug-in gives back what it takes. Each cycle loads LIB, attaches,\n"
         "builds, invokes each --invoke PATH (command 289), runs the message loop for S seconds\n"
         "(default 0.5) so that the plug-in's devices, workers and timers do their work,\n"
         "detaches and unloads LIB. After two warm-up cycles the process's resources are read\n"
         "(the baseline), then after each of N cycles (default 20): open handles (file\n"
         "descriptors natively), threads, windows of the host's thread and timers still firing\n"
         "(on Windows: timer messages that arrive within 1.1 s of the baseline and the last\n"
         "cycle). A reading is taken once it holds still, at most 3 s after the unload.\n",
         "One line per reading: [t] cycle K: handles H, threads T, windows W, timers M, fired F\n"
         "(loaded: ...; detach D ms), with \", classes C\" when --class is given (K 0 is the\n"
         "baseline; F the events the plug-in fired in that cycle; the loaded figures were read\n"
         "at the end of the cycle's message loop, before the detach, which took D ms; JSON\n"
         "\"event\":\"cycle\" with those fields, \"loadedHandles\", \"loadedThreads\",\n"
         "\"loadedWindows\" and \"detachMs\"); then \"nothing left behind\" or what was left\n"
         "(JSON \"event\":\"left\" with the differences, \"classes\", \"longestDetachMs\" and\n"
         "\"clean\"). Exit status 3 when something was left.\n",
         false},
        cyclesOptions, takeLoopOperands, runCycles);
    return verb;
}

} // namespace kvqhost
