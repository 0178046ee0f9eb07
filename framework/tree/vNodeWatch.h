// vNodeWatch: keeps a plug-in's pointer to a node honest. The host may destroy
// any node it holds a handle of (node operation 1); a watch observes the node
// and sets the pointer that refers to it to null when the node goes, so the
// plug-in never destroys or touches it a second time.
#pragma once

#include "tree/vNode.h"
#include "tree/vNodeObserver.h"

template <class T> class vNodeWatch : public vNodeObserver {
public:
    // Watches `*slot`; the watch deletes itself with the node.
    static void watch(T** slot) {
        if (*slot != nullptr) new vNodeWatch(slot);
    }

    void nodeDestroyed() override {
        *slot = nullptr;
        vNodeObserver::nodeDestroyed();
    }

private:
    explicit vNodeWatch(T** slot) : vNodeObserver(*slot), slot(slot) {}
    T** slot;
};

template <class T> void watchNode(T*& field) {
    vNodeWatch<T>::watch(&field);
}
