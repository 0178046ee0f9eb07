// The host side of the plug-in boundary: kvq-host and the end-to-end tests
// load a plug-in library with it and speak to it only through the 112-byte
// entry record. A `Plugin` owns one loaded library (or wraps an entry function
// already in the process), hands the plug-in the host entry at attach, records
// every call-out the plug-in makes (a copy of the record and of the text it
// carries), answers the two host queries (target and source, entry/entryCodes.h),
// keeps the host-side observers behind the plug-in's proxies, and offers typed
// helpers for the plug-in, node and value operations, a tree walk, path lookup
// and the message loop.
//
// Several plug-ins may be loaded in one process: each gets its own context word
// at attach, and the one host entry routes every call-out by that word.
//
// By concern: plugin.cpp the host entry, the routing, the life of a Plugin, its
// raw records, observers and recorded calls; pluginOperations.cpp the typed
// operations; pluginTree.cpp the walk and the lookup; pluginLoop.cpp the
// message loop.
#pragma once

#include "entry/EntryMessage.h"
#include "platform/host.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvqhost {

using Handle = uint32_t;

// The host entry that every plug-in receives at attach. It records the call,
// answers the target query with the plug-in's host target H, the source query
// with its source word S and a node command with the 64-bit value 0; it never
// calls back into a plug-in. Call-outs whose context word belongs to no plug-in are kept apart
// (unroutedCalls).
extern "C" void kvqHostEntry(EntryMessage* message);
// Takes the process's debug-output lines (plat::listenDebugOutput).
void recordDebugLine(const char* text);
// A copy of the plug-in's text at `pointer`, cut at 64 KiB; none for null.
std::optional<std::string> copyText(uint32_t pointer);

// One call-out as the host entry received it.
struct Call {
    EntryMessage record{};           // as it arrived, before the host wrote an answer
    std::optional<std::string> text; // error report: object; name, label, short name: A0
    double seconds = 0;              // since the plug-in was loaded
    uint64_t sequence = 0;           // order among all calls of the process
    Handle observedNode = 0;         // category 3: the node the host observer watches
    bool observerKnown = false;      // category 3: the object is one of our host observers
    bool debug = false;              // not a call-out: a debug-output line, in `text`

    uint16_t category() const { return record.category; }
    int32_t operation() const { return record.operation; }
    bool is(uint16_t c, int32_t op) const { return category() == c && operation() == op; }
    uint32_t object() const { return record.object; }
    uint32_t arg(int slot) const { return record.a[slot]; }
    uint64_t arg64(int slot) const {
        return (static_cast<uint64_t>(record.a[slot + 1]) << 32) | record.a[slot];
    }
    // A node command: A0 = source word, A2-A3 = code, A4-A5 = node.
    uint64_t commandCode() const { return arg64(2); }
    Handle commandNode() const { return record.a[4]; }
};

enum class ValueKind { Empty, Text, Int32, Int64, Real, Guid, Unknown };
const char* kindName(ValueKind kind);

struct AttributeInfo {
    Handle handle = 0;
    std::string name;
    ValueKind kind = ValueKind::Unknown;
    std::optional<std::string> value; // text form; none for an empty value
    uint32_t header = 0;              // kind, flag bits 24-27, tag 28-31
};

struct TreeEntry {
    Handle handle = 0;
    std::vector<std::string> path; // names below the start of the walk; empty for the start
    int depth = 0;
    std::string name, type, category, label;
    std::optional<std::string> value; // text form of the own value; none when empty
    ValueKind valueKind = ValueKind::Empty;
    uint32_t flags = 0;
    std::vector<AttributeInfo> attributes;
};

// A host observer: the host-side object behind one plug-in proxy.
struct HostObserver {
    Handle handle = 0; // what the plug-in sends as `object` of its events
    Handle proxy = 0;  // the plug-in's proxy (0 until created)
    Handle node = 0;   // the node it watches
    bool nodeDestroyed = false;
};

class Plugin {
public:
    // Loads the library at `path` and finds V_KVQ_ENTRY. Null on failure, with
    // one line in `error`.
    static std::unique_ptr<Plugin> load(const std::string& path, std::string& error);
    // A plug-in whose entry is already in this process; `moduleInstance` is what
    // attach passes in A2.
    explicit Plugin(EntryFunction* entry, void* moduleInstance = nullptr);
    // Detaches if attached and not yet detached, destroys the proxies still
    // registered, then unloads the library.
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const std::string& path() const { return path_; }
    EntryFunction* entry() const { return entry_; }
    void* moduleInstance() const { return module_; }
    uint32_t context() const { return context_; }
    Handle hostTarget() const { return hostTarget_; }
    void setHostTarget(Handle h);
    uint32_t hostSource() const { return hostSource_; }
    void setHostSource(uint32_t s);
    // Destroys each node that fires (node operation 1) within its event call-out
    // (kCodeFired), as a careless host may: for trying how a plug-in copes.
    void setDestroyFired(bool on) { destroyFired_ = on; }
    bool attached() const { return attached_; }
    bool detached() const { return detached_; }

    // ------------------------------------------------------------ raw records
    // Sends a copy of `message` to the entry and returns it as the entry left it.
    EntryMessage send(const EntryMessage& message);
    // Builds a record (result bytes zero) and sends it.
    EntryMessage call(uint16_t category, int32_t operation, uint32_t object = 0,
                      const std::array<uint32_t, 8>& a = {});
    static uint32_t word(const EntryMessage& m);
    static uint64_t wide(const EntryMessage& m);
    static double real(const EntryMessage& m);

