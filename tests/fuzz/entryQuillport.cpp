// The entry fuzz driver against Quillport.
#include "plugin/vStatusLinePlugin.h"

vPlugin* makePlugin() {
    return new vStatusLinePlugin();
}
