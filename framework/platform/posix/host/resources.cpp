// What the host process holds of the system, for kvq-host's resource check:
// file descriptors and threads as the kernel lists them, windows and timers as
// this platform keeps them, and the private memory the process has committed.
#include "platform/host.h"
#include "platform/posix/testing.h"

#include <cstdio>
#include <cstring>
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

// VmData of /proc/self/status: every private writable mapping, the heap and
// the threads' stacks among them, whether touched yet or not. That is what
// Windows counts as a process's private bytes (memory committed for it alone),
// and it moves with every allocation the process keeps. The private lines of
// /proc/self/smaps_rollup count only the pages in memory now, which go up as
// memory is first touched and down as it is paged out, not as it is taken and
// given back; they also cost a walk of every mapping. Under AddressSanitizer
// VmData includes its shadow memory, a large constant.
int privateKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (!status) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmData:", 7) == 0) {
            if (std::sscanf(line + 7, "%ld", &kib) != 1) kib = -1;
            break;
        }
    std::fclose(status);
    return kib < 0 || kib > 0x7FFFFFFF ? -1 : static_cast<int>(kib);
}

} // namespace

void processResources(ProcessResources* resources, uint32_t) {
    if (!resources) return;
    resources->handles = entriesOf("/proc/self/fd") - 1; // less the one listing them
    resources->threads = entriesOf("/proc/self/task");
    resources->windows = testing::liveWindows();
    resources->timers = testing::liveTimers();
    // The platform's only window-system objects are its windows and timers,
    // counted above; nothing here stands for the rest of what Windows counts.
    resources->userObjects = -1;
    resources->privateKiB = privateKiB();
}

} // namespace plat
