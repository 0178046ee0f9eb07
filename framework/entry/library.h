// The library-level state of one plug-in library. The framework is linked
// statically into each plug-in, so every library has exactly one set of these
// variables: its plug-in object, the host's entry, the module instance and the
// host data word, and the one outgoing record of every call-out to the host.
// (Its current root node, `rootNode`, is declared with the nodes in tree/vNode.h.)
#pragma once

#include <cstdint>

#include "entry/EntryMessage.h"

class vPlugin;

extern vPlugin* pluginInstance;
extern EntryFunction* hostEntry;
extern void* moduleInstance;
extern uint32_t hostData;
// The one record of every call-out to the host; starts all zero.
extern EntryMessage outgoingMessage;
