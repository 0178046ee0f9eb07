// vGroupNode and vTreeNode: the nodes that arrange others. A group is always
// appended to its parent; a tree carries a "Title" and may be placed anywhere.
#pragma once

#include "tree/vNode.h"

class vGroupNode : public vNode {
public:
    vGroupNode(const char* name, const char* category, vNode* parent)
        : vNode(name, "group", parent, nullptr, category) {}
};

class vTreeNode : public vNode {
public:
    vTreeNode(const char* name, vNode* parent, vNode* before, const char* category)
        : vNode(name, "tree", parent, before, category) {
        addAttributeStringClear24("Title", "", nullptr);
    }
};
