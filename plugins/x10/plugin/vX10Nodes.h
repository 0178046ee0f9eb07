// The nodes of the KV-X10 trees. On the function side a vX10Unit per house and
// unit carries "Power On" and "Power Off" vX10Function nodes that send the X10
// command through the controller's port when the host invokes them; on the
// event side a null node per unit carries "Powered On" and "Powered Off"
// vX10Event buttons that fire when the controller reports the command from the
// power line, and show `active` for one second. Each node is given what it
// works with when the plug-in builds it: the port, or the function tree's root.
#pragma once

#include "descriptors/vButtonNode.h"
#include "descriptors/vFunctionNode.h"
#include "descriptors/vGroupNode.h"
#include "protocol/vX10Port.h"
#include "runtime/vTimer.h"

class vX10Unit : public vGroupNode {
public:
    // `functions`: the root of the function tree the unit belongs to, the node
    // its report names.
    vX10Unit(const char* name, vNode* parent, int32_t house, int32_t unit, vNode* functions);
    ~vX10Unit() override;

    // Command 288: report the unit's short name ("b10") and code byte to the host.
    int64_t command(uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4, uint32_t w5, uint32_t w6,
                    uint32_t w7) override;

private:
    vNode* functions; // an ancestor: it outlives the unit
};

class vX10Function : public vFunctionNode {
public:
    enum Kind : int32_t { powerOn = 1, powerOff = 2 };

    // Sends its command on `port`, which the plug-in destroys only after the
    // function tree.
    vX10Function(const char* name, vNode* parent, int32_t kind, uint8_t code, vX10Port& port);
    ~vX10Function() override;

    uint32_t invoke(uint32_t w1, uint32_t w4, uint32_t w6) override;
    uint8_t codeByte() const { return code; }
    int32_t functionKind() const { return kind; }

private:
    int32_t kind;
    uint8_t code;
    vX10Port& port;
};

class vX10Event : public vAssignmentButton, public vTimer {
public:
    static constexpr uint32_t kPulseMs = 1000;

    vX10Event(const char* name, vNode* parent);
    ~vX10Event() override;

    // Firing the event also shows it `active` for one second.
    void onFired() override;
    // Sets `active` and starts the timer that clears it.
    virtual void startPulse(uint32_t unused);
    void onTimer(uint32_t tickCount) override;
};
