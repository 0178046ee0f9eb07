// Category 2 of the entry: the 112 node operations. Each code reads exactly
// the slots listed for it and writes its result form; codes 20 and 21 are
// unassigned and answer with a cleared result.
#include "entry/entryRecord.h"
#include "tree/vNode.h"

namespace {

void flagReader(EntryMessage* m, int value) {
    resultBool(m, value != 0);
}

} // namespace

void nodeOperation(EntryMessage* m) {
    auto* n = fromHandle<vNode>(m->object);
    const uint32_t a0 = m->a[0];
    const uint32_t a2 = m->a[2];
    const char* t0 = argText(m, 0);
    const char* t2 = argText(m, 2);

    switch (m->operation) {
    // identity and texts
    case 1:
        n->destroy();
        break;
    case 2:
        resultInt64(m, n->command(a0, a2, m->a[3], m->a[4], m->a[5], m->a[6], m->a[7]));
        return;
    case 3:
        resultHandle(m, n->getName());
        return;
    case 4:
        n->setName(t0);
        break;
    case 5:
        resultHandle(m, n->getType());
        return;
    case 6:
        resultHandle(m, n->getCategory());
        return;
    case 7:
        resultHandle(m, n->getLabel());
        return;
    case 8:
        n->setLabel(t0);
        break;
    case 90:
        resultHandle(m, n->getParent());
        return;

    // the own value
    case 9:
        resultHandle(m, n->valueText());
        return;
    case 10:
        resultHandle(m, n->valueTextOr(t0));
        return;
    case 11:
        resultWord(m, static_cast<uint32_t>(n->valueInt()));
        return;
    case 12:
        resultInt64(m, n->valueInt64());
        return;
    case 13:
        resultDouble(m, n->valueDouble());
        return;
    case 14:
        resultGuid(m, n->valueGuid());
        return;
    case 15:
        resultHandle(m, n->setValueFromText(t0));
        return;
    case 16:
        resultHandle(m, n->setValueString(t0));
        return;
    case 17:
        resultWord(m, static_cast<uint32_t>(n->setValueInt(static_cast<int32_t>(a0))));
        return;
    case 18:
        resultInt64(m, n->setValueInt64(argInt64(m, 0)));
        return;
    case 19:
        resultDouble(m, n->setValueDouble(argDouble(m, 0)));
        return;
    case 22:
        resultBool(m, n->ownValue()->isText());
        return;
    case 23:
        resultBool(m, n->ownValue()->isInt32());
        return;
    case 24:
        resultBool(m, n->ownValue()->isInt64());
        return;
    case 25:
        resultBool(m, n->ownValue()->isReal());
        return;
    case 26:
        resultBool(m, n->ownValue()->isGuid());
        return;

    // flags
    case 27:
        resultWord(m, n->getFlags());
        return;
    case 28:
        resultWord(m, n->getTopByte());
        return;
    case 29:
        resultWord(m, n->getTag());
        return;
    case 30:
        n->setTag(a0);
        break;
    case 31:
        flagReader(m, n->getFlag1());
        return;
    case 32:
        n->setFlag1(a0);
        break;
    case 33:
        resultWord(m, n->anyChildFlag1(a0));
        return;
    case 34:
        flagReader(m, n->getFlag0());
        return;
    case 35:
        n->setFlag0(a0);
        break;
    case 36:
        resultWord(m, n->anyChildFlag0(a0));
        return;
    case 37:
        flagReader(m, n->getFlag2());
        return;
    case 38:
        n->setFlag2(a0);
        break;
    case 39:
        resultWord(m, n->anyChildFlag2(a0));
        return;
    case 40:
        flagReader(m, n->isActive());
        return;
    case 41:
        n->setActive(a0);
        break;
    case 42:
        resultWord(m, n->anyChildActive(a0));
        return;
    case 43:
        flagReader(m, n->getFlag24());
        return;
    case 44:
        n->setFlag24(a0);
        break;
    case 45:
        resultWord(m, n->anyChildFlag24(a0));
        return;
    case 46:
        flagReader(m, n->getFlag26());
        return;
    case 47:
        n->setFlag26(a0);
        break;
    case 48:
        resultWord(m, n->anyChildFlag26(a0));
        return;
    case 49:
        flagReader(m, n->getFlag25());
        return;
    case 50:
        n->setFlag25(a0);
        break;
    case 51:
        resultWord(m, n->anyChildFlag25(a0));
        return;
    case 52:
        flagReader(m, n->isLocked());
        return;
    case 53:
        resultWord(m, n->anyChildLocked(a0));
        return;
    case 73:
        flagReader(m, n->getFlag5());
        return;

    // attributes by name
    case 54:
        resultHandle(m, n->attributeText(t0));
        return;
    case 55:
        resultHandle(m, n->attributeTextOr(t0, t2));
        return;
    case 56:
        resultWord(m, static_cast<uint32_t>(n->attributeInt(t0)));
        return;
    case 57:
        resultInt64(m, n->attributeInt64(t0));
        return;
    case 58:
        resultDouble(m, n->attributeDouble(t0));
        return;
    case 59:
        resultGuid(m, n->attributeGuid(t0));
        return;
    case 60:
        n->setAttributeFromText(t0, t2);
        break;
    case 61:
        n->setAttributeString(t0, t2);
        break;
    case 62:
        n->setAttributeInt(t0, static_cast<int32_t>(a2));
        break;
    case 63:
        n->setAttributeInt64(t0, argInt64(m, 2));
        break;
    case 64:
        n->setAttributeDouble(t0, argDouble(m, 2));
        break;
    case 65:
        n->setAttributeGuid(t0, argGuid(m));
        break;
    case 67:
        resultBool(m, n->hasAttribute(t0));
        return;
    case 69:
        resultHandle(m, n->addAttributeString(t0, t2, fromHandle<vValue>(m->a[4])));
        return;
    case 70:
        resultHandle(m,
                     n->addAttributeInt(t0, static_cast<int32_t>(a2), fromHandle<vValue>(m->a[4])));
        return;
    case 71:
        resultHandle(m, n->addAttributeStringClear24(t0, t2, fromHandle<vValue>(m->a[4])));
        return;
    case 72:
        resultHandle(m, n->addAttributeIntClear24(t0, static_cast<int32_t>(a2),
                                                  fromHandle<vValue>(m->a[4])));
        return;
    case 79:
        resultHandle(m, n->findAttribute(t0));
        return;
    case 80:
        resultWord(m, n->attributeFlags(t0));
        return;
    case 81:
        resultWord(m, n->attributeFlag24(t0));
        return;
    case 82:
        resultWord(m, n->attributeLocked(t0));
        return;
    case 83:
        n->setAttributeFlag24(t0, a2);
        break;
    case 84:
        resultHandle(m, n->hostAddAttribute(t0, t2));
        return;
    case 86:
        n->removeAttributeByName(t0);
        break;
    case 89:
        n->moveAttributeByName(t0, t2);
        break;

    // the attribute list by handle
    case 66:
        resultBool(m, n->containsAttribute(fromHandle<vValue>(a0)));
        return;
    case 68:
        resultBool(m, n->hasAttributes());
        return;
    case 74:
        resultWord(m, static_cast<uint32_t>(n->attributeCount()));
        return;
    case 75:
        resultHandle(m, n->firstAttribute());
        return;
    case 76:
        resultHandle(m, n->lastAttribute());
        return;
    case 77:
        resultHandle(m, n->previousAttribute(fromHandle<vValue>(a0)));
        return;
    case 78:
        resultHandle(m, n->nextAttribute(fromHandle<vValue>(a0)));
        return;
    case 85:
        n->removeAttribute(fromHandle<vValue>(a0));
        break;
    case 87:
        n->removeAllAttributes();
        break;
    case 88:
        n->moveAttribute(fromHandle<vValue>(a0), fromHandle<vValue>(a2));
        break;

    // children
    case 91:
        resultHandle(m, n->findChild(t0, t2, argText(m, 4)));
        return;
    case 92:
        resultHandle(m, n->findChildById(argInt64(m, 0), a2));
        return;
    case 93:
        resultWord(m, n->containsChild(fromHandle<vNode>(a0), a2));
        return;
    case 94:
        resultWord(m, n->onCurrentPath(fromHandle<vNode>(a0)));
        return;
    case 95:
        resultBool(m, n->hasChildren());
        return;
    case 96:
        resultWord(m, static_cast<uint32_t>(n->childCount()));
        return;
    case 97:
        resultHandle(m, n->firstChild());
        return;
    case 98:
        resultHandle(m, n->lastChild());
        return;
    case 99:
        resultHandle(m, n->nextChild(fromHandle<vNode>(a0)));
        return;
    case 100:
        resultHandle(m, n->previousChild(fromHandle<vNode>(a0)));
        return;
    case 101:
        resultHandle(m, n->hostCreate(a0, a2, m->a[4]));
        return;
    case 102:
        n->deleteChildren();
        break;
    case 103:
        n->moveUp();
        break;
    case 104:
        n->moveDown();
        break;
    case 105:
        n->moveToFront();
        break;
    case 106:
        n->moveToEnd();
        break;
    case 107:
        n->moveChild(fromHandle<vNode>(a0), fromHandle<vNode>(a2));
        break;

    // tree signals
    case 108:
        n->treeSignal1();
        break;
    case 109:
        n->treeSignal4();
        break;
    case 110:
        n->treeSignal5();
        break;
    case 111:
        n->treeSignal2();
        break;
    case 112:
        n->treeSignal3();
        break;

    default:
        break; // 20, 21
    }
    resultClear(m);
}
