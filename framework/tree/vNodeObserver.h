// vNodeObserver: the interface through which a node publishes its changes.
// An observer registers itself on its node when it is constructed and removes
// itself when it is destroyed. The base ignores every event except
// nodeDestroyed, on which it deletes itself; the host's proxy observer
// forwards every event to the host instead.
#pragma once

#include <cstdint>

class vNode;
class vValue;

class vNodeObserver {
public:
    explicit vNodeObserver(vNode* node);
    vNodeObserver(const vNodeObserver&) = delete;
    vNodeObserver& operator=(const vNodeObserver&) = delete;
    virtual ~vNodeObserver();

    virtual void nodeDestroyed();
    virtual void nameChanged(const char* text);
    virtual void labelChanged(const char* text);
    virtual void valueChanged(vValue* value);
    virtual void attributeAdded(vValue* attribute, vValue* before);
    virtual void attributeRemoved(vValue* attribute);
    virtual void attributeMoved(vValue* attribute, vValue* before);
    virtual void attributeChanged(vValue* attribute);
    virtual void childAdded(vNode* child, vNode* before);
    virtual void childRemoved(vNode* child);
    virtual void childMoved(vNode* child, vNode* before);
    virtual void flag0Changed(int bit);
    virtual void flag1Changed(int bit);
    virtual void flag2Changed(int bit);
    virtual void activeChanged(int bit);
    virtual void flag24Changed(int bit);
    virtual void flag26Changed(int bit);
    virtual void flag25Changed(int bit);
    virtual void lockedChanged(int bit);

    vNode* observedNode() const { return node; }

protected:
    // After its node is gone an observer that lives on must forget it, so that
    // its own destruction touches nothing.
    void forgetNode() { node = nullptr; }

private:
    vNode* node;
};
