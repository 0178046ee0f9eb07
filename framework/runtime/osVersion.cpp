#include "runtime/osVersion.h"

#include "platform/platform.h"

#include <cstring>

namespace {
plat::OsVersion record;
bool filled = false;

const plat::OsVersion& version() {
    if (!filled) {
        std::memset(&record, 0, sizeof record);
        record.size = sizeof record;
        plat::getVersion(&record);
        filled = true;
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
