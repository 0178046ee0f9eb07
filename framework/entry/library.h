// The library-level state of one plug-in library. The framework is linked
// statically into each plug-in, so every library has exactly one set of these
// variables: its plug-in object, its current root node, the host's entry, the
// module instance and the host data word, and the one outgoing record of every
// call-out to the host.
#pragma once

#include <cstdint>

#include "entry/EntryMessage.h"

class vNode;
class vPlugin;

extern vPlugin* pluginInstance;
extern vNode* rootNode;
extern EntryFunction* hostEntry;
extern void* moduleInstance;
extern uint32_t hostData;
// The one record of every call-out to the host; starts all zero.
extern EntryMessage outgoingMessage;
