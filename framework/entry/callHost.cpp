#include "entry/callHost.h"

#include "entry/library.h"

namespace {
// The category is written as a 32-bit value over bytes 8-11.
void writeHeader(uint32_t category, int32_t operation) {
    outgoingMessage.category = static_cast<uint16_t>(category);
    outgoingMessage.reserved10 = static_cast<uint16_t>(category >> 16);
    outgoingMessage.operation = operation;
}

// Nothing is sent before attach: there is no host entry to call yet.
uint32_t send() {
    if (hostEntry == nullptr) return 0;
    hostEntry(&outgoingMessage);
    return 0;
}
} // namespace

uint32_t callHost(uint32_t category, int32_t operation) {
    writeHeader(category, operation);
    return send();
}

uint32_t callHost(uint32_t category, int32_t operation, uint32_t object) {
    writeHeader(category, operation);
    outgoingMessage.object = object;
    return send();
}

uint32_t callHost(uint32_t category, int32_t operation, uint32_t object, uint32_t a0) {
    writeHeader(category, operation);
    outgoingMessage.object = object;
    outgoingMessage.a[0] = a0;
    return send();
}

uint32_t callHost(uint32_t category, int32_t operation, uint32_t object, uint32_t a0, uint32_t a2) {
    writeHeader(category, operation);
    outgoingMessage.object = object;
    outgoingMessage.a[0] = a0;
    outgoingMessage.a[2] = a2;
    return send();
}

uint32_t callHost(uint32_t category, int32_t operation, uint32_t object, uint32_t a0, uint32_t a2,
                  uint32_t a3, uint32_t a4, uint32_t a5, uint32_t a6, uint32_t a7) {
    writeHeader(category, operation);
    outgoingMessage.object = object;
    outgoingMessage.a[0] = a0;
    outgoingMessage.a[2] = a2;
    outgoingMessage.a[3] = a3;
    outgoingMessage.a[4] = a4;
    outgoingMessage.a[5] = a5;
    outgoingMessage.a[6] = a6;
    outgoingMessage.a[7] = a7;
    return send();
}
