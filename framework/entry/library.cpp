#include "entry/library.h"

vPlugin* pluginInstance = nullptr;
vNode* rootNode = nullptr;
HostEntry hostEntry = nullptr;
void* moduleInstance = nullptr;
uint32_t hostData = 0;
