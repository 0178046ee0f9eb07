// The host side of the boundary at its core: the host entry that takes every
// call-out, routes it by context word to its Plugin, answers the host queries
// and records it; a Plugin's life (load, attach context, unload), its raw
// records, its host observers and its recorded calls. The typed operations,
// the tree walk and the message loop build on these (pluginOperations.cpp,
// pluginTree.cpp, pluginLoop.cpp).
#include "plugin.h"

#include "entry/entryCodes.h"
#include "platform/host.h"
#include "platform/threads.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace kvqhost {
namespace {

constexpr size_t kMaxText = 65536; // a text longer than this is cut: no runaway read
constexpr uint32_t kFirstContext = 0x4B510001;

// Routing of call-outs by context word, and the order of all calls. One lock
// for everything the host entry touches; it is never held while a plug-in runs.
struct Registry {
    plat::Mutex lock; // the Windows tool chain of the DLLs has no std::mutex
    std::map<uint32_t, Plugin*> byContext;
    uint32_t nextContext = kFirstContext;
    uint64_t sequence = 0;
    std::vector<Call> unrouted;
};

Registry& registry() {
    static Registry r;
    return r;
}

void putWord(EntryMessage* m, uint32_t value) {
    std::memcpy(m->result, &value, 4);
}

} // namespace

std::optional<std::string> copyText(uint32_t pointer) {
    if (!pointer) return std::nullopt;
    const char* s = fromHandle<const char>(pointer);
    size_t n = 0;
    while (n < kMaxText && s[n]) // strnlen is not everywhere
        ++n;
    return std::string(s, n);
}

extern "C" void kvqHostEntry(EntryMessage* message) {
    if (!message) return;
    Call call;
    call.record = *message;
    if (call.is(kCategoryPlugin, kRequestReportError))
        call.text = copyText(message->object);
    else if (call.is(kCategoryObserver, kEventNameChanged) ||
             call.is(kCategoryObserver, kEventLabelChanged) ||
             call.is(kCategoryShortName, kRequestShortName))
        call.text = copyText(message->a[0]);

    Plugin* plugin = nullptr;
    Handle destroy = 0;
    {
        Registry& r = registry();
        plat::MutexGuard guard(r.lock);
        call.sequence = ++r.sequence;
        auto it = r.byContext.find(message->context);
        plugin = it == r.byContext.end() ? nullptr : it->second;

        // Answers, written before returning: the plug-in reads them right after the call.
        if (call.is(kCategoryPlugin, kRequestHostTarget))
            putWord(message, plugin ? plugin->hostTarget() : 0);
        else if (call.is(kCategoryPlugin, kRequestHostSource))
            putWord(message, plugin ? plugin->hostSource() : 0);
        else if (call.is(kCategoryNode, kNodeCommand))
            std::memset(message->result, 0, 8);

        if (!plugin) {
            r.unrouted.push_back(std::move(call));
            return;
        }
        call.seconds = plugin->secondsSinceLoad();
        if (call.category() == kCategoryObserver) plugin->noteObserverEvent(call);
        if (plugin->destroyFired_ && call.is(kCategoryNode, kNodeCommand) &&
            call.arg(2) == kCodeFired)
            destroy = call.commandNode();
        plugin->record(std::move(call));
    }
    // Within the call-out, and without the lock: the plug-in runs again.
    if (destroy) plugin->call(kCategoryNode, kNodeDestroy, destroy);
}

// A line of the process's debug output, kept with the plug-in loaded last: the
// one that is attaching or building when a plug-in writes one.
void recordDebugLine(const char* text) {
    if (!text) return;
    Call call;
    call.debug = true;
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    call.text = std::move(line);
    Registry& r = registry();
    plat::MutexGuard guard(r.lock);
    if (r.byContext.empty()) return;
    Plugin* plugin = r.byContext.rbegin()->second;
    call.sequence = ++r.sequence;
    call.seconds = plugin->secondsSinceLoad();
    plugin->record(std::move(call));
}

// ---------------------------------------------------------------- life

std::unique_ptr<Plugin> Plugin::load(const std::string& path, std::string& error) {
    // Without a folder the user means this folder, not the loader's search.
    std::string file = plat::libraryPathPrefix(path.c_str()) + path;
    if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
        std::fclose(f);
    } else {
        error = "cannot load \"" + path + "\": " + std::strerror(errno);
        return nullptr;
    }
    char text[512] = {};
    void* library = plat::loadLibrary(file.c_str(), text, sizeof text);
    if (!library) {
        error = "cannot load \"" + path +
                "\": " + (text[0] ? text : "the system could not load the library");
        return nullptr;
    }
    void* entry = plat::findSymbol(library, "V_KVQ_ENTRY");
    if (!entry) {
        plat::freeLibrary(library);
        error = "\"" + path + "\" does not export V_KVQ_ENTRY: it is not a plug-in library";
        return nullptr;
    }
    return std::unique_ptr<Plugin>(
        new Plugin(reinterpret_cast<EntryFunction*>(entry), library, library, path));
}

Plugin::Plugin(EntryFunction* entry, void* moduleInstance)
    : Plugin(entry, nullptr, moduleInstance, std::string()) {}

Plugin::Plugin(EntryFunction* entry, void* library, void* moduleInstance, std::string path)
    : library_(library), entry_(entry), module_(moduleInstance), path_(std::move(path)),
      loadedAt_(plat::MonotonicClock::now()) {
    Registry& r = registry();
    plat::MutexGuard guard(r.lock);
    do {
        context_ = r.nextContext++;
    } while (context_ == 0 || r.byContext.count(context_));
    r.byContext[context_] = this;
    plat::listenDebugOutput(&recordDebugLine);
    hostTarget_ = toHandle(&targetTag_);
    hostSource_ = context_ ^ 0x53530000u;
}

