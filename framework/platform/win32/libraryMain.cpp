// Library load: a plug-in wants no thread attach and detach notifications.
#include "platform/platform.h"

#include <windows.h>

namespace plat {

void libraryLoaded(Instance instance) {
    DisableThreadLibraryCalls(static_cast<HMODULE>(instance));
}

} // namespace plat
