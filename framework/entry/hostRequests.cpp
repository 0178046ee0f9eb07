#include "entry/hostRequests.h"

#include "entry/callHost.h"
#include "entry/entryCodes.h"
#include "entry/library.h"

#include <cstring>

namespace {
uint32_t low(int64_t v) {
    return static_cast<uint32_t>(static_cast<uint64_t>(v));
}
uint32_t high(int64_t v) {
    return static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32);
}

// A node's handle as a signed 64-bit number.
int64_t widened(vNode* node) {
    return static_cast<int32_t>(toHandle(node));
}
} // namespace

uint32_t queryHostTarget() {
    std::memset(outgoingMessage.result, 0, 4);
    callHost(kCategoryPlugin, kRequestHostTarget);
    uint32_t word;
    std::memcpy(&word, outgoingMessage.result, 4);
    return word;
}

uint32_t queryHostSource(uint32_t target) {
    std::memset(outgoingMessage.result, 0, 4);
    callHost(kCategoryPlugin, kRequestHostSource, target);
    uint32_t word;
    std::memcpy(&word, outgoingMessage.result, 4);
    return word;
}

int64_t sendNodeCommand(uint32_t target, uint32_t a0, int64_t code, int64_t first, int64_t second) {
    std::memset(outgoingMessage.result, 0, 8);
    callHost(kCategoryNode, kNodeCommand, target, a0, low(code), high(code), low(first),
             high(first), low(second), high(second));
    int64_t result;
    std::memcpy(&result, outgoingMessage.result, 8);
    return result;
}

void notifyHost(uint32_t code, vNode* node) {
    uint32_t target = queryHostTarget();
    uint32_t source = queryHostSource(target);
    sendNodeCommand(target, source, code, widened(node), 0);
}

void notifyHostObject(uint32_t target, uint32_t code, vNode* node) {
    uint32_t source = queryHostSource(target);
    sendNodeCommand(target, source, code, widened(node), 0);
}

void reportError(const char* text, int32_t code) {
    callHost(kCategoryPlugin, kRequestReportError, toHandle(text), static_cast<uint32_t>(code));
}

void sendUnloadNotice(void* instance) {
    callHost(kCategoryPlugin, kRequestUnloadNotice, toHandle(instance));
}

void sendShortNameReport(vNode* node, const char* shortName, uint32_t code) {
    callHost(kCategoryShortName, kRequestShortName, toHandle(node), toHandle(shortName), code);
}
