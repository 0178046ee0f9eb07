// What the verbs ports and probe share: the system's serial ports, and
// opening one for exclusive use while telling a port held by another program
// from one without a device.
#pragma once

#include "platform/host.h"

#include <string>
#include <vector>

namespace kvqhost {

struct SerialPortEntry {
    std::string name;   // "COM7", natively also a device path
    std::string device; // where the system says it leads; may be empty
};

std::vector<SerialPortEntry> systemSerialPorts();

// Opens the port as a plug-in does (exclusively), nothing sent. On failure
// null, with `state` plat::kPortHeld or plat::kPortAbsent.
plat::Handle openSerialPort(const std::string& name, int& state);

// "free", "held" or "absent".
const char* portStateName(int state);

} // namespace kvqhost
