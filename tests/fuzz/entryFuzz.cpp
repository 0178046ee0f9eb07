// Fuzz driver for a plug-in's entry: plays a host that sends arbitrary records.
//
// Linked with one plug-in's own sources (entryX10.cpp, entryQuillport.cpp say
// which), so the records go to that plug-in's V_KVQ_ENTRY just as a host sends
// them. Every input gets a fresh plug-in object: attach, build, then a run of
// records, then detach. A host trusts no more than the protocol lets it, and
// neither does this one: the object of a record, and every slot that carries a
// handle, is a live handle of the right kind (a node of the tree, a value or
// attribute of a node, a proxy the plug-in made), a text slot points at a
// text, and everything else is an arbitrary word. The host entry answers every
// request with arbitrary words, and may destroy a proxy while it is told that
// the proxy's node went away.
//
// Besides the sanitizers it checks that detach leaves no plug-in object, no
// root, no open device, no timer and no worker behind.
//
// No device is present and no worker can be started (see LLVMFuzzerInitialize).
#include "entry/EntryMessage.h"
#include "entry/library.h"
#include "entry/vPlugin.h"
#include "fixtures/hostRecord.h"
#include "platform/posix/testing.h"
#include "tree/vNode.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

// The plug-in under test: a fresh plug-in object of its class.
vPlugin* makePlugin();
extern "C" void V_KVQ_ENTRY(EntryMessage* message);

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// What a slot of a record carries: an arbitrary word, a text, a value or
// attribute (or null), a node (or null).
enum Slot : char { kWord = '.', kText = 'T', kValue = 'V', kNode = 'N' };

// The slots each node operation reads, A0 to A7; operations not listed read
// words only.
const char* nodeSlots(int32_t operation) {
    switch (operation) {
    case 4:
    case 8:
    case 10:
    case 15:
    case 16:
    case 54:
    case 56:
    case 57:
    case 58:
    case 59:
    case 67:
    case 79:
    case 80:
    case 81:
    case 82:
    case 86:
    case 62: // these five also read words after the text
    case 63:
    case 64:
    case 65:
    case 83:
        return "T.......";
    case 55:
    case 60:
    case 61:
    case 84:
    case 89:
        return "T.T.....";
    case 69:
    case 71:
        return "T.T.V...";
    case 70:
    case 72:
        return "T...V...";
    case 66:
    case 77:
    case 78:
    case 85:
        return "V.......";
    case 88:
        return "V.V.....";
    case 91:
        return "T.T.T...";
    case 93:
    case 94:
    case 99:
    case 100:
        return "N.......";
    case 107:
        return "N.N.....";
    default:
        return "........";
    }
}

// The same for observer (proxy) operations.
const char* observerSlots(int32_t operation) {
    switch (operation) {
    case 3:
    case 4:
        return "T.......";
    case 5:
    case 7:
    case 8:
        return "V.......";
    case 6:
    case 9:
        return "V.V.....";
    case 10:
    case 12:
        return "N.N.....";
    case 11:
        return "N.......";
    default:
        return "........";
    }
}

// The same for value operations.
const char* valueSlots(int32_t operation) {
    return operation == 1 || operation == 12 || operation == 13 ? "T......." : "........";
}

// Names the plug-ins and the framework use, so that lookups by name can hit.
const char* const kKnownTexts[] = {"code",
                                   "id",
                                   "lib",
                                   "sdk",
                                   "Identification",
                                   "info",
                                   "root",
                                   "*",
                                   "Power On",
                                   "Power Off",
                                   "Powered On",
                                   "Powered Off",
                                   "X10",
                                   "KV-X10",
                                   "House Code: C",
                                   "Unit Code: 7",
                                   "Quillport",
                                   "Button 1 (CTS)",
                                   "Button 2 (DSR)",
                                   "42",
                                   "-7",
                                   "3.5",
                                   "{00000000-0000-0000-0000-000000000001}",
                                   ""};

constexpr uint32_t kProxyTag = 0xB0000000u;
constexpr uint32_t kInstance = 0x1000;
constexpr int kMaxRecords = 48;

class Session;
Session* current = nullptr;

class Session {
public:
    explicit Session(FuzzedDataProvider& input) : input(input) {
        for (uint32_t& w : answers)
            w = input.ConsumeIntegral<uint32_t>();
        current = this;
    }
    ~Session() { current = nullptr; }

