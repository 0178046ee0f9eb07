// Diagnostics for a debugger or a debug-output viewer.
#include "platform/platform.h"

#include <windows.h>

namespace plat {

void debugOutput(const char* text) {
    OutputDebugStringA(text);
}

} // namespace plat
