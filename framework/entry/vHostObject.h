// vHostObject: the host's observer proxy. The host creates one on a node
// (category 3, operation -1) with the handle of an observer living in the host;
// the proxy forwards every event of the node to that host observer as a
// category 3 request. It outlives its node until the host destroys it, having
// forgotten the node when it heard of its destruction.
#pragma once

#include "tree/vNodeObserver.h"

#include <cstdint>

class vHostObject : public vNodeObserver {
public:
    vHostObject(vNode* node, uint32_t hostObserver);
    ~vHostObject() override;

    void nodeDestroyed() override;
    void nameChanged(const char* text) override;
    void labelChanged(const char* text) override;
    void valueChanged(vValue* value) override;
    void attributeAdded(vValue* attribute, vValue* before) override;
    void attributeRemoved(vValue* attribute) override;
    void attributeMoved(vValue* attribute, vValue* before) override;
    void attributeChanged(vValue* attribute) override;
    void childAdded(vNode* child, vNode* before) override;
    void childRemoved(vNode* child) override;
    void childMoved(vNode* child, vNode* before) override;
    void flag0Changed(int bit) override;
    void flag1Changed(int bit) override;
    void flag2Changed(int bit) override;
    void activeChanged(int bit) override;
    void flag24Changed(int bit) override;
    void flag26Changed(int bit) override;
    void flag25Changed(int bit) override;
    void lockedChanged(int bit) override;

    uint32_t hostObserver() const { return hostObserver_; }

private:
    uint32_t hostObserver_;
};
