// vX10EventTree: the lookup through which KV-X10's port raises events. For a
// module (code byte) and an event kind it finds the "Powered On" or "Powered
// Off" node in the plug-in's event tree, by the "code" attributes of the house
// and unit nodes. It reads the plug-in's watched pointer to that tree, so a
// tree the host has destroyed is never walked. It knows the tree's shape and
// nothing else of the plug-in.
#pragma once

#include "descriptors/vGroupNode.h"
#include "protocol/x10Events.h"

class vX10EventTree : public vX10EventSource {
public:
    // `root`: the plug-in's field that holds the tree, null while there is none.
    explicit vX10EventTree(vTreeNode* const& root) : root(root) {}

    vAssignmentButton* findEvent(uint8_t code, int kind) override;

private:
    vTreeNode* const& root;
};
