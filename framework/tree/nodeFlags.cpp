// Node operations on the flags word.
#include "tree/vNode.h"

uint32_t vNode::changeFlag(uint32_t bit, uint32_t on, bool testLock, void (vNode::*hook)(int)) {
    bool wanted = on != 0;
    if ((testLock && isLocked()) || ((flags & bit) != 0) == wanted) return flags;
    if (wanted)
        flags |= bit;
    else
        flags &= ~bit;
    (this->*hook)(wanted ? 1 : 0);
    return flags;
}

uint32_t vNode::setFlag0(uint32_t on) {
    return changeFlag(flag0Bit, on, true, &vNode::onFlag0Changed);
}
uint32_t vNode::setFlag1(uint32_t on) {
    return changeFlag(flag1Bit, on, true, &vNode::onFlag1Changed);
}
uint32_t vNode::setFlag2(uint32_t on) {
    return changeFlag(flag2Bit, on, true, &vNode::onFlag2Changed);
}
uint32_t vNode::setActive(uint32_t on) {
    return changeFlag(activeBit, on, true, &vNode::onActiveChanged);
}
uint32_t vNode::setFlag24(uint32_t on) {
    return changeFlag(flag24Bit, on, true, &vNode::onFlag24Changed);
}
uint32_t vNode::setFlag25(uint32_t on) {
    return changeFlag(flag25Bit, on, true, &vNode::onFlag25Changed);
}
uint32_t vNode::setFlag26(uint32_t on) {
    return changeFlag(flag26Bit, on, true, &vNode::onFlag26Changed);
}
uint32_t vNode::setLocked(uint32_t on) {
    return changeFlag(lockedBit, on, false, &vNode::onLockedChanged);
}

void vNode::setTag(uint32_t tag) {
    flags = (flags & ~tagMask) | ((tag & 0x0Fu) << 28);
}

int vNode::anyChildBit(uint32_t bit, uint32_t deep) {
    for (vNode* child = children.first(); child != nullptr;) {
        vNode* following = children.next(child);
        if ((child->flags & bit) != 0) return 1;
        if (deep != 0 && child->anyChildBit(bit, deep) != 0) return 1;
        child = following;
    }
    return 0;
}
