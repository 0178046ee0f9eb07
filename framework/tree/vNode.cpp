// Construction, destruction and the base behaviour of the virtual operations.
#include "tree/vNode.h"

#include "tree/vNodeObserver.h"

vNode* rootNode = nullptr;

vNode::vNode(const char* name, const char* type_, vNode* parent_, vNode* before,
             const char* category_)
    : flags(initialFlags), parent(parent_ != nullptr ? parent_ : rootNode) {
    set(name, false);
    type.set(type_, false);
    category.set(category_, false);
    if (parent != nullptr) {
        flags = (flags & 0x00FFFFFFu) | (parent->flags & 0xFF000000u);
        parent->attachChild(this, before);
    }
}

vNode::~vNode() {
    dismantle();
}

void vNode::dismantle() {
    if (parent != nullptr) parent->detachChild(this);
    parent = nullptr;

    // Each observer hears of the destruction once; one that stays alive (the
    // host's proxy) is taken off the list here.
    observers.forEach([this](vNodeObserver* observer) {
        observer->nodeDestroyed();
        observers.remove(observer);
    });

    while (vNode* child = children.first())
        delete child;

    while (vValue* attribute = attributes.first()) {
        attributes.remove(attribute);
        onAttributeRemoved(attribute);
        delete attribute;
    }

    children.clear();
    attributes.clear();
    observers.clear();
}

void vNode::addObserver(vNodeObserver* observer) {
    observers.insert(observer, nullptr);
}

void vNode::removeObserver(vNodeObserver* observer) {
    observers.remove(observer);
}

// ---- base behaviour of the virtual operations ----

void vNode::changed(const char* text) {
    notify([text](vNodeObserver* o) { o->nameChanged(text); });
}

void vNode::treeSignal1() {
    forwardToChildren([](vNode* c) { c->treeSignal1(); });
}
void vNode::treeSignal2() {
    forwardToChildren([](vNode* c) { c->treeSignal2(); });
}
void vNode::treeSignal3() {
    forwardToChildren([](vNode* c) { c->treeSignal3(); });
}
void vNode::treeSignal4() {
    forwardToChildren([](vNode* c) { c->treeSignal4(); });
}
void vNode::treeSignal5() {
    forwardToChildren([](vNode* c) { c->treeSignal5(); });
}

void vNode::onLabelChanged(const char* text) {
    notify([text](vNodeObserver* o) { o->labelChanged(text); });
}
void vNode::onValueChanged(vValue* v) {
    notify([v](vNodeObserver* o) { o->valueChanged(v); });
}
void vNode::onAttributeAdded(vValue* a, vValue* before) {
    notify([a, before](vNodeObserver* o) { o->attributeAdded(a, before); });
}
void vNode::onAttributeRemoved(vValue* a) {
    notify([a](vNodeObserver* o) { o->attributeRemoved(a); });
}
void vNode::onAttributeChanged(vValue* a) {
    notify([a](vNodeObserver* o) { o->attributeChanged(a); });
}
void vNode::onAttributeMoved(vValue* a, vValue* before) {
    notify([a, before](vNodeObserver* o) { o->attributeMoved(a, before); });
}
void vNode::onChildAdded(vNode* c, vNode* before) {
    notify([c, before](vNodeObserver* o) { o->childAdded(c, before); });
}
void vNode::onChildRemoved(vNode* c) {
    notify([c](vNodeObserver* o) { o->childRemoved(c); });
}
void vNode::onChildMoved(vNode* c, vNode* before) {
    notify([c, before](vNodeObserver* o) { o->childMoved(c, before); });
}

int64_t vNode::command(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
    return 0;
}
void vNode::checkValue(vValue*) {}
void vNode::checkAttribute(vValue*) {}
void* vNode::hostCreate(uint32_t, uint32_t, uint32_t) {
    return nullptr;
}
vValue* vNode::hostAddAttribute(const char*, const char*) {
    return nullptr;
}

void vNode::onFlag0Changed(int bit) {
    notify([bit](vNodeObserver* o) { o->flag0Changed(bit); });
}
void vNode::onFlag1Changed(int bit) {
    notify([bit](vNodeObserver* o) { o->flag1Changed(bit); });
}
void vNode::onFlag2Changed(int bit) {
    notify([bit](vNodeObserver* o) { o->flag2Changed(bit); });
}
void vNode::onActiveChanged(int bit) {
    notify([bit](vNodeObserver* o) { o->activeChanged(bit); });
}
void vNode::onFlag24Changed(int bit) {
    notify([bit](vNodeObserver* o) { o->flag24Changed(bit); });
}
void vNode::onFlag26Changed(int bit) {
    notify([bit](vNodeObserver* o) { o->flag26Changed(bit); });
}
void vNode::onFlag25Changed(int bit) {
    notify([bit](vNodeObserver* o) { o->flag25Changed(bit); });
}
void vNode::onLockedChanged(int bit) {
    notify([bit](vNodeObserver* o) { o->lockedChanged(bit); });
}
