// Node operations on children: attachment, removal, moves and lookups.
#include "tree/vNode.h"

#include <cstring>

void vNode::attachChild(vNode* child, vNode* before) {
    if (child == nullptr) return;
    children.insert(child, before);
    onChildAdded(child, before);
}

void vNode::detachChild(vNode* child) {
    if (children.find(child) == nullptr) return;
    children.remove(child);
    onChildRemoved(child);
}

void vNode::deleteChildren() {
    if (isLocked()) return;
    while (vNode* child = children.first())
        delete child;
}

void vNode::moveChild(vNode* child, vNode* before) {
    if (isLocked()) return;
    children.move(child, before);
    onChildMoved(child, before);
}

void vNode::moveUp() {
    if (isLocked() || parent == nullptr || parent->isLocked()) return;
    vNode* previous = parent->children.previous(this);
    if (previous == nullptr) return;
    parent->moveChild(this, previous);
}

void vNode::moveDown() {
    if (isLocked() || parent == nullptr || parent->isLocked()) return;
    vNode* next = parent->children.next(this);
    vNode* afterNext = next != nullptr ? parent->children.next(next) : nullptr;
    parent->moveChild(this, afterNext);
}

void vNode::moveToFront() {
    if (isLocked() || parent == nullptr || parent->isLocked()) return;
    parent->moveChild(this, parent->children.first());
}

void vNode::moveToEnd() {
    if (isLocked() || parent == nullptr || parent->isLocked()) return;
    parent->moveChild(this, nullptr);
}

vNode* vNode::findChild(const char* name, const char* type_, const char* category_) {
    if (name == nullptr || name[0] == '\0') return nullptr;
    bool anyType = type_ == nullptr || type_[0] == '\0' || std::strcmp(type_, "*") == 0;
    for (vNode* child = children.first(); child != nullptr;) {
        vNode* following = children.next(child);
        const char* childName = child->getName() != nullptr ? child->getName() : "";
        const char* childType = child->getType();
        const char* childCategory = child->getCategory();
        bool match = std::strcmp(childName, name) == 0 &&
                     (anyType || (childType != nullptr && std::strcmp(childType, type_) == 0)) &&
                     (category_ == nullptr ||
                      (childCategory != nullptr && std::strcmp(childCategory, category_) == 0));
        if (match) return child;
        child = following;
    }
    return nullptr;
}

vNode* vNode::findChildById(int64_t id, uint32_t deep) {
    for (vNode* child = children.first(); child != nullptr;) {
        vNode* following = children.next(child);
        if (child->attributeInt64("id") == id) return child;
        if (deep != 0) {
            if (vNode* hit = child->findChildById(id, deep)) return hit;
        }
        child = following;
    }
    return nullptr;
}

int vNode::containsChild(vNode* node, uint32_t deep) {
    if (node == nullptr) return 0;
    if (deep == 0) return children.find(node) != nullptr;
    if (children.cursorItem() == node) return 1;
    for (vNode* child = children.first(); child != nullptr;) {
        vNode* following = children.next(child);
        if (child == node || child->containsChild(node, deep) != 0) return 1;
        child = following;
    }
    return 0;
}

int vNode::onCurrentPath(vNode* node) {
    for (vNode* current = children.cursorItem(); current != nullptr;
         current = current->children.cursorItem()) {
        if (current == node) return 1;
    }
    return 0;
}
