#include "serialPorts.h"
#include "platform/host.h"
#include "platform/serial.h"

#include <cctype>

namespace kvqhost {

std::vector<SerialPortEntry> systemSerialPorts() {
    std::vector<plat::SerialPortInfo> found(64);
    int count = plat::listSerialPorts(found.data(), static_cast<int>(found.size()));
    if (count > static_cast<int>(found.size())) {
        found.resize(static_cast<size_t>(count));
        count = plat::listSerialPorts(found.data(), count);
    }
    std::vector<SerialPortEntry> ports;
    for (int i = 0; i < count && i < static_cast<int>(found.size()); ++i)
        ports.push_back({found[static_cast<size_t>(i)].name, found[static_cast<size_t>(i)].device});
    return ports;
}

plat::Handle openSerialPort(const std::string& name, int& state) {
    // COM10 and above open only by their device path; it serves COM1 to COM9 too.
    std::string path = name;
    if (name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'M')
        path = "\\\\.\\" + name;
    plat::SerialOpenResult result = plat::kOpenFailed;
    plat::Handle port = plat::serialOpen(path.c_str(), nullptr, &result);
    if (!port) {
        state = result == plat::kOpenHeld ? plat::kPortHeld : plat::kPortAbsent;
        return nullptr;
    }
    // Wine opens a COM port whose device is missing all the same, and fails
    // every call on it afterwards.
    if (plat::serialQueuedInput(port) < 0) {
        plat::serialClose(port);
        state = plat::kPortAbsent;
        return nullptr;
    }
    state = plat::kPortFree;
    return port;
}

const char* portStateName(int state) {
    switch (state) {
    case plat::kPortFree:
        return "free";
    case plat::kPortHeld:
        return "held";
    default:
        return "absent";
    }
}

} // namespace kvqhost
