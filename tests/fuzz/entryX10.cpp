// The entry fuzz driver against KV-X10.
#include "plugin/vX10Plugin.h"

vPlugin* makePlugin() {
    return new vX10Plugin();
}
