#include "entry/entry.h"

#include "entry/entryCodes.h"
#include "entry/entryRecord.h"
#include "entry/library.h"
#include "entry/vExtension.h"
#include "entry/vHostObject.h"
#include "entry/vPlugin.h"

#include <new>

void entryDispatch(EntryMessage* m) {
    if (m == nullptr) return;
    switch (m->category) {
    case kCategoryPlugin:
        pluginOperation(m);
        return;
    case kCategoryNode:
        if (m->object == 0 || static_cast<uint32_t>(m->operation) - 1u >= kNodeOperationCount) {
            resultClear(m);
            return;
        }
        nodeOperation(m);
        return;
    case kCategoryObserver:
        if (m->operation == kObserverCreate) {
            auto* proxy = new (std::nothrow) vHostObject(fromHandle<vNode>(m->object), m->a[0]);
            resultHandle(m, proxy);
            return;
        }
        if (m->object != 0 && m->operation >= kObserverDestroy &&
            m->operation <= kLastObserverOperation)
            observerOperation(m);
        resultClear(m);
        return;
    case kCategoryValue:
        if (m->object == 0 || static_cast<uint32_t>(m->operation) - 1u >= kValueOperationCount) {
            resultClear(m);
            return;
        }
        valueOperation(m);
        return;
    case kCategoryExtension:
        if (m->object != 0) extensionOperation(m);
        resultClear(m);
        return;
    default:
        resultClear(m);
        return;
    }
}

// ---- category 1: the plug-in as a whole ----

void pluginOperation(EntryMessage* m) {
    switch (m->operation) {
    case kPluginAttach:
        if (pluginInstance == nullptr) {
            resultWord(m, 0);
            return;
        }
        hostEntry = fromHandle<EntryFunction>(m->object);
        outgoingMessage.context = m->a[0];
        moduleInstance = fromHandle<void>(m->a[2]);
        resultWord(m, 1);
        return;
    case kPluginDetach:
        if (pluginInstance == nullptr) {
            resultWord(m, 0);
            return;
        }
        pluginInstance->teardown();
        delete pluginInstance;
        pluginInstance = nullptr;
        resultWord(m, 1);
        return;
    case kPluginOperation6:
        if (pluginInstance != nullptr) pluginInstance->onOperation6();
        resultClear(m);
        return;
    case kPluginObject:
        resultHandle(m, pluginInstance);
        return;
    case kPluginName:
        resultHandle(m, pluginInstance != nullptr ? pluginInstance->getName() : nullptr);
        return;
    case kPluginBuild:
        if (pluginInstance != nullptr) pluginInstance->build();
        resultClear(m);
        return;
    case kPluginRoot:
        resultHandle(m, rootNode);
        return;
    case kPluginIdentification:
        resultHandle(m, rootNode != nullptr ? rootNode->findChild("Identification", "info", nullptr)
                                            : nullptr);
        return;
    case kPluginRecordSize:
        resultWord(m, sizeof(EntryMessage));
        return;
    case kPluginSetHostData:
        hostData = m->object;
        resultClear(m);
        return;
    case kPluginHostData:
        resultWord(m, hostData);
        return;
    default:
        resultClear(m);
        return;
    }
}

// ---- category 3: observers (the entry clears the result afterwards) ----

void observerOperation(EntryMessage* m) {
    auto* o = fromHandle<vNodeObserver>(m->object);
    uint32_t a0 = m->a[0];
    uint32_t a2 = m->a[2];
    int bit = static_cast<int>(a0);
    switch (m->operation) {
    case kObserverDestroy:
        delete o;
        break;
    case kEventNodeDestroyed:
        o->nodeDestroyed();
        break;
    case kEventNameChanged:
        o->nameChanged(fromHandle<const char>(a0));
        break;
    case kEventLabelChanged:
        o->labelChanged(fromHandle<const char>(a0));
        break;
    case kEventValueChanged:
        o->valueChanged(fromHandle<vValue>(a0));
        break;
    case kEventAttributeAdded:
        o->attributeAdded(fromHandle<vValue>(a0), fromHandle<vValue>(a2));
        break;
    case kEventAttributeRemoved:
        o->attributeRemoved(fromHandle<vValue>(a0));
        break;
    case kEventAttributeChanged:
        o->attributeChanged(fromHandle<vValue>(a0));
        break;
    case kEventAttributeMoved:
        o->attributeMoved(fromHandle<vValue>(a0), fromHandle<vValue>(a2));
        break;
    case kEventChildAdded:
        o->childAdded(fromHandle<vNode>(a0), fromHandle<vNode>(a2));
        break;
    case kEventChildRemoved:
        o->childRemoved(fromHandle<vNode>(a0));
        break;
    case kEventChildMoved:
        o->childMoved(fromHandle<vNode>(a0), fromHandle<vNode>(a2));
        break;
    case kEventFlag0Changed:
        o->flag0Changed(bit);
        break;
    case kEventFlag1Changed:
        o->flag1Changed(bit);
        break;
    case kEventFlag2Changed:
        o->flag2Changed(bit);
        break;
    case kEventActiveChanged:
        o->activeChanged(bit);
        break;
    case kEventFlag24Changed:
        o->flag24Changed(bit);
        break;
    case kEventFlag26Changed:
        o->flag26Changed(bit);
        break;
    case kEventFlag25Changed:
        o->flag25Changed(bit);
        break;
    case kEventLockedChanged:
        o->lockedChanged(bit);
        break;
    default:
        break;
    }
}

// ---- category 7: extension objects ----

void vExtension::reserved() {}
void vExtension::first(uint32_t, uint32_t, uint32_t) {}
void vExtension::second(uint32_t, uint32_t) {}
void vExtension::third(uint32_t, uint32_t, uint32_t) {}
void vExtension::fourth(uint32_t, uint32_t, uint32_t) {}

void extensionOperation(EntryMessage* m) {
    auto* x = fromHandle<vExtension>(m->object);
    switch (m->operation) {
    case 3:
        x->first(m->a[0], m->a[2], m->a[4]);
        break;
    case 4:
        x->second(m->a[0], m->a[2]);
        break;
    case 5:
        x->third(m->a[0], m->a[2], m->a[4]);
        break;
    case 6:
        x->fourth(m->a[0], m->a[2], m->a[4]);
        break;
    default:
        break;
    }
}
