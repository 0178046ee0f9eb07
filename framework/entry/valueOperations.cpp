// Category 4 of the entry: operations on one value, normally an attribute
// handle that a node operation returned. They work on the value alone and
// publish no node event.
#include "entry/entryRecord.h"

#include <cstring>

void valueOperation(EntryMessage* m) {
    auto* v = fromHandle<vValue>(m->object);
    switch (m->operation) {
    case 1: {
        const char* name = argText(m, 0);
        resultBool(m, name != nullptr && v->name() != nullptr && std::strcmp(v->name(), name) == 0);
        return;
    }
    case 2:
        resultHandle(m, v->name());
        return;
    case 3:
        resultWord(m, v->header());
        return;
    case 4:
        resultWord(m, v->topByte());
        return;
    case 5:
        resultWord(m, v->tag());
        return;
    case 6:
        v->setTag(m->a[0]);
        break;
    case 7:
        resultHandle(m, v->asText());
        return;
    case 8:
        resultWord(m, static_cast<uint32_t>(v->asInt()));
        return;
    case 9:
        resultInt64(m, v->asInt64());
        return;
    case 10:
        resultDouble(m, v->asReal());
        return;
    case 11:
        resultGuid(m, v->asGuid());
        return;
    case 12:
        v->parse(argText(m, 0));
        break;
    case 13:
        v->setText(argText(m, 0), -1);
        break;
    case 14:
        v->setInt(static_cast<int32_t>(m->a[0]));
        break;
    case 15:
        v->setInt64(argInt64(m, 0));
        break;
    case 16:
        v->setReal(argDouble(m, 0));
        break;
    case 17:
        v->setGuid(argGuid(m));
        break;
    case 18:
        resultBool(m, v->isEmpty());
        return;
    case 19:
        resultBool(m, v->isText());
        return;
    case 20:
        resultBool(m, v->isInt32());
        return;
    case 21:
        resultBool(m, v->isInt64());
        return;
    case 22:
        resultBool(m, v->isReal());
        return;
    case 23:
        resultBool(m, v->isGuid());
        return;
    case 24:
        resultBool(m, (v->header() & vValue::flag24Bit) != 0);
        return;
    case 25:
        resultBool(m, v->isLocked());
        return;
    default:
        break;
    }
    resultClear(m);
}
