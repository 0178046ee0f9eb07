#include "descriptors/vNullNode.h"

#include <cstring>

vNullNode::vNullNode(const char* name, vNode* parent, vNode* before, const char* category)
    : vNode(name, "null", parent, before, category) {
    addAttributeStringClear24("align", "left", nullptr);
}

void vNullNode::checkAttribute(vValue* attribute) {
    if (attribute == nullptr || attribute->name() == nullptr ||
        std::strcmp(attribute->name(), "align") != 0)
        return;
    if (attribute->textEquals("left") || attribute->textEquals("center") ||
        attribute->textEquals("right"))
        return;
    attribute->parse("left");
}
