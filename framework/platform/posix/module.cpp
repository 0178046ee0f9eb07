// The module natively: shared objects get no thread notifications to turn
// off; debug output goes to the host's listener, if any; the version reported
// is an NT-family system with message-only windows, unless a test asks for
// another.
#include "platform/module.h"

#include "platform/posix/handles.h"
#include "platform/posix/testing.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace plat {
namespace {

std::mutex listenerLock;
void (*debugListener)(const char*) = nullptr;

std::mutex versionLock;
bool versionOverridden = false;
uint32_t overriddenPlatformId = 0;
uint32_t overriddenMajor = 0;

} // namespace

void libraryLoaded(Instance) {}

namespace {
std::atomic<int> keptLoaded{0};
}

void keepLibraryLoaded() {
    ++keptLoaded;
}

int testing::librariesKeptLoaded() {
    return keptLoaded.load();
}

void debugOutput(const char* text) {
    std::lock_guard<std::mutex> hold(listenerLock);
    if (debugListener != nullptr) debugListener(text);
}

void detail::listenDebugOutput(void (*listener)(const char* text)) {
    std::lock_guard<std::mutex> hold(listenerLock);
    debugListener = listener;
}

bool getVersion(OsVersion* version) {
    if (!version || version->size != sizeof(OsVersion)) return false;
    std::memset(reinterpret_cast<char*>(version) + sizeof(version->size), 0,
                sizeof(OsVersion) - sizeof(version->size));
    version->major = 6;
    version->minor = 1;
    version->build = 7601;
    version->platformId = 2;
    std::lock_guard<std::mutex> hold(versionLock);
    if (versionOverridden) {
        version->major = overriddenMajor;
        version->minor = 0;
        version->platformId = overriddenPlatformId;
    }
    return true;
}

void testing::overrideVersion(uint32_t platformId, uint32_t major) {
    std::lock_guard<std::mutex> hold(versionLock);
    versionOverridden = true;
    overriddenPlatformId = platformId;
    overriddenMajor = major;
}

void testing::restoreVersion() {
    std::lock_guard<std::mutex> hold(versionLock);
    versionOverridden = false;
}

} // namespace plat
