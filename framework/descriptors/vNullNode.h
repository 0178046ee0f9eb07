// vNullNode: a placeholder node with an "align" attribute ("left", "center"
// or "right"); its attribute check puts any other alignment back to "left".
#pragma once

#include "tree/vNode.h"

class vNullNode : public vNode {
public:
    vNullNode(const char* name, vNode* parent, vNode* before, const char* category);

    void checkAttribute(vValue* attribute) override;
};
