#include "entry/vHostObject.h"

#include "entry/EntryMessage.h"
#include "entry/callHost.h"
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
    callHost(3, 2, target);
}

void vHostObject::nameChanged(const char* text) {
    callHost(3, 3, hostObserver_, toHandle(text));
}
void vHostObject::labelChanged(const char* text) {
    callHost(3, 4, hostObserver_, toHandle(text));
}
void vHostObject::valueChanged(vValue* v) {
    callHost(3, 5, hostObserver_, toHandle(v));
}
void vHostObject::attributeAdded(vValue* a, vValue* before) {
    callHost(3, 6, hostObserver_, toHandle(a), toHandle(before));
}
void vHostObject::attributeRemoved(vValue* a) {
    callHost(3, 7, hostObserver_, toHandle(a));
}
void vHostObject::attributeMoved(vValue* a, vValue* before) {
    callHost(3, 9, hostObserver_, toHandle(a), toHandle(before));
}
void vHostObject::attributeChanged(vValue* a) {
    callHost(3, 8, hostObserver_, toHandle(a));
}
void vHostObject::childAdded(vNode* c, vNode* before) {
    callHost(3, 10, hostObserver_, toHandle(c), toHandle(before));
}
void vHostObject::childRemoved(vNode* c) {
    callHost(3, 11, hostObserver_, toHandle(c));
}
void vHostObject::childMoved(vNode* c, vNode* before) {
    callHost(3, 12, hostObserver_, toHandle(c), toHandle(before));
}
void vHostObject::flag0Changed(int bit) {
    callHost(3, 13, hostObserver_, bit);
}
void vHostObject::flag1Changed(int bit) {
    callHost(3, 14, hostObserver_, bit);
}
void vHostObject::flag2Changed(int bit) {
    callHost(3, 15, hostObserver_, bit);
}
void vHostObject::activeChanged(int bit) {
    callHost(3, 16, hostObserver_, bit);
}
void vHostObject::flag24Changed(int bit) {
    callHost(3, 17, hostObserver_, bit);
}
void vHostObject::flag26Changed(int bit) {
    callHost(3, 18, hostObserver_, bit);
}
void vHostObject::flag25Changed(int bit) {
    callHost(3, 19, hostObserver_, bit);
}
void vHostObject::lockedChanged(int bit) {
    callHost(3, 20, hostObserver_, bit);
}
