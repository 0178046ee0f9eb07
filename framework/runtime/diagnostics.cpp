#include "runtime/diagnostics.h"

#include "platform/module.h"

#include <cstdarg>
#include <cstdio>

void tellDebugger(const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    plat::debugOutput(line);
}
