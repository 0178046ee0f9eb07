#include "commands.h"

#include "x10Codes.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace cm11a {

namespace {

constexpr size_t kMaxNamedDataBytes = 8; // the mask has one bit for each of the first eight

std::vector<std::string> split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool parseHexList(const std::vector<std::string>& words, size_t from, std::vector<uint8_t>& out,
                  std::string& error) {
    for (size_t i = from; i < words.size(); ++i) {
        auto byte = parseHexByte(words[i]);
        if (!byte) {
            error = "not a hex byte: '" + words[i] + "'";
            return false;
        }
        out.push_back(*byte);
    }
    if (out.empty()) {
        error = "no bytes given";
        return false;
    }
    return true;
}

// "A1 A2 A-ON" -> size, mask, data.
bool buildUpload(const std::vector<std::string>& words, std::vector<uint8_t>& upload,
                 std::string& error) {
    std::vector<uint8_t> data;
    uint8_t mask = 0;
    for (size_t i = 1; i < words.size(); ++i) {
        if (auto address = parseAddress(words[i])) {
            data.push_back(*address);
        } else if (auto function = parseFunctionByte(words[i])) {
            if (data.size() < kMaxNamedDataBytes) mask |= static_cast<uint8_t>(1u << data.size());
            data.push_back(*function);
        } else {
            error =
                "not an address (A1..P16) or function (A-ON, A-OFF, A-F4, ...): '" + words[i] + "'";
            return false;
        }
    }
    if (data.empty()) {
        error = "report needs addresses and functions, or raw bytes";
        return false;
    }
    if (data.size() > kMaxNamedDataBytes) {
        error = "at most 8 addresses and functions in one report";
        return false;
    }
    upload.push_back(static_cast<uint8_t>(data.size() + 1));
    upload.push_back(mask);
    upload.insert(upload.end(), data.begin(), data.end());
    return true;
}

bool parseCount(const std::string& text, int& out) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    out = std::atoi(text.c_str());
    return true;
}

// "2", "0.25": whole seconds with up to three decimals, at most a day.
bool parseSeconds(const std::string& text, long long& ms) {
    size_t dot = text.find('.');
    std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 5 || fraction.size() > 3 ||
        (dot != std::string::npos && fraction.empty()))
        return false;
    for (char c : whole + fraction)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    fraction.resize(3, '0');
    ms = std::atoll(whole.c_str()) * 1000 + std::atoll(fraction.c_str());
    return ms <= 86400 * 1000LL;
}

} // namespace

