// The host's view of the process's debug output: debugOutput (module.cpp)
// hands every line to the listener set here.
#include "platform/host.h"

#include "platform/posix/handles.h"

namespace plat {

void listenDebugOutput(DebugListener listener) {
    detail::listenDebugOutput(listener);
}

} // namespace plat