    void run() {
        if (pluginInstance == nullptr) makePlugin();
        require(pluginInstance != nullptr);
        send(1, 1, toHandle(&hostEntry), {0xC0FFEE01u, 0, kInstance});
        send(1, 10);
        refreshNodes();
        for (int i = 0; i < kMaxRecords && input.remaining_bytes() > 0; ++i)
            oneRecord();
        finish();
    }

private:
    static void hostEntry(EntryMessage* m) { current->answer(m); }

    // The host answers with its arbitrary words; told that a proxy's node went
    // away, it may destroy that proxy there and then.
    void answer(EntryMessage* m) {
        std::memcpy(m->result, &answers[answered++ % 4], 4);
        std::memcpy(m->result + 4, &answers[answered++ % 4], 4);
        if (m->category == 3 && m->operation == 2 && (m->object & 0xF0000000u) == kProxyTag) {
            uint32_t index = m->object & 0xFFFFu;
            if (index < proxies.size() && proxies[index] != 0 && (answers[0] & 1)) {
                uint32_t proxy = proxies[index];
                proxies[index] = 0;
                EntryMessage destroy = hostRecord(3, 1, proxy, {}, 0);
                V_KVQ_ENTRY(&destroy);
            }
        }
    }

    EntryMessage send(uint32_t category, int32_t operation, uint32_t object = 0,
                      std::vector<uint32_t> slots = {}) {
        EntryMessage m = hostRecord(category, operation, object, slots, 0xAB);
        V_KVQ_ENTRY(&m);
        return m;
    }

    void refreshNodes() {
        nodes.clear();
        if (rootNode != nullptr) collect(rootNode);
    }
    void collect(vNode* node) {
        nodes.push_back(node);
        for (vNode* c = node->firstChild(); c != nullptr; c = node->nextChild(c))
            collect(c);
    }