Plugin::~Plugin() {
    if (attached_ && !detached_)
        detach();
    else
        unobserveAll();
    {
        Registry& r = registry();
        plat::MutexGuard guard(r.lock);
        r.byContext.erase(context_);
    }
    if (library_) plat::freeLibrary(library_);
}

void Plugin::setHostTarget(Handle h) {
    plat::MutexGuard guard(registry().lock);
    hostTarget_ = h;
}

void Plugin::setHostSource(uint32_t s) {
    plat::MutexGuard guard(registry().lock);
    hostSource_ = s;
}

double Plugin::secondsSinceLoad() const {
    return std::chrono::duration<double>(plat::MonotonicClock::now() - loadedAt_).count();
}

// ---------------------------------------------------------------- raw records

EntryMessage Plugin::send(const EntryMessage& message) {
    EntryMessage m = message;
    if (entry_) entry_(&m);
    return m;
}

EntryMessage Plugin::call(uint16_t category, int32_t operation, uint32_t object,
                          const std::array<uint32_t, 8>& a) {
    EntryMessage m{};
    m.category = category;
    m.operation = operation;
    m.object = object;
    std::copy(a.begin(), a.end(), m.a);
    return send(m);
}

uint32_t Plugin::word(const EntryMessage& m) {
    uint32_t v;
    std::memcpy(&v, m.result, 4);
    return v;
}

uint64_t Plugin::wide(const EntryMessage& m) {
    uint64_t v;
    std::memcpy(&v, m.result, 8);
    return v;
}

double Plugin::real(const EntryMessage& m) {
    double v;
    std::memcpy(&v, m.result, 8);
    return v;
}

std::string Plugin::text(uint32_t pointer) const {
    return copyText(pointer).value_or("");
}

// ---------------------------------------------------------------- observers

Handle Plugin::observe(Handle node) {
    auto observer = std::make_unique<HostObserver>();
    HostObserver* o = observer.get();
    o->handle = toHandle(o);
    o->node = node;
    {
        plat::MutexGuard guard(registry().lock);
        observers_[o->handle] = std::move(observer);
    }
    Handle proxy = word(call(kCategoryObserver, kObserverCreate, node, {o->handle}));
    plat::MutexGuard guard(registry().lock);
    if (!proxy || hostHandleOfProxy_.count(proxy)) {
        // None, or a handle already in use: the plug-in gave nothing we can end.
        observers_.erase(o->handle);
        return 0;
    }
    o->proxy = proxy;
    hostHandleOfProxy_[proxy] = o->handle;
    return proxy;
}

bool Plugin::unobserve(Handle proxy) {
    if (!proxy) return false;
    Handle hostHandle = 0;
    {
        plat::MutexGuard guard(registry().lock);
        auto it = hostHandleOfProxy_.find(proxy);
        if (it == hostHandleOfProxy_.end()) return false;
        hostHandle = it->second;
        hostHandleOfProxy_.erase(it);
    }
    call(kCategoryObserver, kObserverDestroy, proxy);
    plat::MutexGuard guard(registry().lock);
    observers_.erase(hostHandle);
    return true;
}

void Plugin::unobserveAll() {
    std::vector<Handle> proxies;
    {
        plat::MutexGuard guard(registry().lock);
        for (const auto& [proxy, h] : hostHandleOfProxy_)
            proxies.push_back(proxy);
    }
    for (Handle p : proxies)
        unobserve(p);
}

std::vector<HostObserver> Plugin::observers() const {
    plat::MutexGuard guard(registry().lock);
    std::vector<HostObserver> out;
    for (const auto& [h, o] : observers_)
        out.push_back(*o);
    return out;
}

std::optional<HostObserver> Plugin::observerByHandle(Handle hostObserver) const {
    plat::MutexGuard guard(registry().lock);
    auto it = observers_.find(hostObserver);
    if (it == observers_.end()) return std::nullopt;
    return *it->second;
}

void Plugin::noteObserverEvent(Call& c) {
    auto it = observers_.find(c.object());
    if (it == observers_.end()) return;
    c.observerKnown = true;
    c.observedNode = it->second->node;
    if (c.operation() == kEventNodeDestroyed) it->second->nodeDestroyed = true;
}

// ---------------------------------------------------------------- recorded calls

void Plugin::record(Call c) {
    calls_.push_back(std::move(c));
}

std::vector<Call> Plugin::calls() const {
    plat::MutexGuard guard(registry().lock);
    return calls_;
}

std::vector<Call> Plugin::callsSince(size_t index) const {
    plat::MutexGuard guard(registry().lock);
    if (index >= calls_.size()) return {};
    return std::vector<Call>(calls_.begin() + static_cast<std::ptrdiff_t>(index), calls_.end());
}

size_t Plugin::callCount() const {
    plat::MutexGuard guard(registry().lock);
    return calls_.size();
}

void Plugin::clearCalls() {
    plat::MutexGuard guard(registry().lock);
    calls_.clear();
}

std::vector<Call> Plugin::callsOf(uint16_t category, int32_t operation) const {
    plat::MutexGuard guard(registry().lock);
    std::vector<Call> out;
    for (const Call& c : calls_)
        if (c.is(category, operation)) out.push_back(c);
    return out;
}

std::vector<Call> unroutedCalls() {
    plat::MutexGuard guard(registry().lock);
    return registry().unrouted;
}

void clearUnroutedCalls() {
    plat::MutexGuard guard(registry().lock);
    registry().unrouted.clear();
}

} // namespace kvqhost
