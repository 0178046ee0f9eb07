// What every plug-in library consists of besides its plug-in class: the one
// plug-in object, created by static initialisation while the library loads
// (none when it could not be allocated), the exported V_KVQ_ENTRY, and the
// system's load hook. A plug-in's main source file says
//     KVQ_PLUGIN_LIBRARY(vMyPlugin)
// The object keeps no name of its own here: the entry reaches it through
// `pluginInstance`, and it hands its parts what they need as it builds them.
#pragma once

#include "entry/entry.h"
#include "platform/module.h"

#include <new>

#define KVQ_PLUGIN_LIBRARY(PluginClass)                                                            \
    namespace {                                                                                    \
    [[maybe_unused]] const bool kvqPluginCreated = new (std::nothrow) PluginClass() != nullptr;    \
    }                                                                                              \
    KVQ_EXPORT void V_KVQ_ENTRY(EntryMessage* message) {                                           \
        entryDispatch(message);                                                                    \
    }                                                                                              \
    KVQ_LIBRARY_MAIN()
