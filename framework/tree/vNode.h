// vNode: the base of everything a plug-in shows the host. A node has a name
// (its vString base), a flags word, fixed type and category texts, a label, its
// own value, a parent, and three ordered lists: children and attributes (both
// owned) and observers (not owned). Every operation changes the node first and
// then reports through a virtual hook whose base implementation notifies the
// observers; derived nodes override the hooks rather than the operations.
// A `locked` node refuses every change made through these operations.
#pragma once

#include "base/vString.h"
#include "tree/vList.h"
#include "value/vValue.h"

#include <cstdint>

class vNodeObserver;

class vNode : public vString {
public:
    // Bits of the flags word.
    static constexpr uint32_t flag0Bit = 0x00000001u;
    static constexpr uint32_t flag1Bit = 0x00000002u;
    static constexpr uint32_t flag2Bit = 0x00000004u;
    static constexpr uint32_t activeBit = 0x00000008u;
    static constexpr uint32_t flag5Bit = 0x00000020u;
    static constexpr uint32_t flag24Bit = 0x01000000u;
    static constexpr uint32_t flag25Bit = 0x02000000u;
    static constexpr uint32_t flag26Bit = 0x04000000u;
    static constexpr uint32_t lockedBit = 0x08000000u;
    static constexpr uint32_t tagMask = 0xF0000000u;
    static constexpr uint32_t initialFlags = 0x00000023u;

    // A null parent means the library's current root node (when there is one).
    vNode(const char* name, const char* type, vNode* parent, vNode* before, const char* category);
    ~vNode() override;

    // ---- virtual operations, in their fixed order (after the destructor) ----
    // vString's `changed` is this node's onNameChanged: notify nameChanged.
    void changed(const char* text) override;
    virtual void treeSignal1();
    virtual void treeSignal2();
    virtual void treeSignal3();
    virtual void treeSignal4();
    virtual void treeSignal5();
    virtual void onLabelChanged(const char* text);
    virtual void onValueChanged(vValue* value);
    virtual void onAttributeAdded(vValue* attribute, vValue* before);
    virtual void onAttributeRemoved(vValue* attribute);
    virtual void onAttributeChanged(vValue* attribute);
    virtual void onAttributeMoved(vValue* attribute, vValue* before);
    virtual void onChildAdded(vNode* child, vNode* before);
    virtual void onChildRemoved(vNode* child);
    virtual void onChildMoved(vNode* child, vNode* before);
    virtual int64_t command(uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4, uint32_t w5,
                            uint32_t w6, uint32_t w7);
    virtual void checkValue(vValue* value);
    virtual void checkAttribute(vValue* attribute);
    virtual void* hostCreate(uint32_t a0, uint32_t a2, uint32_t a4);
    virtual vValue* hostAddAttribute(const char* name, const char* text);
    virtual void onFlag0Changed(int bit);
    virtual void onFlag1Changed(int bit);
    virtual void onFlag2Changed(int bit);
    virtual void onActiveChanged(int bit);
    virtual void onFlag24Changed(int bit);
    virtual void onFlag26Changed(int bit);
    virtual void onFlag25Changed(int bit);
    virtual void onLockedChanged(int bit);

    void onNameChanged(const char* text) { changed(text); }

    // ---- texts and identity ----
    const char* getName() const { return text(); }
    void setName(const char* name);
    const char* getType() const { return type.text(); }
    const char* getCategory() const { return category.text(); }
    const char* getLabel() const { return label.text(); }
    void setLabel(const char* text);
    vNode* getParent() const { return parent; }
    void destroy() { delete this; }

    // ---- the own value ----
    vValue* ownValue() { return &value; }
    const char* valueText() const { return value.asText(); }
    const char* valueTextOr(const char* fallback) const;
    int32_t valueInt() const { return value.asInt(); }
    int64_t valueInt64() const { return value.asInt64(); }
    double valueDouble() const { return value.asReal(); }
    vGuid valueGuid() const { return value.asGuid(); }
    const char* setValueFromText(const char* text);
    const char* setValueString(const char* text);
    int32_t setValueInt(int32_t n);
    int64_t setValueInt64(int64_t n);
    double setValueDouble(double d);

    // ---- flags ----
    uint32_t getFlags() const { return flags; }
    uint32_t getTopByte() const { return flags >> 24; }
    uint32_t getTag() const { return flags >> 28; }
    void setTag(uint32_t tag);
    int getFlag0() const { return (flags & flag0Bit) != 0; }
    int getFlag1() const { return (flags & flag1Bit) != 0; }
    int getFlag2() const { return (flags & flag2Bit) != 0; }
    int isActive() const { return (flags & activeBit) != 0; }
    int getFlag5() const { return (flags & flag5Bit) != 0; }
    int getFlag24() const { return (flags & flag24Bit) != 0; }
    int getFlag25() const { return (flags & flag25Bit) != 0; }
    int getFlag26() const { return (flags & flag26Bit) != 0; }
    int isLocked() const { return (flags & lockedBit) != 0; }
    uint32_t setFlag0(uint32_t on);
    uint32_t setFlag1(uint32_t on);
    uint32_t setFlag2(uint32_t on);
    uint32_t setActive(uint32_t on);
    uint32_t setFlag24(uint32_t on);
    uint32_t setFlag25(uint32_t on);
    uint32_t setFlag26(uint32_t on);
    uint32_t setLocked(uint32_t on); // framework only; no lock test
    int anyChildFlag0(uint32_t deep) { return anyChildBit(flag0Bit, deep); }
    int anyChildFlag1(uint32_t deep) { return anyChildBit(flag1Bit, deep); }
    int anyChildFlag2(uint32_t deep) { return anyChildBit(flag2Bit, deep); }
    int anyChildActive(uint32_t deep) { return anyChildBit(activeBit, deep); }
    int anyChildFlag24(uint32_t deep) { return anyChildBit(flag24Bit, deep); }
    int anyChildFlag25(uint32_t deep) { return anyChildBit(flag25Bit, deep); }
    int anyChildFlag26(uint32_t deep) { return anyChildBit(flag26Bit, deep); }
    int anyChildLocked(uint32_t deep) { return anyChildBit(lockedBit, deep); }

