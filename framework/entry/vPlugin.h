// vRootNode and vPlugin: the root of a library's tree, carrying the
// "Identification" child, and the plug-in object that is that root. Each
// plug-in library creates exactly one plug-in object while it loads; the host
// attaches, builds and finally detaches it through the entry.
#pragma once

#include "tree/vNode.h"

constexpr int32_t kFrameworkVersion = 20060217;

class vRootNode : public vNode {
public:
    explicit vRootNode(const char* displayName);
    ~vRootNode() override;

    void treeSignal4() override;
    void treeSignal5() override;

    // Null once the host has destroyed it.
    vNode* identificationNode() const { return identification; }

private:
    vNode* identification; // also a child of this node, owned by the child list; watched
};

class vPlugin : public vRootNode {
public:
    explicit vPlugin(const char* displayName);
    ~vPlugin() override;

    // Creates the plug-in's content (tree, devices, threads).
    virtual void build();
    virtual void onOperation6();
    // Releases what build created; runs just before the object is destroyed.
    virtual void teardown();
};
