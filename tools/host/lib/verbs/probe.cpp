// kvq-host probe: what answers on each serial port. The port is opened at
// 4800 8N1 and sent the controller's status request, the single byte 0x8B,
// and nothing else: no acknowledgement, no checksum, no answer to a poll. The
// 14-byte status answer is read within the wait (1 s), and the port closed.
#include "verbs.h"

#include "../json.h"
#include "platform/host.h"
#include "platform/serial.h"
#include "serialPorts.h"

#include <cstdio>
#include <vector>

namespace kvqhost {
namespace {

constexpr uint8_t kStatusRequest = 0x8B;
constexpr uint8_t kPoll = 0x5A;
constexpr size_t kStatusSize = 14;
const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
// House letters by the code nibble of the high half of a code byte.
const char kHouseByNibble[17] = "MECKOGAINFDLPHBJ";

bool isClockRequest(uint8_t byte) {
    return byte == 0xA5 || byte == 0xA6;
}

// A controller's status answer, decoded.
struct Status {
    unsigned batteryTimer = 0;
    int second = 0, minute = 0, hour = 0, yday = 0, weekday = -1;
    char house = '?';
    int firmware = 0;
    unsigned addressed = 0, on = 0, dimmed = 0;
};

// False when the 14 bytes cannot be a status answer (a field out of range).
bool decodeStatus(const uint8_t* b, Status& s) {
    s.batteryTimer = static_cast<unsigned>(b[0] << 8 | b[1]);
    s.second = b[2];
    s.minute = b[3] % 60;
    s.hour = b[4] * 2 + (b[3] >= 60 ? 1 : 0);
    s.yday = b[5] | ((b[6] & 0x80) << 1);
    for (int i = 0; i < 7; ++i)
        if ((b[6] & 0x7F) == (1 << i)) s.weekday = i;
    s.house = kHouseByNibble[b[7] >> 4];
    s.firmware = b[7] & 0x0F;
    s.addressed = static_cast<unsigned>(b[8] << 8 | b[9]);
    s.on = static_cast<unsigned>(b[10] << 8 | b[11]);
    s.dimmed = static_cast<unsigned>(b[12] << 8 | b[13]);
    return b[2] <= 59 && b[3] <= 119 && b[4] <= 11 && s.yday <= 365 && s.weekday >= 0;
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        text += (text.empty() ? "" : " ") + std::string(buf);
    }
    return text;
}

std::string clockText(const Status& s) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d %s day %d", s.hour, s.minute, s.second,
                  kWeekdays[s.weekday], s.yday);
    return buf;
}

// Units 1..16 of a bitmap (bit n = unit n+1) as "C1 C5", or "none".
std::string unitList(char house, unsigned bits) {
    std::string text;
    for (int unit = 1; unit <= 16; ++unit)
        if (bits & (1u << (unit - 1)))
            text += (text.empty() ? "" : " ") + std::string(1, house) + std::to_string(unit);
    return text.empty() ? "none" : text;
}

struct Finding {
    std::string found; // controller, polling, clockRequest, silence, held, absent, unknown
    std::vector<uint8_t> bytes;
    Status status;
    bool linesRead = false;
    uint32_t lines = 0;
};

// Sends the request and reads what comes within `waitMs`: the answer's 14
// bytes, after any polls or clock requests that came first.
void ask(plat::Handle port, uint32_t waitMs, Finding& f) {
    if (plat::serialWrite(port, &kStatusRequest, 1, 2000) != plat::kTransferDone) {
        f.found = "absent";
        return;
    }
    const auto deadline = plat::MonotonicClock::now() + std::chrono::milliseconds(waitMs);
    size_t leading = 0; // polls and clock requests before the answer
    while (f.bytes.size() - leading < kStatusSize) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - plat::MonotonicClock::now())
                        .count();
        if (left <= 0) break;
        uint8_t byte = 0;
        uint32_t got = 0;
        plat::SerialTransfer r =
            plat::serialRead(port, &byte, 1, static_cast<uint32_t>(left), &got);
        if (r == plat::kTransferFailed) break;
        if (r != plat::kTransferDone || got == 0) continue;
        if (f.bytes.size() == leading && (byte == kPoll || isClockRequest(byte))) ++leading;
        f.bytes.push_back(byte);
    }
    if (f.bytes.empty()) {
        f.found = "silence";
    } else if (f.bytes.size() - leading == kStatusSize &&
               decodeStatus(f.bytes.data() + leading, f.status)) {
        f.found = "controller";
    } else if (f.bytes[0] == kPoll) {
        f.found = "polling";
    } else if (isClockRequest(f.bytes[0])) {
        f.found = "clockRequest";
    } else {
        f.found = "unknown";
    }
}

