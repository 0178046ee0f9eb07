#include "entry/library.h"

vPlugin* pluginInstance = nullptr;
EntryFunction* hostEntry = nullptr;
void* moduleInstance = nullptr;
uint32_t hostData = 0;
EntryMessage outgoingMessage = {};