const char* commandHelp() {
    return "Commands (one per line, on standard input or the --control file):\n"
           "  report UNIT|FUNCTION...   offer power-line traffic, e.g. report A1 A2 A-ON;\n"
           "                            UNIT is A1..P16, FUNCTION is HOUSE-NAME with NAME one of\n"
           "                            ON OFF DIM BRIGHT ALL-UNITS-OFF ... or F0..F15; at most 8\n"
           "  report raw HEX...         offer exactly these bytes after the poll answer: size\n"
           "                            byte, mask, data, e.g. report raw 03 02 66 62\n"
           "                            (a report polls with 5a until answered with c3); no\n"
           "                            size check: an oversized or zero size goes out as\n"
           "                            given, e.g. report raw 42 22 31 32 20 20\n"
           "  clock [a5|a6]             send a clock request and check the 7-byte answer\n"
           "  bad-checksum K            give the next K frames a wrong checksum\n"
           "  silent on|off             answer nothing and send nothing while on\n"
           "  garbage HEX...            send these bytes now\n"
           "  macro HEX HEX             send a macro report now: 5b and the two bytes of the\n"
           "                            macro's address, e.g. macro 5a a5; it expects no answer\n"
           "  noise SEED SECONDS        be another device for SECONDS: random bytes from SEED\n"
           "                            (a number; the same seed, the same bytes) at the\n"
           "                            line's pace, 480 a second, answering nothing\n"
           "  nmea SECONDS              the same with a GPS receiver's NMEA sentences\n"
           "                            ($GPZDA, $GPGGA, $GPRMC, with checksums); reports and\n"
           "                            clock requests wait for the end of either\n"
           "  early-poll on|off|always  while on, a report (clock request) queued when the\n"
           "                            ready byte is due sends its 5a (a5/a6) in place of\n"
           "                            the 55, at the same moment, then polls as usual; a\n"
           "                            frame in answer is a protocol error (tests that the\n"
           "                            plug-in answers such a poll and never reads it as ready);\n"
           "                            always: one queued while idle waits for the next ready\n"
           "                            byte too, so a test need not hit the frame's time\n"
           "  status-answer HEX|normal  answer each status request with exactly these bytes\n"
           "                            (an unknown answer, a status out of range), until\n"
           "                            status-answer normal\n"
           "  cancel                    drop queued reports and clock requests\n"
           "  status                    log the state of every module switched so far, then the\n"
           "                            protocol errors and duplicate frames counted so far\n"
           "  hangup                    close the line (the terminal's master side) for good\n"
           "  unplug SECONDS            take the device away as a pulled USB adapter: the\n"
           "                            terminal hangs up, --link goes; after SECONDS (0: at\n"
           "                            plug; 0.5 is half a second) a new terminal comes, with\n"
           "                            a new \"device\" line and --link; queued reports and\n"
           "                            clock requests wait (tests that the plug-in survives\n"
           "                            its port going away and reopens it)\n"
           "  plug                      bring an unplugged device back now\n"
           "  hold SECONDS              make new opens of the port fail for SECONDS (0: until\n"
           "                            release): an exclusive flock on the terminal, and its\n"
           "                            path in $KVQ_MODEMLINES_BUSY_FILE when that is set\n"
           "                            (tests a plug-in whose open is refused); a port open\n"
           "                            elsewhere is locked once it is closed; unplug ends it\n"
           "  release                   end a hold now\n"
           "  help                      print this summary on standard error\n"
           "  quit                      exit\n";
}

