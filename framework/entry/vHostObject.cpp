#include "entry/vHostObject.h"

#include "entry/EntryMessage.h"
#include "entry/callHost.h"
#include "entry/entryCodes.h"
#include "tree/vNode.h"

vHostObject::vHostObject(vNode* node, uint32_t hostObserver)
    : vNodeObserver(node), hostObserver_(hostObserver) {}

vHostObject::~vHostObject() = default;

// The host may destroy the proxy while it handles this request, so the proxy
// lets go of its node first and touches nothing of itself afterwards.
void vHostObject::nodeDestroyed() {
    vNode* node = observedNode();
    uint32_t target = hostObserver_;
    forgetNode();
    if (node != nullptr) node->removeObserver(this);
    callHost(kCategoryObserver, kEventNodeDestroyed, target);
}

void vHostObject::nameChanged(const char* text) {
    callHost(kCategoryObserver, kEventNameChanged, hostObserver_, toHandle(text));
}
void vHostObject::labelChanged(const char* text) {
    callHost(kCategoryObserver, kEventLabelChanged, hostObserver_, toHandle(text));
}
void vHostObject::valueChanged(vValue* v) {
    callHost(kCategoryObserver, kEventValueChanged, hostObserver_, toHandle(v));
}
void vHostObject::attributeAdded(vValue* a, vValue* before) {
    callHost(kCategoryObserver, kEventAttributeAdded, hostObserver_, toHandle(a), toHandle(before));
}
void vHostObject::attributeRemoved(vValue* a) {
    callHost(kCategoryObserver, kEventAttributeRemoved, hostObserver_, toHandle(a));
}
void vHostObject::attributeMoved(vValue* a, vValue* before) {
    callHost(kCategoryObserver, kEventAttributeMoved, hostObserver_, toHandle(a), toHandle(before));
}
void vHostObject::attributeChanged(vValue* a) {
    callHost(kCategoryObserver, kEventAttributeChanged, hostObserver_, toHandle(a));
}
void vHostObject::childAdded(vNode* c, vNode* before) {
    callHost(kCategoryObserver, kEventChildAdded, hostObserver_, toHandle(c), toHandle(before));
}
void vHostObject::childRemoved(vNode* c) {
    callHost(kCategoryObserver, kEventChildRemoved, hostObserver_, toHandle(c));
}
void vHostObject::childMoved(vNode* c, vNode* before) {
    callHost(kCategoryObserver, kEventChildMoved, hostObserver_, toHandle(c), toHandle(before));
}
void vHostObject::flag0Changed(int bit) {
    callHost(kCategoryObserver, kEventFlag0Changed, hostObserver_, bit);
}
void vHostObject::flag1Changed(int bit) {
    callHost(kCategoryObserver, kEventFlag1Changed, hostObserver_, bit);
}
void vHostObject::flag2Changed(int bit) {
    callHost(kCategoryObserver, kEventFlag2Changed, hostObserver_, bit);
}
void vHostObject::activeChanged(int bit) {
    callHost(kCategoryObserver, kEventActiveChanged, hostObserver_, bit);
}
void vHostObject::flag24Changed(int bit) {
    callHost(kCategoryObserver, kEventFlag24Changed, hostObserver_, bit);
}
void vHostObject::flag26Changed(int bit) {
    callHost(kCategoryObserver, kEventFlag26Changed, hostObserver_, bit);
}
void vHostObject::flag25Changed(int bit) {
    callHost(kCategoryObserver, kEventFlag25Changed, hostObserver_, bit);
}
void vHostObject::lockedChanged(int bit) {
    callHost(kCategoryObserver, kEventLockedChanged, hostObserver_, bit);
}
