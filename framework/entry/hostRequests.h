// The named requests that the plug-in sends to the host: the three that read
// a result (target, source, node command), node notifications built from them,
// error reports, the unload notice and the short-name report.
#pragma once

#include "entry/entryCodes.h"

#include <cstdint>

class vNode;

uint32_t queryHostTarget();
uint32_t queryHostSource(uint32_t target);
int64_t sendNodeCommand(uint32_t target, uint32_t a0, int64_t code, int64_t first, int64_t second);

// (1,207), (1,11), then the node command `code` about `node` to the host target.
void notifyHost(uint32_t code, vNode* node);
// (1,11) on `target`, then the node command `code` about `node` to `target`.
void notifyHostObject(uint32_t target, uint32_t code, vNode* node);

void reportError(const char* text, int32_t code);
void sendUnloadNotice(void* instance);
void sendShortNameReport(vNode* node, const char* shortName, uint32_t code);
