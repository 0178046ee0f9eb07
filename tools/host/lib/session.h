// What every verb of kvq-host that talks to one loaded plug-in shares: the
// library loaded and attached, built (or not), the call-outs printed as they
// are recorded, paths of nodes for the lines, commands timed with their
// `result` line, and the detach. A verb (verbs/*.cpp) opens a Session, does
// its own work between open() and finish(), and returns the exit code.
#pragma once

#include "cli.h"
#include "platform/host.h"
#include "plugin.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace kvqhost {

// Every time and deadline of the tool: the platform's monotonic clock.
using HostClock = plat::MonotonicClock;

inline double msBetween(HostClock::time_point from, HostClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double msSince(HostClock::time_point from) {
    return msBetween(from, HostClock::now());
}

// What a verb that loads a plug-in holds, and Session reads.
struct SessionOptions : VerbOptions {
    std::string library;
    bool build = true;                       // tree --no-build
    bool destroyFired = false;               // watch, for tests
    std::vector<std::string> foreignClasses; // watch, for tests
};

class Session {
public:
    // Which recorded calls a phase prints.
    enum class Show { Errors, Reports, ReportsNoObserver };

    // Loads the library of `options` and attaches to it. When either fails, the
    // error line is printed already and ready() is false (exit code 1).
    Session(const SessionOptions& options, std::ostream& out, std::ostream& err);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool ready() const { return plugin_ && attached_; }
    Plugin& plugin() { return *plugin_; }
    const SessionOptions& options() const { return o_; }
    std::ostream& err() { return err_; }
    Handle root() const { return root_; }

    // Builds (unless --no-build) and asks for the root.
    void open();
    // Detaches and prints what the detach brought; returns how many observer
    // events were held back.
    size_t finish(Show show);

    // One line of output, flushed.
    void line(const std::string& text);
    // Prints the calls recorded since the last look; returns how many observer
    // events were held back.
    size_t showCalls(Show show);
    // Lets go of the calls printed so far, so that a watch of days keeps no
    // more than a turn of the loop's worth.
    void forgetShownCalls();
    // Calls recorded since the library was loaded, forgotten ones included.
    size_t callsSoFar() const;

    // Paths that a tree walk saw, so that lines name nodes without asking.
    void rememberPaths(const std::vector<TreeEntry>& entries);
    std::optional<std::string> pathOf(Handle h);

    // The node at `names`; 0, with one error line naming `path`, when there is none.
    Handle findNode(const std::vector<std::string>& names, const std::string& path);
    // Runs one command and prints what the plug-in reported during it, then its
    // `result` line with how long it held the host's thread.
    void timedCommand(Handle node, uint64_t code, uint32_t w1);

private:
    bool shown(const Call& c, Show show) const;
    void result(Handle node, uint64_t code, int64_t value, double ms);

    const SessionOptions& o_;
    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<Plugin> plugin_;
    bool attached_ = false;
    size_t seen_ = 0;
    size_t forgotten_ = 0;
    Handle root_ = 0;
    std::map<Handle, std::string> paths_;
    std::set<Handle> gone_;
};

} // namespace kvqhost
