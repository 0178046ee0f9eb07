#include "entry/entry.h"

#include "entry/entryRecord.h"
#include "entry/library.h"
#include "entry/vExtension.h"
#include "entry/vHostObject.h"
#include "entry/vPlugin.h"

#include <new>

void entryDispatch(EntryMessage* m) {
    if (m == nullptr) return;
    switch (m->category) {
    case 1:
        pluginOperation(m);
        return;
    case 2:
        if (m->object == 0 || static_cast<uint32_t>(m->operation) - 1u >= 112u) {
            resultClear(m);
            return;
        }
        nodeOperation(m);
        return;
    case 3:
        if (m->operation == -1) {
            auto* proxy = new (std::nothrow) vHostObject(fromHandle<vNode>(m->object), m->a[0]);
            resultHandle(m, proxy);
            return;
        }
        if (m->object != 0 && static_cast<uint32_t>(m->operation) - 1u < 20u) observerOperation(m);
        resultClear(m);
        return;
    case 4:
        if (m->object == 0 || static_cast<uint32_t>(m->operation) - 1u >= 25u) {
            resultClear(m);
            return;
        }
        valueOperation(m);
        return;
    case 7:
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
    case 1: // attach
        if (pluginInstance == nullptr) {
            resultWord(m, 0);
            return;
        }
        hostEntry = fromHandle<EntryFunction>(m->object);
        outgoingMessage.context = m->a[0];
        moduleInstance = fromHandle<void>(m->a[2]);
        resultWord(m, 1);
        return;
    case 2: // detach
        if (pluginInstance == nullptr) {
            resultWord(m, 0);
            return;
        }
        pluginInstance->teardown();
        delete pluginInstance;
        pluginInstance = nullptr;
        resultWord(m, 1);
        return;
    case 6:
        if (pluginInstance != nullptr) pluginInstance->onOperation6();
        resultClear(m);
        return;
    case 7:
        resultHandle(m, pluginInstance);
        return;
    case 9:
        resultHandle(m, pluginInstance != nullptr ? pluginInstance->getName() : nullptr);
        return;
    case 10:
        if (pluginInstance != nullptr) pluginInstance->build();
        resultClear(m);
        return;
    case 11:
        resultHandle(m, rootNode);
        return;
    case 12:
        resultHandle(m, rootNode != nullptr ? rootNode->findChild("Identification", "info", nullptr)
                                            : nullptr);
        return;
    case 30:
        resultWord(m, sizeof(EntryMessage));
        return;
    case 300:
        hostData = m->object;
        resultClear(m);
        return;
    case 301:
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
    case 1:
        delete o;
        break;
    case 2:
        o->nodeDestroyed();
        break;
    case 3:
        o->nameChanged(fromHandle<const char>(a0));
        break;
    case 4:
        o->labelChanged(fromHandle<const char>(a0));
        break;
    case 5:
        o->valueChanged(fromHandle<vValue>(a0));
        break;
    case 6:
        o->attributeAdded(fromHandle<vValue>(a0), fromHandle<vValue>(a2));
        break;
    case 7:
        o->attributeRemoved(fromHandle<vValue>(a0));
        break;
    case 8:
        o->attributeChanged(fromHandle<vValue>(a0));
        break;
    case 9:
        o->attributeMoved(fromHandle<vValue>(a0), fromHandle<vValue>(a2));
        break;
    case 10:
        o->childAdded(fromHandle<vNode>(a0), fromHandle<vNode>(a2));
        break;
    case 11:
        o->childRemoved(fromHandle<vNode>(a0));
        break;
    case 12:
        o->childMoved(fromHandle<vNode>(a0), fromHandle<vNode>(a2));
        break;
    case 13:
        o->flag0Changed(bit);
        break;
    case 14:
        o->flag1Changed(bit);
        break;
    case 15:
        o->flag2Changed(bit);
        break;
    case 16:
        o->activeChanged(bit);
        break;
    case 17:
        o->flag24Changed(bit);
        break;
    case 18:
        o->flag26Changed(bit);
        break;
    case 19:
        o->flag25Changed(bit);
        break;
    case 20:
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
