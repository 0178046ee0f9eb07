// kvq-host ports: the serial ports the system has, and whether each can be
// opened now or is held by another program. Each port is opened and closed
// again at once; nothing is sent.
#include "verbs.h"

#include "common/json.h"
#include "platform/host.h"
#include "platform/serial.h"
#include "serialPorts.h"

namespace kvqhost {
namespace {

using kvqtools::JsonObject;

int runPorts(const PortsOptions& o, std::ostream& out, std::ostream&) {
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

std::vector<kvqtools::Option> noOptions(PortsOptions&) {
    return {};
}

bool noOperands(const std::vector<std::string>&, PortsOptions&, std::string&) {
    return true;
}

} // namespace

const Verb& portsVerb() {
    static const VerbOf<PortsOptions> verb(
        {"ports", "", "list the serial ports and whether each is free or held",
         "Lists the serial ports the system has: on Windows the COMn names among its DOS\n"
         "devices (under Wine these include the ports mapped in HKLM\\Software\\Wine\\Ports);\n"
         "natively COMn for each /dev/ttyS(n-1) with a UART behind it and for each KVQ_PORT_COMn\n"
         "override, then /dev/ttyUSB* and /dev/ttyACM* by their paths (never the kernel's\n"
         "console). Each port is opened as a plug-in opens it and closed again at once;\n"
         "nothing is sent. One line per port:\n"
         "  PORT (DEVICE): STATE\n"
         "STATE is free (it can be opened now), held (another program has it open) or absent\n"
         "(no device behind the name). JSON: \"event\":\"port\" with \"port\", \"device\" and\n"
         "\"state\".\n",
         "", false},
        noOptions, noOperands, runPorts);
    return verb;
}

} // namespace kvqhost
