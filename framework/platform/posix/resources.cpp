// What the host process holds of the system, for kvq-host's resource check:
// file descriptors and threads as the kernel lists them, windows and timers as
// this platform keeps them.
#include "platform/platform.h"
#include "platform/posix/testing.h"

#include <dirent.h>

namespace plat {
namespace {

int entriesOf(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir) return -1;
    int count = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

} // namespace

void processResources(ProcessResources* resources, uint32_t) {
    if (!resources) return;
    resources->handles = entriesOf("/proc/self/fd") - 1; // less the one listing them
    resources->threads = entriesOf("/proc/self/task");
    resources->windows = testing::liveWindows();
    resources->timers = testing::liveTimers();
    resources->userObjects = -1;
    resources->privateKiB = -1;
}

} // namespace plat
