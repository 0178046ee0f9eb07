// vX10Plugin: the plug-in object of the KV-X10 library. Building it opens the
// controller's port ("com1", or the port KV-X10.ini beside the library names)
// and publishes two parallel trees of 16 house codes
// by 16 unit codes: the group "X10" of functions the host invokes, and the
// tree "KV-X10" of events that fire when the power line reports a command.
// It wires its parts as it builds them: the port raises events through the
// event tree's lookup (vX10EventTree), the function nodes send on the port.
#pragma once

#include "descriptors/vGroupNode.h"
#include "entry/vPlugin.h"
#include "plugin/vX10EventTree.h"
#include "protocol/vX10Port.h"

class vX10Plugin : public vPlugin {
public:
    vX10Plugin();
    ~vX10Plugin() override;

    // What the host is told at build when KV-X10.ini names no port it can use
    // (error report 1,304); "com1" is opened instead.
    static constexpr const char* kBadSettingText = "vX10Plugin:readPortSetting()";
    static constexpr int32_t kBadSettingCode = -6;
    static constexpr const char* kDefaultPort = "com1";

    void build() override;
    void teardown() override;
    // The port's source of events: the lookup over the event tree.
    vX10EventSource& eventSource() { return eventTree; }

    vGroupNode* functions() const { return functionsRoot; }
    vTreeNode* events() const { return eventsRoot; }

private:
    vX10Port* port = nullptr;
    vGroupNode* functionsRoot = nullptr;
    vTreeNode* eventsRoot = nullptr;
    vX10EventTree eventTree{eventsRoot}; // after the field it reads
};
