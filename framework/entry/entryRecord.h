// Reading arguments from, and writing results into, an EntryMessage. Each
// result form writes exactly its own bytes and leaves the others as the
// caller filled them.
#pragma once

#include "entry/EntryMessage.h"
#include "value/vValue.h"

#include <cstring>

inline uint32_t argWord(const EntryMessage* m, int slot) {
    return m->a[slot];
}
inline const char* argText(const EntryMessage* m, int slot) {
    return fromHandle<const char>(m->a[slot]);
}
inline int64_t argInt64(const EntryMessage* m, int slot) {
    return static_cast<int64_t>((static_cast<uint64_t>(m->a[slot + 1]) << 32) | m->a[slot]);
}
inline double argDouble(const EntryMessage* m, int slot) {
    double d;
    std::memcpy(&d, &m->a[slot], sizeof d);
    return d;
}
inline vGuid argGuid(const EntryMessage* m) { // A2-A5
    vGuid g;
    std::memcpy(&g, &m->a[2], sizeof g);
    return g;
}

inline void resultWord(EntryMessage* m, uint32_t word) {
    std::memcpy(m->result, &word, 4);
}
inline void resultBool(EntryMessage* m, bool value) {
    resultWord(m, value ? 1 : 0);
}
inline void resultClear(EntryMessage* m) {
    std::memset(m->result, 0, 8);
}
inline void resultInt64(EntryMessage* m, int64_t value) {
    std::memcpy(m->result, &value, 8);
}
inline void resultDouble(EntryMessage* m, double value) {
    std::memcpy(m->result, &value, 8);
}
inline void resultGuid(EntryMessage* m, const vGuid& value) {
    std::memcpy(m->result, &value, 16);
}
template <class T> inline void resultHandle(EntryMessage* m, T* object) {
    resultWord(m, toHandle(object));
}

// Category handlers; each writes its result form. The entry has checked the
// object handle and the operation range where the category has them.
void pluginOperation(EntryMessage* m);
void nodeOperation(EntryMessage* m);
void observerOperation(EntryMessage* m);
void valueOperation(EntryMessage* m);
void extensionOperation(EntryMessage* m);
