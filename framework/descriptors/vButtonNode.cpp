#include "descriptors/vButtonNode.h"

#include "descriptors/vFunctionNode.h"
#include "entry/hostRequests.h"
#include "tree/vNodeAlive.h"

#include <cstring>

vButtonNode::vButtonNode(const char* name, vNode* parent, vNode* before, const char* category)
    : vNode(name, "button", parent, before, category) {
    addAttributeStringClear24("text", "", nullptr);
    addAttributeStringClear24("desc", "", nullptr);
}

int64_t vButtonNode::command(uint32_t w1, uint32_t w2, uint32_t w3, uint32_t, uint32_t, uint32_t,
                             uint32_t) {
    if (getFlag1() && isCommandCode(w2, w3, kCommandPress)) press(w1);
    return 0;
}

void vButtonNode::press(uint32_t) {}

vAssignmentButton::vAssignmentButton(const char* name, vNode* parent, vNode* before,
                                     const char* category)
    : vButtonNode(name, parent, before, category) {
    addAttributeStringClear24("display", "Function Assignment", nullptr);
    addAttributeString("plugin", nullptr, nullptr);
    addAttributeString("list", nullptr, nullptr);
    setAttributeFromText("text", "Assign Function");
    notifyHost(kCodeAnnounce, this);
}

void vAssignmentButton::treeSignal4() {
    vButtonNode::treeSignal4();
    for (vValue* attribute = firstAttribute(); attribute != nullptr;) {
        vValue* following = nextAttribute(attribute);
        if ((attribute->tag() & 1u) != 0) removeAttribute(attribute);
        attribute = following;
    }
}

void vAssignmentButton::treeSignal5() {
    vButtonNode::treeSignal5();
    notifyHost(kCodeAnnounce, this);
}

void vAssignmentButton::onAttributeChanged(vValue* attribute) {
    vButtonNode::onAttributeChanged(attribute);
    if (attribute->name() != nullptr && std::strcmp(attribute->name(), "list") == 0)
        notifyHost(kCodeAnnounce, this);
}

vValue* vAssignmentButton::hostAddAttribute(const char* name, const char* text) {
    vValue* attribute = addAttributeString(name, text, nullptr);
    if (attribute != nullptr) attribute->setTag(1);
    return attribute;
}

void vAssignmentButton::press(uint32_t hostObject) {
    notifyHostObject(hostObject, kCodeAnswer, this);
}

void vAssignmentButton::fireEvent() {
    // The host may destroy this node while it handles the event.
    vNodeAlive self(this);
    notifyHost(kCodeFired, this);
    if (self.alive()) onFired();
}

void vAssignmentButton::onFired() {}
