#include "tree/vNodeObserver.h"

#include "tree/vNode.h"

vNodeObserver::vNodeObserver(vNode* node) : node(node) {
    if (node != nullptr) node->addObserver(this);
}

vNodeObserver::~vNodeObserver() {
    if (node != nullptr) node->removeObserver(this);
}

void vNodeObserver::nodeDestroyed() {
    delete this;
}
void vNodeObserver::nameChanged(const char*) {}
void vNodeObserver::labelChanged(const char*) {}
void vNodeObserver::valueChanged(vValue*) {}
void vNodeObserver::attributeAdded(vValue*, vValue*) {}
void vNodeObserver::attributeRemoved(vValue*) {}
void vNodeObserver::attributeMoved(vValue*, vValue*) {}
void vNodeObserver::attributeChanged(vValue*) {}
void vNodeObserver::childAdded(vNode*, vNode*) {}
void vNodeObserver::childRemoved(vNode*) {}
void vNodeObserver::childMoved(vNode*, vNode*) {}
void vNodeObserver::flag0Changed(int) {}
void vNodeObserver::flag1Changed(int) {}
void vNodeObserver::flag2Changed(int) {}
void vNodeObserver::activeChanged(int) {}
void vNodeObserver::flag24Changed(int) {}
void vNodeObserver::flag26Changed(int) {}
void vNodeObserver::flag25Changed(int) {}
void vNodeObserver::lockedChanged(int) {}
