// Settings files natively: the plug-in's shared object found by an address
// inside it, and a small file read whole.
#include "platform/settings.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

bool modulePath(Instance, const void* addressInModule, char* path, size_t size) {
    Dl_info info;
    if (path == nullptr || size == 0 || dladdr(addressInModule, &info) == 0 ||
        info.dli_fname == nullptr || std::strlen(info.dli_fname) >= size)
        return false;
    std::strcpy(path, info.dli_fname);
    return true;
}

FileState readSmallFile(const char* path, char* buffer, size_t size, size_t* length) {
    if (length != nullptr) *length = 0;
    if (path == nullptr || buffer == nullptr || length == nullptr) return kFileUnreadable;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? kFileMissing : kFileUnreadable;
    struct stat st {};
    FileState state = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? kFileRead : kFileUnreadable;
    // One byte more than fits tells a file that is too long.
    while (state == kFileRead) {
        char extra;
        char* into = *length < size ? buffer + *length : &extra;
        ssize_t got = read(fd, into, *length < size ? size - *length : 1);
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) break;
        if (got < 0 || *length >= size)
            state = kFileUnreadable;
        else
            *length += static_cast<size_t>(got);
    }
    close(fd);
    if (state != kFileRead) *length = 0;
    return state;
}

} // namespace plat
