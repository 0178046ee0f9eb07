#include "runtime/osVersion.h"

#include "platform/module.h"
#include "runtime/diagnostics.h"

#include <cstring>

namespace {
plat::OsVersion record;
bool filled = false;
bool windowKindTold = false;

const plat::OsVersion& version() {
    if (!filled) {
        std::memset(&record, 0, sizeof record);
        record.size = sizeof record;
        plat::getVersion(&record);
        filled = true;
        windowKindTold = false;
    }
    return record;
}
} // namespace

uint32_t osMajorVersion() {
    return version().major;
}
uint32_t osPlatformId() {
    return version().platformId;
}
bool messageOnlySupported() {
    return osPlatformId() != 1 && osMajorVersion() >= 5;
}
void forgetOsVersion() {
    filled = false;
}

void tellWindowKind(const char* className) {
    if (windowKindTold) return;
    windowKindTold = true;
    const plat::OsVersion& v = version();
    tellDebugger("%s: Windows platform %u, version %u.%u: %s windows", className,
                 static_cast<unsigned>(v.platformId), static_cast<unsigned>(v.major),
                 static_cast<unsigned>(v.minor),
                 messageOnlySupported() ? "message-only" : "hidden top-level");
}