    vNode* pickNode() {
        if (nodes.empty()) return nullptr;
        return nodes[input.ConsumeIntegralInRange<size_t>(0, nodes.size() - 1)];
    }
    // A node for a slot: mostly a child of `near`, else any node, else null.
    uint32_t nodeArgument(vNode* near) {
        switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return 0;
        case 1:
            return toHandle(pickNode());
        default: {
            std::vector<vNode*> children;
            for (vNode* c = near->firstChild(); c != nullptr; c = near->nextChild(c))
                children.push_back(c);
            if (children.empty()) return toHandle(pickNode());
            return toHandle(children[input.ConsumeIntegralInRange<size_t>(0, children.size() - 1)]);
        }
        }
    }
    // A value for a slot or a record: mostly an attribute of `near`, else its own
    // value, an attribute of another node, or null.
    uint32_t valueArgument(vNode* near, bool allowNull) {
        int choice = input.ConsumeIntegralInRange(allowNull ? 0 : 1, 4);
        if (choice == 0) return 0;
        if (choice == 1) return toHandle(near->ownValue());
        vNode* owner = choice == 2 ? pickNode() : near;
        std::vector<vValue*> values;
        for (vValue* v = owner->firstAttribute(); v != nullptr; v = owner->nextAttribute(v))
            values.push_back(v);
        if (values.empty()) return toHandle(near->ownValue());
        return toHandle(values[input.ConsumeIntegralInRange<size_t>(0, values.size() - 1)]);
    }
    uint32_t textArgument() {
        switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return 0;
        case 1:
            texts.push_back(input.ConsumeRandomLengthString(40));
            return toHandle(texts.back().c_str());
        default: {
            constexpr size_t count = sizeof kKnownTexts / sizeof kKnownTexts[0];
            return toHandle(kKnownTexts[input.ConsumeIntegralInRange<size_t>(0, count - 1)]);
        }
        }
    }
    std::vector<uint32_t> slots(const char* kinds, vNode* near) {
        std::vector<uint32_t> a(8);
        for (int i = 0; i < 8; ++i) {
            switch (kinds[i]) {
            case kText:
                a[i] = textArgument();
                break;
            case kValue:
                a[i] = valueArgument(near, true);
                break;
            case kNode:
                a[i] = nodeArgument(near);
                break;
            default:
                a[i] = input.ConsumeIntegral<uint32_t>();
                break;
            }
        }
        return a;
    }

    void oneRecord() {
        switch (input.ConsumeIntegralInRange(0, 9)) {
        case 0: {
            // The plug-in as a whole; detach only now and then.
            static const int32_t operations[] = {6, 7, 9, 10, 11, 12, 30, 300, 301, 0, 2, 1};
            int32_t operation = operations[input.ConsumeIntegralInRange(0, 11)];
            if (operation == 2 && input.ConsumeIntegralInRange(0, 3) != 0) operation = 7;
            uint32_t object =
                operation == 1 ? toHandle(&hostEntry) : input.ConsumeIntegral<uint32_t>();
            EntryMessage m = send(1, operation, object, {0xC0FFEE01u, 0, kInstance});
            if (operation == 30) require(std::memcmp(m.result, "\x70\0\0\0", 4) == 0);
            if (operation == 2 || operation == 10) refreshNodes();
            return;
        }
        case 1:
        case 2:
        case 3:
        case 4: {
            vNode* node = pickNode();
            if (node == nullptr) return;
            int32_t operation = input.ConsumeIntegralInRange(1, 112);
            send(2, operation, toHandle(node), slots(nodeSlots(operation), node));
            if (operation == 1 || operation == 2 || operation == 101 || operation == 102)
                refreshNodes();
            return;
        }
        case 5:
        case 6: {
            vNode* node = pickNode();
            if (node == nullptr) return;
            int32_t operation = input.ConsumeIntegralInRange(1, 25);
            uint32_t value = valueArgument(node, false);
            send(4, operation, value, slots(valueSlots(operation), node));
            return;
        }
        case 7: {
            vNode* node = pickNode();
            if (node == nullptr) return;
            EntryMessage m = send(3, -1, toHandle(node), {kProxyTag | uint32_t(proxies.size())});
            uint32_t proxy;
            std::memcpy(&proxy, m.result, 4);
            proxies.push_back(proxy);
            return;
        }
        case 8: {
            if (proxies.empty()) return;
            size_t index = input.ConsumeIntegralInRange<size_t>(0, proxies.size() - 1);
            if (proxies[index] == 0) return;
            vNode* near = pickNode();
            if (near == nullptr) near = rootNode;
            int32_t operation = input.ConsumeIntegralInRange(1, 20);
            if (near == nullptr && operation >= 5 && operation <= 12) return;
            uint32_t proxy = proxies[index];
            if (operation == 1) proxies[index] = 0;
            send(3, operation, proxy,
                 near ? slots(observerSlots(operation), near) : std::vector<uint32_t>{});
            return;
        }
        default: {
            // Records without an object, of any category and operation: the
            // plug-in answers with a cleared result.
            uint16_t category = input.ConsumeIntegral<uint16_t>();
            if (category == 1) return;
            int32_t operation = input.ConsumeIntegral<int32_t>();
            if (category == 3 && operation == -1) return; // a proxy needs a node
            EntryMessage m = send(category, operation, 0, slots("........", nullptr));
            static const uint8_t cleared[8] = {};
            require(std::memcmp(m.result, cleared, 8) == 0);
            return;
        }
        }
    }

    void finish() {
        for (uint32_t proxy : proxies)
            if (proxy != 0) send(3, 1, proxy);
        proxies.clear();
        send(1, 2);
        require(pluginInstance == nullptr && rootNode == nullptr);
        namespace t = plat::testing;
        require(t::openSerialDevices() == 0 && t::liveTimers() == 0);
        // A stopped worker may still be on its way out of its thread function.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (t::liveThreads() != 0)
            require(std::chrono::steady_clock::now() < deadline);
    }

    FuzzedDataProvider& input;
    uint32_t answers[4] = {};
    uint32_t answered = 0;
    std::vector<vNode*> nodes;
    std::vector<uint32_t> proxies; // 0 once destroyed
    std::deque<std::string> texts;
};

} // namespace

// No device: the plug-ins find their ports missing, as on a machine without
// them. Nor any worker: without a device it would only poll a missing port,
// and its timing would make the coverage of one input differ from run to run.
// So a plug-in meets a failing thread creation here.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("KVQ_PORT_COM1", "/dev/kvq-no-such-device", 1);
    setenv("KVQ_PORT_COM3", "/dev/kvq-no-such-device", 1);
    plat::testing::failThreadCreation(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Session session(input);
    session.run();
    return 0;
}
