// kvq-host probe: what answers on each serial port. The port is opened at
// 4800 8N1 and sent the controller's status request, the single byte 0x8B,
// and nothing else: no acknowledgement, no checksum, no answer to a poll. The
// 14-byte status answer is read within the wait (1 s), and the port closed.
// Bytes that go on coming past an answer's size, and are no polls or clock
// requests, are another device that talks on its own (a GPS receiver, noise).
#include "verbs.h"

#include "common/json.h"
#include "platform/host.h"
#include "platform/serial.h"
#include "protocol/x10Codes.h"
#include "serialPorts.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace kvqhost {
namespace {

using kvqtools::JsonObject;

const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool isClockRequest(uint8_t byte) {
    return byte == kX10ClockRequest || byte == kX10ClockRequestAlt;
}

// The letter of the monitored house of a status answer.
char houseLetter(const X10Status& s) {
    return static_cast<char>('A' + x10HouseIndex(static_cast<uint8_t>(s.house << 4)));
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

std::string clockText(const X10Clock& c) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d %s day %d", c.hour, c.minute, c.second,
                  kWeekdays[c.weekday], c.yday);
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
    // controller, polling, clockRequest, silence, held, absent, unknown, foreign
    std::string found;
    std::vector<uint8_t> bytes;
    X10Status status;
    bool linesRead = false;
    uint32_t lines = 0;
};

// Whether the last 14 bytes decode as a status answer with nothing but polls
// and clock requests before them. The answer's own first byte may be either
// (a battery timer of 5a.., say), so where the answer starts is only known once
// it has come.
bool statusAtEnd(const std::vector<uint8_t>& bytes, X10Status& status) {
    if (bytes.size() < kX10StatusSize) return false;
    const size_t start = bytes.size() - kX10StatusSize;
    for (size_t i = 0; i < start; ++i)
        if (bytes[i] != kX10Poll && !isClockRequest(bytes[i])) return false;
    return x10DecodeStatus(bytes.data() + start, status);
}

// How long bytes past a wrong answer's 14 are waited for: a device that talks
// on its own at 4800 baud sends one every 2 ms.
constexpr uint32_t kTalkingWaitMs = 300;

// Sends the request and reads what comes within `waitMs`: the answer's 14
// bytes, after any polls or clock requests that came first. Past 14 bytes
// that are no status answer it waits a little for one more: a device that
// keeps talking is no controller answering.
void ask(plat::Handle port, uint32_t waitMs, Finding& f) {
    if (plat::serialWrite(port, &kX10StatusRequest, 1, 2000) != plat::kTransferDone) {
        f.found = "absent";
        return;
    }
    const auto deadline = plat::MonotonicClock::now() + std::chrono::milliseconds(waitMs);
    size_t leading = 0; // polls and clock requests before the answer
    bool answered = false;
    while (!answered && f.bytes.size() - leading <= kX10StatusSize) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - plat::MonotonicClock::now())
                        .count();
        if (f.bytes.size() - leading == kX10StatusSize)
            left = std::min<long long>(left, kTalkingWaitMs);
        if (left <= 0) break;
        uint8_t byte = 0;
        uint32_t got = 0;
        plat::SerialTransfer r =
            plat::serialRead(port, &byte, 1, static_cast<uint32_t>(left), &got);
        if (r == plat::kTransferFailed) break;
        if (r != plat::kTransferDone || got == 0) continue;
        if (f.bytes.size() == leading && (byte == kX10Poll || isClockRequest(byte))) ++leading;
        f.bytes.push_back(byte);
        answered = statusAtEnd(f.bytes, f.status);
    }
    if (f.bytes.empty()) {
        f.found = "silence";
    } else if (answered) {
        f.found = "controller";
    } else if (f.bytes.size() - leading > kX10StatusSize) {
        f.found = "foreign";
    } else if (f.bytes[0] == kX10Poll) {
        f.found = "polling";
    } else if (isClockRequest(f.bytes[0])) {
        f.found = "clockRequest";
    } else {
        f.found = "unknown";
    }
}

