// A stand-in for the X10 plug-in's event tree, for tests and the protocol fuzz
// target: one button node per module and kind, made on first request; records
// every lookup and every firing.
#pragma once

#include "descriptors/vButtonNode.h"
#include "protocol/x10Events.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace x10test {

class FakeEventSource : public vX10EventSource {
public:
    using Key = std::pair<uint8_t, int>;

    vAssignmentButton* findEvent(uint8_t code, int kind) override {
        lookups.emplace_back(code, kind);
        if (kind != kX10EventOn && kind != kX10EventOff) return nullptr;
        auto& node = nodes[Key(code, kind)];
        if (!node) node = std::make_unique<Event>(this, code, kind);
        return node.get();
    }

    std::vector<Key> lookups;
    std::vector<Key> fired;

private:
    struct Event : vAssignmentButton {
        Event(FakeEventSource* source, uint8_t code, int kind)
            : vAssignmentButton(kind == kX10EventOn ? "Powered On" : "Powered Off", nullptr,
                                nullptr, nullptr),
              source(source), code(code), kind(kind) {}
        void onFired() override { source->fired.emplace_back(code, kind); }
        FakeEventSource* source;
        uint8_t code;
        int kind;
    };
    std::map<Key, std::unique_ptr<Event>> nodes;
};

} // namespace x10test