CommandResult runCommand(const std::string& line, Controller& controller, Port& port, EventLog& log,
                         long long now, std::string& error) {
    std::vector<std::string> words = split(line);
    if (words.empty() || words[0][0] == '#') return CommandResult::Done;
    const std::string& name = words[0];
    auto accepted = [&]() {
        std::string text = "cmd";
        for (const std::string& w : words)
            text += " " + w;
        log.note("cmd", text);
    };
    auto needsLine = [&]() {
        if (!port.isHungUp()) return true;
        error = "'" + name + "': the line is closed";
        return false;
    };
    auto needsDevice = [&]() {
        if (!needsLine()) return false;
        if (port.isPlugged()) return true;
        error = "'" + name + "': the device is unplugged";
        return false;
    };
    auto seconds = [&](long long& ms) {
        if (words.size() == 2 && parseSeconds(words[1], ms)) return true;
        error = "usage: " + name + " SECONDS (a decimal number up to 86400; 0: until " +
                (name == "hold" ? "release" : "plug") + ")";
        return false;
    };

    if (name == "report") {
        std::vector<uint8_t> upload;
        bool ok = words.size() > 1 && words[1] == "raw" ? parseHexList(words, 2, upload, error)
                                                        : buildUpload(words, upload, error);
        if (!ok) {
            error = "report: " + error;
            return CommandResult::Error;
        }
        if (!needsLine()) return CommandResult::Error;
        accepted();
        controller.queueUpload(upload);
        return CommandResult::Done;
    }
    if (name == "clock") {
        uint8_t request = kX10ClockRequest;
        if (words.size() > 2 || (words.size() == 2 && words[1] != "a5" && words[1] != "a6")) {
            error = "usage: clock [a5|a6]";
            return CommandResult::Error;
        }
        if (words.size() == 2 && words[1] == "a6") request = kX10ClockRequestAlt;
        if (!needsLine()) return CommandResult::Error;
        accepted();
        controller.queueClockRequest(request);
        return CommandResult::Done;
    }
    if (name == "bad-checksum") {
        int count = 0;
        if (words.size() != 2 || !parseCount(words[1], count)) {
            error = "usage: bad-checksum K (K a number of frames)";
            return CommandResult::Error;
        }
        accepted();
        controller.failNextChecksums(count);
        return CommandResult::Done;
    }
    if (name == "silent") {
        if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) {
            error = "usage: silent on|off";
            return CommandResult::Error;
        }
        accepted();
        controller.setSilent(words[1] == "on");
        return CommandResult::Done;
    }
    if (name == "early-poll") {
        if (words.size() != 2 || (words[1] != "on" && words[1] != "off" && words[1] != "always")) {
            error = "usage: early-poll on|off|always";
            return CommandResult::Error;
        }
        accepted();
        controller.setEarlyPoll(words[1] == "on", words[1] == "always");
        return CommandResult::Done;
    }
    if (name == "status-answer") {
        std::vector<uint8_t> bytes;
        if (!(words.size() == 2 && words[1] == "normal") && !parseHexList(words, 1, bytes, error)) {
            error = "status-answer: " + error + " (HEX... or normal)";
            return CommandResult::Error;
        }
        accepted();
        controller.setStatusAnswer(bytes);
        return CommandResult::Done;
    }
    auto devicePermits = [&]() {
        error = port.refusal(name);
        return error.empty();
    };
    if (name == "unplug" || name == "hold") {
        long long ms = 0;
        if (!seconds(ms) || !devicePermits()) return CommandResult::Error;
        accepted();
        if (name == "unplug")
            port.unplug(ms, now);
        else
            port.hold(ms, now);
        return CommandResult::Done;
    }
    if (name == "garbage") {
        std::vector<uint8_t> bytes;
        if (!parseHexList(words, 1, bytes, error)) {
            error = "garbage: " + error;
            return CommandResult::Error;
        }
        if (!needsDevice()) return CommandResult::Error;
        accepted();
        controller.sendGarbage(bytes);
        return CommandResult::Done;
    }
    if (name == "macro") {
        std::vector<uint8_t> address;
        if (words.size() != 3 || !parseHexList(words, 1, address, error)) {
            error = "usage: macro HEX HEX (the macro's address)";
            return CommandResult::Error;
        }
        if (!needsDevice()) return CommandResult::Error;
        accepted();
        controller.sendMacroReport(address[0], address[1]);
        return CommandResult::Done;
    }
    if (name == "noise" || name == "nmea") {
        bool random = name == "noise";
        int seed = 0;
        long long ms = 0;
        if (words.size() != (random ? 3u : 2u) || (random && !parseCount(words[1], seed)) ||
            !parseSeconds(words.back(), ms)) {
            error = random ? "usage: noise SEED SECONDS (SEED a number of up to 6 digits)"
                           : "usage: nmea SECONDS";
            return CommandResult::Error;
        }
        if (!needsDevice()) return CommandResult::Error;
        accepted();
        controller.startStream(
            LineStream(random ? LineStream::Kind::Random : LineStream::Kind::Nmea,
                       static_cast<uint32_t>(seed), now, ms));
        return CommandResult::Done;
    }
    if (words.size() != 1) {
        error = "'" + name + "' takes no arguments, or is not a command (try help)";
        return CommandResult::Error;
    }
    if (name == "cancel") {
        accepted();
        controller.cancelRequests();
        return CommandResult::Done;
    }
    if (name == "status") {
        accepted();
        controller.reportStatus();
        return CommandResult::Done;
    }
    if (name == "hangup") {
        if (!needsLine()) return CommandResult::Error;
        accepted();
        port.hangUp();
        controller.hangUp();
        return CommandResult::Done;
    }
    if (name == "plug") {
        if (!devicePermits()) return CommandResult::Error;
        accepted();
        return port.plug(now, error) ? CommandResult::Done : CommandResult::Error;
    }
    if (name == "release") {
        if (!devicePermits()) return CommandResult::Error;
        accepted();
        port.release();
        return CommandResult::Done;
    }
    if (name == "quit") {
        accepted();
        return CommandResult::Quit;
    }
    if (name == "help") {
        std::fputs(commandHelp(), stderr);
        return CommandResult::Done;
    }
    error = "unknown command '" + name + "' (try help)";
    return CommandResult::Error;
}

} // namespace cm11a
