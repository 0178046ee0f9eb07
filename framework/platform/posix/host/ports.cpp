// The serial ports of this machine, for kvq-host's ports and probe: the COMn
// names that serialOpen maps to /dev/ttyS(n-1) or to a KVQ_PORT_COMn
// override, then USB and ACM adapters by their paths. Nothing here is used by
// a plug-in.
#include "platform/host.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

extern char** environ;

namespace plat {
namespace {

struct Found {
    int number; // COM number; 0 for a port named by its path
    std::string name;
    std::string device;
};

// The number after `prefix` in `text` ("ttyS12" -> 12), or -1.
long numberAfter(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (text.compare(0, n, prefix) != 0 || text.size() == n || text.size() > n + 6) return -1;
    for (size_t i = n; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return -1;
    return std::strtol(text.c_str() + n, nullptr, 10);
}

// A /dev/ttyS* node stands for a UART slot whether or not the machine has the
// UART; the kernel tells which it has (type 0: none). Without sysfs every
// node counts.
bool hasUart(const std::string& node) {
    std::FILE* f = std::fopen(("/sys/class/tty/" + node + "/type").c_str(), "r");
    if (!f) return true;
    int type = 0;
    bool known = std::fscanf(f, "%d", &type) == 1;
    std::fclose(f);
    return !known || type != 0;
}

// The terminals the kernel writes its console to ("ttyS0"): never offered,
// since opening one puts it in raw mode and probing it writes to the console.
bool isConsole(const std::string& node) {
    std::FILE* f = std::fopen("/sys/class/tty/console/active", "r");
    if (!f) return false;
    char name[64];
    bool found = false;
    while (!found && std::fscanf(f, "%63s", name) == 1)
        found = node == name;
    std::fclose(f);
    return found;
}

} // namespace

int listSerialPorts(SerialPortInfo* ports, int max) {
    std::vector<Found> found;
    std::vector<bool> overridden(257, false);
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq + 1 == entry.size()) continue;
        long number = numberAfter(entry.substr(0, eq), "KVQ_PORT_COM");
        if (number < 1 || number > 256) continue;
        overridden[number] = true;
        found.push_back(
            {static_cast<int>(number), "COM" + std::to_string(number), entry.substr(eq + 1)});
    }
    std::vector<Found> paths;
    if (DIR* dir = opendir("/dev")) {
        while (dirent* d = readdir(dir)) {
            std::string node = d->d_name;
            long uart = numberAfter(node, "ttyS");
            if (isConsole(node)) continue;
            if (uart >= 0 && uart < 256 && hasUart(node)) {
                // Reached as COMn unless an override sends COMn elsewhere.
                if (!overridden[uart + 1])
                    found.push_back({static_cast<int>(uart + 1), "COM" + std::to_string(uart + 1),
                                     "/dev/" + node});
                else
                    paths.push_back({0, "/dev/" + node, "/dev/" + node});
            } else if (numberAfter(node, "ttyUSB") >= 0 || numberAfter(node, "ttyACM") >= 0) {
                paths.push_back({0, "/dev/" + node, "/dev/" + node});
            }
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.number < b.number; });
    std::sort(paths.begin(), paths.end(),
              [](const Found& a, const Found& b) { return a.name < b.name; });
    found.insert(found.end(), paths.begin(), paths.end());
    int written = 0;
    for (const Found& f : found) {
        if (written >= max || !ports) break;
        SerialPortInfo& p = ports[written++];
        std::snprintf(p.name, sizeof p.name, "%s", f.name.c_str());
        std::snprintf(p.device, sizeof p.device, "%s", f.device.c_str());
    }
    return static_cast<int>(found.size());
}

} // namespace plat
