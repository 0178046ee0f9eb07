// A short session with one plug-in, shared by the verbs: load, attach, build,
// print what the plug-in reports, detach.
#include "session.h"

#include "common/json.h"
#include "entry/entryCodes.h"
#include "nodePath.h"
#include "platform/windows.h"
#include "report.h"

#include <algorithm>
#include <cstdio>

namespace kvqhost {

using kvqtools::JsonObject;

namespace {
// The procedure of a --foreign-class: the tool's, not the library's.
intptr_t KVQ_CALLBACK foreignProcedure(plat::Window window, uint32_t message, uintptr_t wParam,
                                       intptr_t lParam) {
    return plat::defWindowProc(window, message, wParam, lParam);
}
} // namespace

Session::Session(const SessionOptions& options, std::ostream& out, std::ostream& err)
    : o_(options), out_(out), err_(err) {
    std::string error;
    plugin_ = Plugin::load(o_.library, error);
    if (!plugin_) {
        err_ << "kvq-host: " << error << '\n';
        return;
    }
    plugin_->setDestroyFired(o_.destroyFired);
    for (const std::string& name : o_.foreignClasses)
        if (!plat::registerClass(plugin_->moduleInstance(), name.c_str(), &foreignProcedure))
            err_ << "kvq-host: cannot register the window class \"" << name << "\"\n";
    attached_ = plugin_->attach();
    if (!attached_)
        err_ << "kvq-host: \"" << o_.library
             << "\" refused attach: the library has no plug-in object\n";
}

void Session::line(const std::string& text) {
    out_ << text << '\n' << std::flush;
}

bool Session::shown(const Call& c, Show show) const {
    if (o_.verbose) return true;
    if (isQuery(c)) return false;
    switch (show) {
    case Show::Errors:
        return c.is(kCategoryPlugin, kRequestReportError);
    case Show::Reports:
        return true;
    case Show::ReportsNoObserver:
        return c.category() != 3;
    }
    return true;
}

size_t Session::showCalls(Show show) {
    Plugin& p = *plugin_;
    std::vector<Call> calls = p.callsSince(seen_);
    seen_ += calls.size();
    // What the batch says is gone is not asked about, not even for an
    // earlier line of the same batch.
    for (const Call& c : calls) {
        if (c.is(kCategoryObserver, kEventNodeDestroyed) && c.observerKnown)
            gone_.insert(c.observedNode);
        if (c.is(kCategoryObserver, kEventAttributeRemoved) ||
            c.is(kCategoryObserver, kEventChildRemoved))
            gone_.insert(c.arg(0));
    }
    PathLookup paths = [this](Handle h) { return pathOf(h); };
    size_t held = 0;
    for (const Call& c : calls) {
        PathLookup attributeName = [this, &p, &c](Handle a) -> std::optional<std::string> {
            if (p.detached() || !a || gone_.count(a) || gone_.count(c.observedNode))
                return std::nullopt;
            return p.valueName(a);
        };
        if (shown(c, show))
            line(callLine(c, paths, o_.json, attributeName));
        else if (c.category() == kCategoryObserver)
            ++held;
    }
    return held;
}

void Session::forgetShownCalls() {
    forgotten_ += seen_;
    plugin_->clearCalls();
    seen_ = 0;
}

size_t Session::callsSoFar() const {
    return forgotten_ + plugin_->callCount();
}

void Session::rememberPaths(const std::vector<TreeEntry>& entries) {
    for (const TreeEntry& e : entries)
        paths_[e.handle] = formatPath(e.path);
}

// Paths come from the walk; a node the walk did not see is looked up through
// its parents, but only while the plug-in is there and the node is not known
// to be gone.
std::optional<std::string> Session::pathOf(Handle h) {
    if (!h) return std::nullopt;
    auto it = paths_.find(h);
    if (it != paths_.end()) return it->second;
    if (plugin_->detached() || gone_.count(h) || !root_) return std::nullopt;
    std::vector<std::string> names;
    Handle n = h;
    for (int depth = 0; n && depth < 256; ++depth) {
        if (n == root_) {
            std::reverse(names.begin(), names.end());
            return paths_[h] = formatPath(names);
        }
        names.push_back(plugin_->name(n));
        n = plugin_->parent(n);
    }
    return std::nullopt;
}

void Session::open() {
    if (o_.build) plugin_->build();
    root_ = plugin_->root();
}

size_t Session::finish(Show show) {
    plugin_->detach();
    return showCalls(show);
}

Handle Session::findNode(const std::vector<std::string>& names, const std::string& path) {
    std::string error;
    Handle node = plugin_->find(names, &error);
    if (!node) err_ << "kvq-host: unknown path \"" << path << "\": " << error << '\n';
    return node;
}

void Session::result(Handle node, uint64_t code, int64_t value, double ms) {
    std::optional<std::string> path = pathOf(node);
    const double t = plugin_->secondsSinceLoad();
    if (o_.json) {
        JsonObject j;
        j.real("t", t).text("event", "result");
        j.number("code", static_cast<int64_t>(code)).text("node", hex(node));
        if (path)
            j.text("path", *path);
        else
            j.null("path");
        line(j.number("value", value).real("ms", ms, 1).str());
    } else {
        char took[32];
        std::snprintf(took, sizeof took, " (%.1f ms)", ms);
        line(timePrefix(t) + "result " + std::to_string(value) + " of command " +
             std::to_string(code) + " on " +
             (path ? (path->empty() ? "(root)" : *path) : hex(node)) + took);
    }
}

void Session::timedCommand(Handle node, uint64_t code, uint32_t w1) {
    auto start = HostClock::now();
    int64_t value = plugin_->command(node, code, w1);
    double ms = msSince(start);
    showCalls(Show::Reports);
    result(node, code, value, ms);
}

} // namespace kvqhost
