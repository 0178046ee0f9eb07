#include "platform/win32/systemLibrary.h"

#include <cstring>

namespace plat {
namespace detail {

HMODULE loadSystemLibrary(const char* fileName) {
    char path[MAX_PATH];
    const size_t nameLength = std::strlen(fileName);
    if (nameLength + 2 >= MAX_PATH) return nullptr;
    const UINT room = static_cast<UINT>(MAX_PATH - nameLength - 1); // for '\' and the name
    const UINT length = GetSystemDirectoryA(path, room);
    if (length == 0 || length >= room) return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, fileName, nameLength + 1);
    return LoadLibraryA(path);
}

} // namespace detail
} // namespace plat
