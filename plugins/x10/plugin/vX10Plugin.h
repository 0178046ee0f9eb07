// vX10Plugin: the plug-in object of the KV-X10 library. Building it opens the
// controller's port "com1" and publishes two parallel trees of 16 house codes
// by 16 unit codes: the group "X10" of functions the host invokes, and the
// tree "KV-X10" of events that fire when the power line reports a command.
#pragma once

#include "descriptors/vGroupNode.h"
#include "entry/vPlugin.h"
#include "protocol/vX10Port.h"
#include "protocol/x10Events.h"

class vX10Plugin : public vPlugin, public vX10EventSource {
public:
    vX10Plugin();
    ~vX10Plugin() override;

    void build() override;
    void teardown() override;
    vAssignmentButton* findEvent(uint8_t code, int kind) override;

    // The library's X10 plug-in object, or null.
    static vX10Plugin* current();
    vX10Port* controllerPort() const { return port; }
    vGroupNode* functions() const { return functionsRoot; }
    vTreeNode* events() const { return eventsRoot; }

private:
    vX10Port* port = nullptr;
    vGroupNode* functionsRoot = nullptr;
    vTreeNode* eventsRoot = nullptr;
};
