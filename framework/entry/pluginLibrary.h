// What every plug-in library consists of besides its plug-in class: the one
// plug-in object, created by static initialisation while the library loads
// (null when it could not be allocated), the exported V_KVQ_ENTRY, and the
// system's load hook. A plug-in's main source file says
//     KVQ_PLUGIN_LIBRARY(vMyPlugin, myPlugin)
// which also declares `vMyPlugin* myPlugin`, the plug-in's own pointer to it.
#pragma once

#include "entry/entry.h"
#include "platform/module.h"

#include <new>

#define KVQ_PLUGIN_LIBRARY(PluginClass, variable)                                                  \
    PluginClass* variable = new (std::nothrow) PluginClass();                                      \
    KVQ_EXPORT void V_KVQ_ENTRY(EntryMessage* message) {                                           \
        entryDispatch(message);                                                                    \
    }                                                                                              \
    KVQ_LIBRARY_MAIN()
