// Node operations on the texts and on the node's own value.
#include "tree/vNode.h"

void vNode::setName(const char* name) {
    if (isLocked()) return;
    set(name, true);
}

void vNode::setLabel(const char* text) {
    if (isLocked()) return;
    label.set(text, false);
    onLabelChanged(text);
}

const char* vNode::valueTextOr(const char* fallback) const {
    const char* text = value.asText();
    return text != nullptr ? text : fallback;
}

// Stores into the own value, then checkValue and onValueChanged run, also when
// the value's own lock refused the store.
template <class Store> void vNode::writeValue(Store store) {
    store(value);
    checkValue(&value);
    onValueChanged(&value);
}

const char* vNode::setValueFromText(const char* text) {
    if (isLocked()) return nullptr;
    writeValue([text](vValue& v) { v.parse(text); });
    return value.asText();
}

const char* vNode::setValueString(const char* text) {
    if (isLocked()) return nullptr;
    writeValue([text](vValue& v) { v.setText(text, -1); });
    return value.asText();
}

int32_t vNode::setValueInt(int32_t n) {
    if (isLocked()) return 0;
    writeValue([n](vValue& v) { v.setInt(n); });
    return value.asInt();
}

int64_t vNode::setValueInt64(int64_t n) {
    if (isLocked()) return 0;
    writeValue([n](vValue& v) { v.setInt64(n); });
    return value.asInt64();
}

double vNode::setValueDouble(double d) {
    if (isLocked()) return 0.0;
    writeValue([d](vValue& v) { v.setReal(d); });
    return value.asReal();
}