    // ------------------------------------------------------------ plug-in (category 1)
    bool attach();         // (1,1): object = host entry, A0 = context, A2 = module instance
    void build();          // (1,10)
    bool detach();         // (1,2); then destroys the proxies still registered
    Handle pluginObject(); // (1,7)
    std::optional<std::string> displayName(); // (1,9)
    Handle root();                            // (1,11)
    Handle identification();                  // (1,12)
    uint32_t recordSize();                    // (1,30)
    void setHostData(uint32_t value);         // (1,300)
    uint32_t hostData();                      // (1,301)

    // ------------------------------------------------------------ nodes (category 2)
    std::string name(Handle node);                     // 3 (a null text reads as "")
    std::string type(Handle node);                     // 5
    std::string category(Handle node);                 // 6
    std::string label(Handle node);                    // 7
    std::optional<std::string> valueText(Handle node); // 9
    ValueKind valueKind(Handle node);                  // 22-26; Empty when none of them holds
    uint32_t flags(Handle node);                       // 27
    bool isActive(Handle node);                        // 40
    void setActive(Handle node, bool on);              // 41
    Handle parent(Handle node);                        // 90
    bool hasChildren(Handle node);                     // 95
    uint32_t childCount(Handle node);                  // 96
    Handle firstChild(Handle node);                    // 97
    Handle nextChild(Handle node, Handle child);       // 99
    std::vector<Handle> children(Handle node);
    uint32_t attributeCount(Handle node);                       // 74
    Handle firstAttribute(Handle node);                         // 75
    Handle nextAttribute(Handle node, Handle attribute);        // 78
    Handle findAttribute(Handle node, const std::string& name); // 79
    std::vector<Handle> attributes(Handle node);
    std::optional<std::string> attributeText(Handle node, const std::string& name); // 54
    int32_t attributeInt(Handle node, const std::string& name);                     // 56
    // (2,2) with the seven words w1..w7 (A0, A2..A7); the 64-bit answer.
    int64_t command(Handle node, const std::array<uint32_t, 7>& words);
    // The usual form: w1 = a host handle, w2-w3 = the code.
    int64_t command(Handle node, uint64_t code, uint32_t w1);

    // ------------------------------------------------------------ values (category 4)
    std::string valueName(Handle value);                  // 2
    uint32_t valueHeader(Handle value);                   // 3
    std::optional<std::string> valueAsText(Handle value); // 7
    int32_t valueAsInt(Handle value);                     // 8
    ValueKind kindOf(Handle value);                       // 18-23

    // ------------------------------------------------------------ tree
    // Depth-first walk from `start` (the root when 0), parents before children.
    // A repeated handle is not walked twice and depth is bounded, so a broken
    // tree cannot keep the walk going.
    std::vector<TreeEntry> walk(Handle start = 0);
    AttributeInfo describeAttribute(Handle attribute);
    // The node at `names` below `start` (the root when 0): the first child with
    // each name in turn. 0 when there is none; `error` then says which name.
    Handle find(const std::vector<std::string>& names, std::string* error = nullptr,
                Handle start = 0);

    // ------------------------------------------------------------ observers (category 3)
    // Creates a host observer and the plug-in's proxy for it on `node` (3,-1);
    // returns the proxy handle, 0 if the plug-in gave none.
    Handle observe(Handle node);
    // Destroys the proxy (3,1) and forgets its host observer.
    bool unobserve(Handle proxy);
    void unobserveAll();
    std::vector<HostObserver> observers() const;
    std::optional<HostObserver> observerByHandle(Handle hostObserver) const;

    // ------------------------------------------------------------ recorded call-outs
    std::vector<Call> calls() const;
    std::vector<Call> callsSince(size_t index) const;
    size_t callCount() const;
    void clearCalls();
    // Calls with this category and operation.
    std::vector<Call> callsOf(uint16_t category, int32_t operation) const;

    // ------------------------------------------------------------ message loop
    // Runs the message loop of this thread for `ms` milliseconds; returns how many
    // messages and timers were dispatched.
    static int pump(uint32_t ms);
    // Dispatches what is due, waiting at most `maxWaitMs` for the first message or
    // timer; returns as soon as something was dispatched, with the count.
    static int pumpOnce(uint32_t maxWaitMs);
    // Runs it until `done` holds (checked after every dispatch and at least every
    // 50 ms) or `ms` passed; returns whether `done` held.
    static bool pumpUntil(const std::function<bool()>& done, uint32_t ms);

    double secondsSinceLoad() const;

private:
    friend void kvqHostEntry(EntryMessage* message);
    friend void recordDebugLine(const char* text);
    void record(Call call);
    void noteObserverEvent(Call& call);
    Plugin(EntryFunction* entry, void* library, void* moduleInstance, std::string path);
    std::string text(uint32_t pointer) const;

    void* library_ = nullptr;
    EntryFunction* entry_ = nullptr;
    void* module_ = nullptr;
    std::string path_;
    uint32_t context_ = 0;
    Handle hostTarget_ = 0;
    uint32_t hostSource_ = 0;
    bool attached_ = false;
    bool detached_ = false;
    bool destroyFired_ = false;
    char targetTag_ = 'H'; // H is this byte's address: a handle no other plug-in gets
    plat::MonotonicClock::time_point loadedAt_;

    // Guarded by the process-wide lock of the host entry.
    std::vector<Call> calls_;
    std::map<Handle, std::unique_ptr<HostObserver>> observers_; // by host handle
    std::map<Handle, Handle> hostHandleOfProxy_;
};

// Call-outs that carried a context word no plug-in owns.
std::vector<Call> unroutedCalls();
void clearUnroutedCalls();

} // namespace kvqhost
