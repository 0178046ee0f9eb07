#include "plugin.h"

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
constexpr int kMaxDepth = 256;
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

std::optional<std::string> copyText(uint32_t pointer) {
    if (!pointer) return std::nullopt;
    const char* s = fromHandle<const char>(pointer);
    size_t n = 0;
    while (n < kMaxText && s[n]) // strnlen is not everywhere
        ++n;
    return std::string(s, n);
}

void putWord(EntryMessage* m, uint32_t value) {
    std::memcpy(m->result, &value, 4);
}

} // namespace

extern "C" void kvqHostEntry(EntryMessage* message) {
    if (!message) return;
    Call call;
    call.record = *message;
    if (call.is(1, 304))
        call.text = copyText(message->object);
    else if (call.is(3, 3) || call.is(3, 4) || call.is(5, 112))
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
        if (call.is(1, 207))
            putWord(message, plugin ? plugin->hostTarget() : 0);
        else if (call.is(1, 11))
            putWord(message, plugin ? plugin->hostSource() : 0);
        else if (call.is(2, 2))
            std::memset(message->result, 0, 8);

        if (!plugin) {
            r.unrouted.push_back(std::move(call));
            return;
        }
        call.seconds = plugin->secondsSinceLoad();
        if (call.category() == 3) plugin->noteObserverEvent(call);
        if (plugin->destroyFired_ && call.is(2, 2) && call.arg(2) == 321)
            destroy = call.commandNode();
        plugin->record(std::move(call));
    }
    // Within the call-out, and without the lock: the plug-in runs again.
    if (destroy) plugin->call(2, 1, destroy);
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

const char* kindName(ValueKind kind) {
    switch (kind) {
    case ValueKind::Empty:
        return "empty";
    case ValueKind::Text:
        return "text";
    case ValueKind::Int32:
        return "int32";
    case ValueKind::Int64:
        return "int64";
    case ValueKind::Real:
        return "real";
    case ValueKind::Guid:
        return "guid";
    case ValueKind::Unknown:
        break;
    }
    return "unknown";
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

// ---------------------------------------------------------------- category 1

bool Plugin::attach() {
    uint32_t entry = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&kvqHostEntry));
    attached_ = word(call(1, 1, entry, {context_, 0, toHandle(module_)})) == 1;
    if (attached_) detached_ = false;
    return attached_;
}

void Plugin::build() {
    call(1, 10);
}

bool Plugin::detach() {
    bool done = word(call(1, 2)) == 1;
    if (done) detached_ = true;
    // The proxies outlive their nodes; only the host can end them.
    unobserveAll();
    return done;
}

Handle Plugin::pluginObject() {
    return word(call(1, 7));
}
std::optional<std::string> Plugin::displayName() {
    return copyText(word(call(1, 9)));
}
Handle Plugin::root() {
    return word(call(1, 11));
}
Handle Plugin::identification() {
    return word(call(1, 12));
}
uint32_t Plugin::recordSize() {
    return word(call(1, 30));
}
void Plugin::setHostData(uint32_t value) {
    call(1, 300, value);
}
uint32_t Plugin::hostData() {
    return word(call(1, 301));
}

// ---------------------------------------------------------------- category 2

std::string Plugin::name(Handle node) {
    return text(word(call(2, 3, node)));
}
std::string Plugin::type(Handle node) {
    return text(word(call(2, 5, node)));
}
std::string Plugin::category(Handle node) {
    return text(word(call(2, 6, node)));
}
std::string Plugin::label(Handle node) {
    return text(word(call(2, 7, node)));
}
std::optional<std::string> Plugin::valueText(Handle node) {
    return copyText(word(call(2, 9, node)));
}

ValueKind Plugin::valueKind(Handle node) {
    static const std::pair<int, ValueKind> tests[] = {{22, ValueKind::Text},
                                                      {23, ValueKind::Int32},
                                                      {24, ValueKind::Int64},
                                                      {25, ValueKind::Real},
                                                      {26, ValueKind::Guid}};
    for (const auto& [op, kind] : tests)
        if (word(call(2, op, node))) return kind;
    return ValueKind::Empty;
}

uint32_t Plugin::flags(Handle node) {
    return word(call(2, 27, node));
}
bool Plugin::isActive(Handle node) {
    return word(call(2, 40, node)) != 0;
}
void Plugin::setActive(Handle node, bool on) {
    call(2, 41, node, {on ? 1u : 0u});
}
Handle Plugin::parent(Handle node) {
    return word(call(2, 90, node));
}
bool Plugin::hasChildren(Handle node) {
    return word(call(2, 95, node)) != 0;
}
uint32_t Plugin::childCount(Handle node) {
    return word(call(2, 96, node));
}
Handle Plugin::firstChild(Handle node) {
    return word(call(2, 97, node));
}
Handle Plugin::nextChild(Handle node, Handle child) {
    return word(call(2, 99, node, {child}));
}

std::vector<Handle> Plugin::children(Handle node) {
    std::vector<Handle> out;
    std::set<Handle> seen;
    for (Handle c = firstChild(node); c && seen.insert(c).second; c = nextChild(node, c))
        out.push_back(c);
    return out;
}

uint32_t Plugin::attributeCount(Handle node) {
    return word(call(2, 74, node));
}
Handle Plugin::firstAttribute(Handle node) {
    return word(call(2, 75, node));
}
Handle Plugin::nextAttribute(Handle node, Handle attribute) {
    return word(call(2, 78, node, {attribute}));
}
Handle Plugin::findAttribute(Handle node, const std::string& name) {
    return word(call(2, 79, node, {toHandle(name.c_str())}));
}

