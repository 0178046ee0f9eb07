// EntryMessage: the fixed 112-byte record of every exchange between a host and
// a plug-in, in both directions. A 16-bit category picks the kind of object,
// `operation` the operation, `object` the target handle (an address on the side
// that owns the object), eight 32-bit argument slots carry the arguments and a
// 16-byte result area the answer. Layout is little-endian with no padding.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 4, "handles travel in 32-bit slots: build for a 32-bit target");

struct EntryMessage {
    uint32_t context;    //  0: host context word
    uint32_t reserved4;  //  4
    uint16_t category;   //  8: read as 16 bits, written as 32 bits over 8-11
    uint16_t reserved10; // 10
    int32_t operation;   // 12
    uint32_t object;     // 16: handle, or a plain 32-bit argument
    uint32_t reserved20; // 20
    uint32_t a[8];       // 24..55: A0..A7
    uint8_t reserved56[40];
    uint8_t result[16]; // 96..111
};

static_assert(sizeof(EntryMessage) == 112, "EntryMessage is 112 bytes");
static_assert(offsetof(EntryMessage, context) == 0, "context at 0");
static_assert(offsetof(EntryMessage, category) == 8, "category at 8");
static_assert(offsetof(EntryMessage, operation) == 12, "operation at 12");
static_assert(offsetof(EntryMessage, object) == 16, "object at 16");
static_assert(offsetof(EntryMessage, a) == 24, "A0 at 24");
static_assert(offsetof(EntryMessage, a) + 7 * 4 == 52, "A7 at 52");
static_assert(offsetof(EntryMessage, result) == 96, "result at 96");

// Platform calling convention of the entry and of the host entry: the default
// C convention (cdecl on 32-bit x86).
extern "C" typedef void EntryFunction(EntryMessage* message);

// Handles are 32-bit addresses.
template <class T> inline T* fromHandle(uint32_t handle) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(handle));
}
template <class T> inline uint32_t toHandle(T* object) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}
