// Node operations on attributes: lookup by name, readers, writers, creation,
// removal and moves, and access to the attribute list.
#include "tree/vNode.h"

#include <cstring>

namespace {
bool sameName(const vValue* attribute, const char* name) {
    const char* own = attribute->name();
    return own != nullptr && std::strcmp(own, name) == 0;
}
} // namespace

vValue* vNode::findAttribute(const char* name) {
    if (name == nullptr) return nullptr;
    vValue* atCursor = attributes.cursorItem();
    if (atCursor != nullptr && sameName(atCursor, name)) return atCursor;
    for (vValue* attribute = attributes.first(); attribute != nullptr;) {
        vValue* following = attributes.next(attribute);
        if (sameName(attribute, name)) return attribute;
        attribute = following;
    }
    return nullptr;
}

// ---- readers ----

const char* vNode::attributeText(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr ? a->asText() : nullptr;
}

const char* vNode::attributeTextOr(const char* name, const char* fallback) {
    const char* text = attributeText(name);
    return text != nullptr ? text : fallback;
}

int32_t vNode::attributeInt(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr ? a->asInt() : 0;
}

int64_t vNode::attributeInt64(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr ? a->asInt64() : 0;
}

double vNode::attributeDouble(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr ? a->asReal() : 0.0;
}

vGuid vNode::attributeGuid(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr ? a->asGuid() : vGuid{};
}

uint32_t vNode::attributeFlags(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr ? a->header() : 0;
}

int vNode::attributeFlag24(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr && (a->header() & vValue::flag24Bit) != 0;
}

int vNode::attributeLocked(const char* name) {
    vValue* a = findAttribute(name);
    return a != nullptr && a->isLocked();
}

// ---- writers: never create; onAttributeChanged runs also when the
// attribute's own lock refused the store ----

template <class Store> void vNode::writeAttribute(const char* name, Store store) {
    if (isLocked()) return;
    vValue* a = findAttribute(name);
    if (a == nullptr) return;
    store(*a);
    onAttributeChanged(a);
}

void vNode::setAttributeFromText(const char* name, const char* text) {
    writeAttribute(name, [text](vValue& v) { v.parse(text); });
}
void vNode::setAttributeString(const char* name, const char* text) {
    writeAttribute(name, [text](vValue& v) { v.setText(text, -1); });
}
void vNode::setAttributeInt(const char* name, int32_t n) {
    writeAttribute(name, [n](vValue& v) { v.setInt(n); });
}
void vNode::setAttributeInt64(const char* name, int64_t n) {
    writeAttribute(name, [n](vValue& v) { v.setInt64(n); });
}
void vNode::setAttributeDouble(const char* name, double d) {
    writeAttribute(name, [d](vValue& v) { v.setReal(d); });
}
void vNode::setAttributeGuid(const char* name, const vGuid& guid) {
    writeAttribute(name, [&guid](vValue& v) { v.setGuid(guid); });
}

void vNode::setAttributeFlag24(const char* name, uint32_t on) {
    if (isLocked()) return;
    vValue* a = findAttribute(name);
    if (a != nullptr) a->setHeaderBit(vValue::flag24Bit, on != 0);
}

void vNode::lockAttribute(const char* name, uint32_t on) {
    if (isLocked()) return;
    vValue* a = findAttribute(name);
    if (a != nullptr) a->setHeaderBit(vValue::lockedBit, on != 0);
}

// ---- creation ----

vValue* vNode::addAttribute(const char* name, vValue* before) {
    if (isLocked() || name == nullptr || name[0] == '\0') return nullptr;
    auto* attribute = new vValue(name);
    attribute->setHeaderBit(vValue::flag24Bit, (flags & flag24Bit) != 0);
    attribute->setHeaderBit(vValue::flag25Bit, (flags & flag25Bit) != 0);
    attribute->setHeaderBit(vValue::flag26Bit, (flags & flag26Bit) != 0);
    attribute->setHeaderBit(vValue::lockedBit, (flags & lockedBit) != 0);
    attributes.insert(attribute, before);
    return attribute;
}

vValue* vNode::addAttributeString(const char* name, const char* text, vValue* before) {
    vValue* attribute = addAttribute(name, before);
    if (attribute == nullptr) return nullptr;
    if (text != nullptr) attribute->setText(text, -1);
    onAttributeAdded(attribute, before);
    return attribute;
}

vValue* vNode::addAttributeInt(const char* name, int32_t n, vValue* before) {
    vValue* attribute = addAttribute(name, before);
    if (attribute == nullptr) return nullptr;
    attribute->setInt(n);
    onAttributeAdded(attribute, before);
    return attribute;
}

vValue* vNode::addAttributeStringClear24(const char* name, const char* text, vValue* before) {
    vValue* attribute = addAttributeString(name, text, before);
    if (attribute != nullptr) attribute->setHeaderBit(vValue::flag24Bit, false);
    return attribute;
}

vValue* vNode::addAttributeIntClear24(const char* name, int32_t n, vValue* before) {
    vValue* attribute = addAttributeInt(name, n, before);
    if (attribute != nullptr) attribute->setHeaderBit(vValue::flag24Bit, false);
    return attribute;
}

// ---- removal and moves ----

void vNode::removeAttribute(vValue* attribute) {
    if (isLocked() || attribute == nullptr || attributes.find(attribute) == nullptr) return;
    attributes.remove(attribute);
    onAttributeRemoved(attribute);
    delete attribute;
}

void vNode::removeAllAttributes() {
    if (isLocked()) return;
    while (vValue* attribute = attributes.first())
        removeAttribute(attribute);
}

void vNode::moveAttribute(vValue* attribute, vValue* before) {
    if (isLocked() || attribute == nullptr) return;
    attributes.move(attribute, before);
    onAttributeMoved(attribute, before);
}

void vNode::moveAttributeByName(const char* name, const char* beforeName) {
    vValue* before = findAttribute(beforeName);
    vValue* attribute = findAttribute(name);
    moveAttribute(attribute, before);
}

int vNode::containsAttribute(vValue* attribute) {
    return attributes.find(attribute) != nullptr;
}
