// vButtonNode and vAssignmentButton: buttons to which the user assigns host
// functions. A button acts on host command 1 while its flag1 is set. A
// function-assignment button announces itself to the host (322), fires its
// event (321) when its device reports it, answers command 1 (323), and keeps
// the attributes the host adds (tagged 1) only until the next treeSignal4.
#pragma once

#include "entry/entryCodes.h"
#include "tree/vNode.h"

class vButtonNode : public vNode {
public:
    vButtonNode(const char* name, vNode* parent, vNode* before, const char* category);

    int64_t command(uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4, uint32_t w5, uint32_t w6,
                    uint32_t w7) override;
    virtual void press(uint32_t hostObject);
};

class vAssignmentButton : public vButtonNode {
public:
    vAssignmentButton(const char* name, vNode* parent, vNode* before, const char* category);

    void treeSignal4() override;
    void treeSignal5() override;
    void onAttributeChanged(vValue* attribute) override;
    vValue* hostAddAttribute(const char* name, const char* text) override;
    void press(uint32_t hostObject) override;
    virtual void fireEvent();
    virtual void onFired();
};
