// vNodeAlive: tells whether a node is still there after a call that may have
// destroyed it. A call-out to the host can: the host may destroy any node it
// holds a handle of (node operation 1) while it handles the call. Lives on the
// stack for the length of that call; it never deletes itself.
#pragma once

#include "tree/vNodeObserver.h"

class vNodeAlive : public vNodeObserver {
public:
    explicit vNodeAlive(vNode* node) : vNodeObserver(node) {}
    bool alive() const { return observedNode() != nullptr; }
    void nodeDestroyed() override { forgetNode(); }
};