std::vector<Handle> Plugin::attributes(Handle node) {
    std::vector<Handle> out;
    std::set<Handle> seen;
    for (Handle a = firstAttribute(node); a && seen.insert(a).second; a = nextAttribute(node, a))
        out.push_back(a);
    return out;
}

std::optional<std::string> Plugin::attributeText(Handle node, const std::string& name) {
    return copyText(word(call(2, 54, node, {toHandle(name.c_str())})));
}

int32_t Plugin::attributeInt(Handle node, const std::string& name) {
    return static_cast<int32_t>(word(call(2, 56, node, {toHandle(name.c_str())})));
}

int64_t Plugin::command(Handle node, const std::array<uint32_t, 7>& w) {
    EntryMessage m = call(2, 2, node, {w[0], 0, w[1], w[2], w[3], w[4], w[5], w[6]});
    return static_cast<int64_t>(wide(m));
}

int64_t Plugin::command(Handle node, uint64_t code, uint32_t w1) {
    return command(
        node, {w1, static_cast<uint32_t>(code), static_cast<uint32_t>(code >> 32), 0, 0, 0, 0});
}

// ---------------------------------------------------------------- category 4

std::string Plugin::valueName(Handle value) {
    return text(word(call(4, 2, value)));
}
uint32_t Plugin::valueHeader(Handle value) {
    return word(call(4, 3, value));
}
std::optional<std::string> Plugin::valueAsText(Handle value) {
    return copyText(word(call(4, 7, value)));
}
int32_t Plugin::valueAsInt(Handle value) {
    return static_cast<int32_t>(word(call(4, 8, value)));
}

ValueKind Plugin::kindOf(Handle value) {
    static const std::pair<int, ValueKind> tests[] = {
        {18, ValueKind::Empty}, {19, ValueKind::Text}, {20, ValueKind::Int32},
        {21, ValueKind::Int64}, {22, ValueKind::Real}, {23, ValueKind::Guid}};
    for (const auto& [op, kind] : tests)
        if (word(call(4, op, value))) return kind;
    return ValueKind::Unknown;
}

// ---------------------------------------------------------------- tree

AttributeInfo Plugin::describeAttribute(Handle attribute) {
    AttributeInfo a;
    a.handle = attribute;
    a.name = valueName(attribute);
    a.kind = kindOf(attribute);
    a.header = valueHeader(attribute);
    if (a.kind != ValueKind::Empty) a.value = valueAsText(attribute);
    return a;
}

std::vector<TreeEntry> Plugin::walk(Handle start) {
    std::vector<TreeEntry> out;
    Handle first = start ? start : root();
    if (!first) return out;
    std::set<Handle> seen;
    std::function<void(Handle, std::vector<std::string>, int)> visit =
        [&](Handle node, std::vector<std::string> path, int depth) {
            if (depth > kMaxDepth || !seen.insert(node).second) return;
            TreeEntry e;
            e.handle = node;
            e.depth = depth;
            e.name = name(node);
            e.type = type(node);
            e.category = category(node);
            e.label = label(node);
            e.value = valueText(node);
            e.valueKind = valueKind(node);
            e.flags = flags(node);
            for (Handle a : attributes(node))
                e.attributes.push_back(describeAttribute(a));
            if (depth > 0) path.push_back(e.name);
            e.path = path;
            out.push_back(std::move(e));
            for (Handle c : children(node))
                visit(c, path, depth + 1);
        };
    visit(first, {}, 0);
    return out;
}

Handle Plugin::find(const std::vector<std::string>& names, std::string* error, Handle start) {
    Handle node = start ? start : root();
    if (!node) {
        if (error) *error = "the plug-in has no root node";
        return 0;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        Handle found = 0;
        for (Handle c : children(node))
            if (name(c) == names[i]) {
                found = c;
                break;
            }
        if (!found) {
            if (error) {
                std::string where = "the root";
                if (i > 0) {
                    where.clear();
                    for (size_t k = 0; k < i; ++k)
                        where += (k ? "/" : "") + names[k];
                    where = "\"" + where + "\"";
                }
                *error = "no node named \"" + names[i] + "\" under " + where;
            }
            return 0;
        }
        node = found;
    }
    return node;
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
    Handle proxy = word(call(3, -1, node, {o->handle}));
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
    call(3, 1, proxy);
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
    if (c.operation() == 2) it->second->nodeDestroyed = true;
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

// ---------------------------------------------------------------- message loop

int Plugin::pump(uint32_t ms) {
    using Clock = plat::MonotonicClock;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int dispatched = 0;
    for (;;) {
        auto now = Clock::now();
        if (now >= deadline) break;
        // Rounded up: the loop runs its whole time, not up to a millisecond less.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        dispatched += plat::pumpMessages(static_cast<uint32_t>(left + 1));
    }
    return dispatched;
}

int Plugin::pumpOnce(uint32_t maxWaitMs) {
    return plat::pumpMessages(maxWaitMs);
}

bool Plugin::pumpUntil(const std::function<bool()>& done, uint32_t ms) {
    using Clock = plat::MonotonicClock;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (done()) return true;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        plat::pumpMessages(static_cast<uint32_t>(std::min<long long>(left, 50)));
    }
}

} // namespace kvqhost
