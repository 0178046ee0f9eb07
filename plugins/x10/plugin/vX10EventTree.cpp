#include "plugin/vX10EventTree.h"

#include "descriptors/vButtonNode.h"

namespace {

// The house tree node and unit null node of the event side carry "code".
bool hasCode(vNode* node, int32_t code) {
    return node->attributeInt("code") == code;
}

} // namespace

vAssignmentButton* vX10EventTree::findEvent(uint8_t code, int kind) {
    if (root == nullptr) return nullptr;
    for (vNode* house = root->firstChild(); house != nullptr;) {
        vNode* nextHouse = root->nextChild(house);
        if (hasCode(house, code & 0xF0)) {
            for (vNode* unit = house->firstChild(); unit != nullptr;) {
                vNode* nextUnit = house->nextChild(unit);
                if (hasCode(unit, code & 0x0F)) {
                    const char* name = kind == kX10EventOn    ? "Powered On"
                                       : kind == kX10EventOff ? "Powered Off"
                                                              : nullptr;
                    if (name == nullptr) return nullptr;
                    return dynamic_cast<vAssignmentButton*>(unit->findChild(name, "*", nullptr));
                }
                unit = nextUnit;
            }
        }
        house = nextHouse;
    }
    return nullptr;
}
