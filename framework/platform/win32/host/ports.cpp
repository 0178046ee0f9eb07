// The serial ports of the system, for kvq-host's ports and probe: the COMn
// entries among the DOS device names. Host side only: nothing in a plug-in
// calls these, so their imports never reach the DLLs.
#include "platform/deviceNames.h"
#include "platform/host.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace plat {
namespace {

// The COM number of a DOS device name ("COM7" -> 7), or 0.
int comNumber(const char* name) {
    if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
        (name[2] != 'M' && name[2] != 'm') || name[3] < '1' || name[3] > '9')
        return 0;
    int number = 0;
    for (const char* p = name + 3; *p; ++p) {
        if (*p < '0' || *p > '9' || number > 1000) return 0;
        number = number * 10 + (*p - '0');
    }
    return number;
}

} // namespace

int listSerialPorts(SerialPortInfo* ports, int max) {
    // Every DOS device name, zero-separated; the list grows with the system's
    // drives and devices, so the buffer grows until it holds them.
    static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER, "error code");
    static_assert(kErrorMoreData == ERROR_MORE_DATA, "error code");
    const std::vector<char> names = readNameList([](char* buffer, uint32_t size, uint32_t* error) {
        const DWORD stored = QueryDosDeviceA(nullptr, buffer, size);
        if (stored == 0) *error = GetLastError();
        return static_cast<uint32_t>(stored);
    });
    std::vector<std::pair<int, std::string>> found;
    for (const char* p = names.data(); !names.empty() && *p; p += std::strlen(p) + 1) {
        int number = comNumber(p);
        if (number > 0) found.emplace_back(number, p);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    int written = 0;
    for (const auto& [number, name] : found) {
        if (written >= max || !ports) break;
        SerialPortInfo& info = ports[written++];
        std::snprintf(info.name, sizeof info.name, "COM%d", number);
        char target[512];
        if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) target[0] = '\0';
        std::snprintf(info.device, sizeof info.device, "%s", target);
    }
    return static_cast<int>(found.size());
}

} // namespace plat
