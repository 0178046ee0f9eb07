#include "descriptors/vFunctionNode.h"

vFunctionNode::vFunctionNode(const char* name, const char* category, vNode* parent)
    : vNode(name, "function", parent, nullptr, category) {
    addAttributeInt("id", -1, nullptr);
}

int64_t vFunctionNode::command(uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4, uint32_t,
                               uint32_t w6, uint32_t) {
    if (isCommandCode(w2, w3, kCommandInvoke)) invoke(w1, w4, w6);
    if (isCommandCode(w2, w3, kCommand290)) onCommand290(w1, w4);
    return 0;
}

uint32_t vFunctionNode::invoke(uint32_t, uint32_t, uint32_t) {
    return 0;
}
void vFunctionNode::onCommand290(uint32_t, uint32_t) {}