Finding probePort(const std::string& name, const Options& o) {
    Finding f;
    int state = plat::kPortAbsent;
    plat::Handle port = openSerialPort(name, state);
    if (!port) {
        f.found = state == plat::kPortHeld ? "held" : "absent";
        return f;
    }
    plat::LineSettings s{};
    s.DCBlength = sizeof s;
    s.BaudRate = 4800;
    s.fBinary = 1;
    s.fDtrControl = 1; // on: some adapters power the controller's line from it
    s.fRtsControl = 1;
    s.ByteSize = 8;
    s.Parity = 0;
    s.StopBits = 0;
    plat::serialSetState(port, &s);
    // No device timeouts: a read waits for its byte, or for the tool's own limit.
    plat::SerialTimeouts none{0, 0, 0, 0, 0};
    plat::serialSetTimeouts(port, &none);
    if (o.lines) f.linesRead = plat::serialModemStatus(port, &f.lines);
    ask(port, o.waitMs, f);
    plat::serialClose(port);
    return f;
}

const char* line(uint32_t lines, uint32_t flag) {
    return lines & flag ? "on" : "off";
}

void print(const SerialPortEntry& p, const Finding& f, const Options& o, std::ostream& out) {
    const Status& s = f.status;
    if (o.json) {
        JsonObject j;
        j.text("event", "probe").text("port", p.name).text("device", p.device);
        j.text("found", f.found).text("bytes", hexBytes(f.bytes));
        if (f.found == "controller") {
            j.number("firmware", s.firmware)
                .text("clock", clockText(s))
                .number("yday", s.yday)
                .text("weekday", kWeekdays[s.weekday])
                .number("batteryTimer", s.batteryTimer)
                .text("house", std::string(1, s.house))
                .text("addressed", unitList(s.house, s.addressed))
                .text("on", unitList(s.house, s.on))
                .text("dimmed", unitList(s.house, s.dimmed));
        }
        if (o.lines && f.found != "held" && f.found != "absent") {
            if (f.linesRead)
                j.boolean("cts", f.lines & plat::kModemCts)
                    .boolean("dsr", f.lines & plat::kModemDsr)
                    .boolean("rlsd", f.lines & plat::kModemRlsd)
                    .boolean("ring", f.lines & plat::kModemRing);
            else
                j.null("cts").null("dsr").null("rlsd").null("ring");
        }
        out << j.str() << '\n';
        return;
    }
    out << p.name;
    if (!p.device.empty() && p.device != p.name) out << " (" << p.device << ")";
    out << ": ";
    if (f.found == "controller") {
        char battery[8];
        std::snprintf(battery, sizeof battery, "%04x", s.batteryTimer);
        out << "controller, firmware " << s.firmware << ", clock " << clockText(s)
            << ", battery timer " << battery << ", monitored house " << s.house
            << " (on: " << unitList(s.house, s.on) << ")";
    } else if (f.found == "polling") {
        out << "a controller polling (5a): it has power-line traffic to report";
    } else if (f.found == "clockRequest") {
        out << "a controller asking for the clock (" << hexBytes({f.bytes[0]})
            << "): it lost its time, it may have been without power";
    } else if (f.found == "silence") {
        out << "silence: nothing answered within " << o.waitMs << " ms";
    } else if (f.found == "held") {
        out << "held by another program";
    } else if (f.found == "absent") {
        out << "no device (cannot be opened)";
    } else {
        out << "an answer that is no controller's status: " << hexBytes(f.bytes);
    }
    if (o.lines && f.found != "held" && f.found != "absent") {
        if (f.linesRead)
            out << "; lines CTS " << line(f.lines, plat::kModemCts) << ", DSR "
                << line(f.lines, plat::kModemDsr) << ", RLSD " << line(f.lines, plat::kModemRlsd)
                << ", RING " << line(f.lines, plat::kModemRing);
        else
            out << "; lines unreadable";
    }
    out << '\n';
}

} // namespace

int runProbe(const Options& o, std::ostream& out, std::ostream& err) {
    std::vector<SerialPortEntry> ports;
    if (o.ports.empty()) {
        ports = systemSerialPorts();
        if (ports.empty()) err << "kvq-host: no serial ports to probe\n";
    } else {
        std::vector<SerialPortEntry> known = systemSerialPorts();
        for (const std::string& name : o.ports) {
            SerialPortEntry entry{name, ""};
            for (const SerialPortEntry& k : known)
                if (k.name == name) entry.device = k.device;
            ports.push_back(entry);
        }
    }
    bool controller = false;
    for (const SerialPortEntry& p : ports) {
        Finding f = probePort(p.name, o);
        controller |= f.found == "controller";
        print(p, f, o, out);
        out.flush();
    }
    return controller ? 0 : 1;
}

} // namespace kvqhost
