// vFunctionNode: a function the host can invoke. Command code 289
// (kCommandInvoke) calls `invoke` and code 290 calls `onCommand290`; a derived
// node does the work.
#pragma once

#include "entry/entryCodes.h"
#include "tree/vNode.h"

// The command code of a host command: the second word, valid only when the
// third (its high word) is zero.
inline bool isCommandCode(uint32_t w2, uint32_t w3, uint32_t code) {
    return w3 == 0 && w2 == code;
}

class vFunctionNode : public vNode {
public:
    vFunctionNode(const char* name, const char* category, vNode* parent);

    int64_t command(uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4, uint32_t w5, uint32_t w6,
                    uint32_t w7) override;
    virtual uint32_t invoke(uint32_t w1, uint32_t w4, uint32_t w6);
    virtual void onCommand290(uint32_t w1, uint32_t w4);
};