    // ---- attributes by name (a null name is a missing attribute) ----
    vValue* findAttribute(const char* name);
    const char* attributeText(const char* name);
    const char* attributeTextOr(const char* name, const char* fallback);
    int32_t attributeInt(const char* name);
    int64_t attributeInt64(const char* name);
    double attributeDouble(const char* name);
    vGuid attributeGuid(const char* name);
    uint32_t attributeFlags(const char* name);
    int attributeFlag24(const char* name);
    int attributeLocked(const char* name);
    int hasAttribute(const char* name) { return findAttribute(name) != nullptr; }
    void setAttributeFromText(const char* name, const char* text);
    void setAttributeString(const char* name, const char* text);
    void setAttributeInt(const char* name, int32_t n);
    void setAttributeInt64(const char* name, int64_t n);
    void setAttributeDouble(const char* name, double d);
    void setAttributeGuid(const char* name, const vGuid& guid);
    void setAttributeFlag24(const char* name, uint32_t on);
    void lockAttribute(const char* name, uint32_t on);
    vValue* addAttributeString(const char* name, const char* text, vValue* before);
    vValue* addAttributeInt(const char* name, int32_t n, vValue* before);
    vValue* addAttributeStringClear24(const char* name, const char* text, vValue* before);
    vValue* addAttributeIntClear24(const char* name, int32_t n, vValue* before);
    void removeAttribute(vValue* attribute);
    void removeAttributeByName(const char* name) { removeAttribute(findAttribute(name)); }
    void removeAllAttributes();
    void moveAttribute(vValue* attribute, vValue* before);
    void moveAttributeByName(const char* name, const char* beforeName);

    // ---- attribute list ----
    int containsAttribute(vValue* attribute);
    int hasAttributes() const { return attributes.count() != 0; }
    int32_t attributeCount() const { return attributes.count(); }
    vValue* firstAttribute() const { return attributes.first(); }
    vValue* lastAttribute() const { return attributes.last(); }
    vValue* nextAttribute(vValue* attribute) { return attributes.next(attribute); }
    vValue* previousAttribute(vValue* attribute) { return attributes.previous(attribute); }

    // ---- children ----
    int hasChildren() const { return children.count() != 0; }
    int32_t childCount() const { return children.count(); }
    vNode* firstChild() const { return children.first(); }
    vNode* lastChild() const { return children.last(); }
    vNode* nextChild(vNode* child) { return children.next(child); }
    vNode* previousChild(vNode* child) { return children.previous(child); }
    void attachChild(vNode* child, vNode* before);
    void detachChild(vNode* child);
    void deleteChildren();
    void moveChild(vNode* child, vNode* before);
    void moveUp();
    void moveDown();
    void moveToFront();
    void moveToEnd();
    vNode* findChild(const char* name, const char* type, const char* category);
    vNode* findChildById(int64_t id, uint32_t deep);
    int containsChild(vNode* node, uint32_t deep);
    int onCurrentPath(vNode* node);

    // What destruction does to the tree, while the object stays: the node
    // leaves its parent, its observers hear that it is gone, its children and
    // attributes are destroyed. For a node whose memory a worker still uses.
    void dismantle();

    // ---- observers (they register and unregister themselves) ----
    void addObserver(vNodeObserver* observer);
    void removeObserver(vNodeObserver* observer);
    int32_t observerCount() const { return observers.count(); }

protected:
    // Calls `event` on every observer with the cursor-safe walk.
    template <class F> void notify(F event) { observers.forEach(event); }
    // Forwards a tree signal to every child with the same walk.
    template <class F> void forwardToChildren(F signal) { children.forEach(signal); }

private:
    uint32_t changeFlag(uint32_t bit, uint32_t on, bool testLock, void (vNode::*hook)(int));
    int anyChildBit(uint32_t bit, uint32_t deep);
    vValue* addAttribute(const char* name, vValue* before);
    template <class Store> void writeAttribute(const char* name, Store store);
    template <class Store> void writeValue(Store store);

    uint32_t flags;
    vString type;
    vString category;
    vString label;
    vValue value;
    vNode* parent;
    vListOf<vNode> children;
    vListOf<vValue> attributes;
    vListOf<vNodeObserver> observers;
};

// The node that a node made without a parent joins: the plug-in's root node
// while it lives (the root sets and clears it), else null.
extern vNode* rootNode;