Finding probePort(const std::string& name, const ProbeOptions& o) {
    Finding f;
    int state = plat::kPortAbsent;
    plat::Handle port = openSerialPort(name, state);
    if (!port) {
        f.found = state == plat::kPortHeld ? "held" : "absent";
        return f;
    }
    plat::LineSettings s{};
    s.DCBlength = sizeof s;
    s.BaudRate = kX10BaudRate;
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

void print(const SerialPortEntry& p, const Finding& f, const ProbeOptions& o, std::ostream& out) {
    const X10Status& s = f.status;
    const char house = houseLetter(s);
    if (o.json) {
        JsonObject j;
        j.text("event", "probe").text("port", p.name).text("device", p.device);
        j.text("found", f.found).text("bytes", hexBytes(f.bytes));
        if (f.found == "controller") {
            j.number("firmware", s.firmware)
                .text("clock", clockText(s.clock))
                .number("yday", s.clock.yday)
                .text("weekday", kWeekdays[s.clock.weekday])
                .number("batteryTimer", s.batteryTimer)
                .text("house", std::string(1, house))
                .text("addressed", unitList(house, s.addressed))
                .text("on", unitList(house, s.on))
                .text("dimmed", unitList(house, s.dimmed));
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
        out << "controller, firmware " << static_cast<int>(s.firmware) << ", clock "
            << clockText(s.clock) << ", battery timer " << battery << ", monitored house " << house
            << " (on: " << unitList(house, s.on) << ")";
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
    } else if (f.found == "foreign") {
        out << "another device talks on this port (not a controller): " << hexBytes(f.bytes);
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

int runProbe(const ProbeOptions& o, std::ostream& out, std::ostream& err) {
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

std::vector<kvqtools::Option> probeOptions(ProbeOptions& o) {
    return {kvqtools::switchOption("--lines", o.lines,
                                   "also print the four modem lines of each port (CTS, DSR,\n"
                                   "RLSD, RING: what Quillport shows)"),
            countOption("--wait", "MS", o.waitMs, 100, 60000, "milliseconds",
                        "how long to wait for the answer (100 to 60000, default 1000)")};
}

bool takePorts(const std::vector<std::string>& words, ProbeOptions& o, std::string& error) {
    for (const std::string& w : words) {
        if (w.empty()) {
            error = "a port name is empty";
            return false;
        }
        o.ports.push_back(w);
    }
    return true;
}

} // namespace

const Verb& probeVerb() {
    static const VerbOf<ProbeOptions> verb(
        {"probe", "[PORT]...",
         "ask each port (all by default) for an X10 controller's\n"
         "status and tell what answered",
         "Looks for an X10 controller (CM11A) on each PORT given (COM1, COM4, ...; natively\n"
         "also a device path), or on every port that kvq-host ports lists. Each port is\n"
         "opened at 4800 baud, 8N1, and sent the controller's status request, the single byte\n"
         "8b, and nothing else: no acknowledgement, no checksum, no answer to a poll. What\n"
         "comes within MS milliseconds (default 1000) tells what is there, one line per port:\n"
         "  controller   its 14-byte status answer: firmware revision, its clock, battery\n"
         "               timer, monitored house code and the units on there\n"
         "  polling      5a: a controller that has power-line traffic to report (it answers\n"
         "               nothing else until a plug-in takes the report)\n"
         "  clock        a5 (or a6): a controller asking for the time; it lost power\n"
         "  silence      nothing: no controller, no power, or another port\n"
         "  held         another program has the port open (the plug-in, a host)\n"
         "  absent       the port cannot be opened: no device behind the name\n"
         "  other bytes  something answered that is not a controller\n"
         "  foreign      bytes that go on coming past a status answer's size, no polls or\n"
         "               clock requests: another device talks there (a GPS receiver, noise)\n",
         "JSON: \"event\":\"probe\" with \"port\", \"device\", \"found\" (controller, polling,\n"
         "clockRequest, silence, held, absent, unknown, foreign) and \"bytes\" (what came, in\n"
         "hex); for a controller \"firmware\", \"clock\", \"yday\", \"weekday\",\n"
         "\"batteryTimer\", \"house\", \"addressed\", \"on\" and \"dimmed\"; with --lines \"cts\", "
         "\"dsr\", \"rlsd\" and\n"
         "\"ring\" (true, false, or null when unreadable). Exit status 0 when a controller\n"
         "answered on some port, 1 when none did.\n",
         false},
        probeOptions, takePorts, runProbe);
    return verb;
}

} // namespace kvqhost
