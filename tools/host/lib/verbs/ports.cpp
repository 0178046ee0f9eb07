// kvq-host ports: the serial ports the system has, and whether each can be
// opened now or is held by another program. Each port is opened and closed
// again at once; nothing is sent.
#include "verbs.h"

#include "../json.h"
#include "platform/host.h"
#include "platform/serial.h"
#include "serialPorts.h"

namespace kvqhost {

int runPorts(const Options& o, std::ostream& out, std::ostream&) {
    std::vector<SerialPortEntry> ports = systemSerialPorts();
    for (const SerialPortEntry& p : ports) {
        int state = plat::kPortAbsent;
        if (plat::Handle port = openSerialPort(p.name, state)) plat::serialClose(port);
        if (o.json) {
            out << JsonObject()
                       .text("event", "port")
                       .text("port", p.name)
                       .text("device", p.device)
                       .text("state", portStateName(state))
                       .str()
                << '\n';
        } else {
            out << p.name;
            if (!p.device.empty() && p.device != p.name) out << " (" << p.device << ")";
            out << ": " << portStateName(state) << '\n';
        }
    }
    if (ports.empty() && !o.json) out << "no serial ports\n";
    return 0;
}

} // namespace kvqhost
