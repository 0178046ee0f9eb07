// cm11a-sim: an X10 CM11A controller on a pseudo-terminal, for trying and
// testing the X10 plug-in without the hardware. It prints the terminal's
// device path on its first line of output, then one line per event; commands
// come from standard input or a control file. Every wait is bounded, and the
// program exits cleanly on quit, on SIGTERM/SIGINT/SIGHUP and, with
// --exit-on-eof, at the end of standard input.
#include "commands.h"
#include "controller.h"
#include "eventLog.h"
#include "port.h"
#include "x10Codes.h"

#include "common/options.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using cm11a::CommandResult;
using cm11a::Controller;
using cm11a::EventLog;
using cm11a::Port;
using kvqtools::Option;

constexpr int kMaxPollWaitMs = 100; // also how often a regular control file is read

struct Options {
    std::string link;
    std::string control;
    bool json = false;
    bool exitOnEof = false;
    int firmware = 1;
    uint8_t house = 0x6; // code nibble of A
    cm11a::Timing timing;
};

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t lastSignal = 0;
const unsigned char kWakeByte = 1; // static, not on the handler's stack

void onSignal(int signo) {
    lastSignal = signo;
    ssize_t ignored = write(signalPipe[1], &kWakeByte, 1);
    (void)ignored;
}

const char* const kAbout =
    "Usage: cm11a-sim [OPTION]...\n"
    "Simulates an X10 CM11A controller on a pseudo-terminal (4800 8N1, raw). The first\n"
    "line of output is \"device /dev/pts/N\" (with --json: event \"device\", field\n"
    "\"path\"); then one line per event: each byte with its direction and meaning\n"
    "(\"rx 04 66 address A1\", \"tx 6a checksum\"), and what was put on the power line\n"
    "(\"A1 ON put on the power line\"). A device brought back after unplug is named\n"
    "by another \"device\" line. Errors go to standard error.\n"
    "\n"
    "Options:\n";

const char* const kStatusHelp =
    "A status request (the single byte 8b) is answered with 14 bytes: battery timer\n"
    "(2 bytes, high first; ffff, as after a reset), seconds, minutes plus 60 in an odd\n"
    "hour (0-119), hour / 2 (0-11), day of the year counting 1 January as 0 (low 8 bits),\n"
    "its ninth bit in bit 7 with the weekday mask in bits 0-6 (bit 0 Sunday), the\n"
    "monitored house code nibble << 4 | firmware revision, then three bitmaps of the\n"
    "monitored house (2 bytes each, high first; bit n is unit n+1): the units addressed\n"
    "now, the units on, the units dimmed (always 0: the simulator keeps no dim level).\n"
    "The clock starts at the local time and is set by every valid clock answer.\n"
    "The status-answer command makes it answer with other bytes instead.\n"
    "A status request is answered when no exchange runs, and also in place of an ack\n"
    "(the frame is then dropped); while polling, asking for the clock or putting a frame\n"
    "on the power line it is logged and not answered; after a frame's header it is the\n"
    "frame's second byte. It never counts as a protocol error.\n"
    "\n";

[[noreturn]] void fail(int code, const std::string& message) {
    std::fprintf(stderr, "cm11a-sim: %s\n", message.c_str());
    std::exit(code);
}

// A whole number from lo to hi into `field`.
Option numberOption(const char* flag, const char* valueName, int& field, int lo, int hi,
                    const char* help) {
    return kvqtools::valueOption(
        flag, valueName,
        [flag, &field, lo, hi](const std::string& text, std::string& error) {
            char* end = nullptr;
            errno = 0;
            long value = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno != 0 || value < lo || value > hi) {
                error = std::string(flag) + " needs a whole number from " + std::to_string(lo) +
                        " to " + std::to_string(hi) + ", not '" + text + "'";
                return false;
            }
            field = static_cast<int>(value);
            return true;
        },
        help);
}

std::vector<Option> optionTable(Options& o, bool& help) {
    using kvqtools::switchOption;
    using kvqtools::textOption;
    using kvqtools::valueOption;
    cm11a::Timing& t = o.timing;
    std::vector<Option> table = {
        textOption("--link", "PATH", o.link,
                   "make PATH a symbolic link to the terminal (removed at exit\n"
                   "and at unplug, pointed at the new terminal at plug)"),
        textOption("--control", "PATH", o.control,
                   "also read commands from PATH: a FIFO (created when PATH does\n"
                   "not exist, removed at exit) or a regular file (read from its\n"
                   "start, then followed as it grows)"),
        switchOption("--json", o.json, "one JSON object per line instead of text"),
        numberOption("--poll-interval", "MS", t.pollIntervalMs, 10, 600000,
                     "time between two polls of a report (default 1000)"),
        numberOption("--poll-limit", "N", t.pollLimit, 0, 1000000,
                     "drop a report after N unanswered polls (default 0: never)"),
        numberOption("--clock-timeout", "MS", t.clockTimeoutMs, 10, 600000,
                     "time allowed for the 7-byte clock answer (default 3000)"),
        numberOption("--frame-timeout", "MS", t.frameTimeoutMs, 10, 600000,
                     "time allowed for a frame's second byte and its ack\n(default 1000)"),
        valueOption(
            "--mains", "HZ",
            [&t](const std::string& hz, std::string& error) {
                if (hz != "60" && hz != "50") {
                    error = "--mains needs 60 or 50, not '" + hz + "'";
                    return false;
                }
                t.mainsHz = std::stoi(hz);
                return true;
            },
            "the mains frequency, 60 (default) or 50: the ready byte comes\n"
            "when the frame has been on the power line, sent twice (11\n"
            "cycles each) and followed by a 3-cycle gap: 25 cycles, and\n"
            "the ack and the ready byte at 4800 baud: 421 ms after the ack\n"
            "at 60 Hz, 504 ms at 50 Hz; meanwhile a poll or clock request\n"
            "waits, and any byte from the computer is a protocol error"),
        valueOption(
            "--instant", "",
            [&t](const std::string&, std::string&) {
                t.mainsHz = 0;
                return true;
            },
            "the ready byte at once (for fast tests)"),
        numberOption("--firmware", "N", o.firmware, 0, 15,
                     "the firmware revision the status answer gives (0-15, default 1)"),
        valueOption(
            "--house", "L",
            [&o](const std::string& letter, std::string& error) {
                auto address = cm11a::parseAddress(letter + "1");
                if (letter.size() != 1 || !address) {
                    error = "--house needs a letter A to P, not '" + letter + "'";
                    return false;
                }
                o.house = static_cast<uint8_t>(*address >> 4);
                return true;
            },
            "the monitored house code, A (default) to P"),
        switchOption("--exit-on-eof", o.exitOnEof, "exit when standard input ends"),
        switchOption("--help", help, "print this help and exit")};
    table.back().endsScan = true;
    return table;
}

void usage(const std::vector<Option>& table, std::FILE* out) {
    std::fputs((kAbout + kvqtools::optionHelp(table, 25) + "\n" + kStatusHelp).c_str(), out);
    std::fputs(cm11a::commandHelp(), out);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    bool help = false;
    std::vector<Option> table = optionTable(o, help);
    kvqtools::Syntax syntax;
    syntax.operands = false;
    syntax.unknown = [](const std::string& word) {
        return "unknown option '" + word + "' (see --help)";
    };
    syntax.needsValue = [](const std::string& flag) {
        return flag + " needs a value (see --help)";
    };
    std::vector<std::string> operands;
    std::vector<kvqtools::GivenOption> given;
    std::string error;
    if (!kvqtools::scanArguments(
            std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc),
            [&table](const std::string& flag) { return kvqtools::findOption(table, flag); }, syntax,
            operands, given, error))
        fail(2, error);
    if (help) {
        usage(table, stdout);
        std::exit(0);
    }
    return o;
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Splits a byte stream into lines.
struct LineReader {
    std::string pending;
    template <typename F> void feed(const char* data, size_t n, F&& onLine) {
        pending.append(data, n);
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            onLine(line);
        }
    }
};

struct ControlFile {
    std::string path;
    int fd = -1;
    int keepOpen = -1; // a writer of our own, so the FIFO never reports end of file
    bool fifo = false;
    bool created = false;

    void open(const std::string& p) {
        path = p;
        struct stat st {};
        if (stat(p.c_str(), &st) != 0) {
            if (errno != ENOENT) fail(1, errnoText("cannot use " + p));
            if (mkfifo(p.c_str(), 0600) != 0) fail(1, errnoText("cannot create FIFO " + p));
            created = true;
            fifo = true;
        } else if (S_ISFIFO(st.st_mode)) {
            fifo = true;
        } else if (!S_ISREG(st.st_mode)) {
            fail(1, p + " is neither a FIFO nor a regular file");
        }
        fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) fail(1, errnoText("cannot open " + p));
        if (fifo) keepOpen = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
    }

    void close() {
        if (fd >= 0) ::close(fd);
        if (keepOpen >= 0) ::close(keepOpen);
        fd = keepOpen = -1;
        if (created) unlink(path.c_str());
    }
};

void installSignals() {
    if (pipe(signalPipe) != 0) fail(1, errnoText("cannot create a pipe"));
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char** argv) {
    Options options = parseOptions(argc, argv);
    installSignals();

    EventLog log(stdout, options.json);
    const char* busyFile = std::getenv("KVQ_MODEMLINES_BUSY_FILE");
    Port port(options.link, busyFile ? busyFile : "", log);
    std::string openError;
    if (!port.open(openError)) fail(1, openError);
    ControlFile control;
    if (!options.control.empty()) control.open(options.control);

    Controller controller(options.timing, log,
                          [&port](const std::vector<uint8_t>& bytes) { return port.write(bytes); });
    controller.setFirmwareRevision(options.firmware);
    controller.setMonitoredHouse(options.house);
    port.setListener([&controller](bool plugged, long long) { controller.setPlugged(plugged); });
    port.announce();

    bool quit = false;
    bool stdinOpen = true;
    LineReader stdinLines, controlLines;
    auto execute = [&](const std::string& text) {
        std::string error;
        switch (cm11a::runCommand(text, controller, port, log, cm11a::monotonicMs(), error)) {
        case CommandResult::Quit:
            quit = true;
            break;
        case CommandResult::Error:
            std::fprintf(stderr, "cm11a-sim: %s\n", error.c_str());
            std::fflush(stderr);
            break;
        case CommandResult::Done:
            break;
        }
    };
    auto readCommands = [&](int fd, LineReader& reader) -> bool {
        char buf[1024];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) reader.feed(buf, static_cast<size_t>(n), execute);
        return n != 0 && !(n < 0 && errno != EAGAIN && errno != EINTR);
    };

    while (!quit) {
        long long now = cm11a::monotonicMs();
        port.tick(now);
        controller.tick(now);
        int timeout = kMaxPollWaitMs;
        for (long long due : {port.nextDeadline(), controller.nextDeadline()})
            if (due >= 0 && due - now < timeout)
                timeout = due > now ? static_cast<int>(due - now) : 0;

        pollfd fds[4];
        nfds_t count = 0;
        int signalSlot = count++;
        fds[signalSlot] = {signalPipe[0], POLLIN, 0};
        int lineSlot = -1, stdinSlot = -1, controlSlot = -1;
        if (port.isPlugged()) fds[lineSlot = count++] = {port.master(), POLLIN, 0};
        if (stdinOpen) fds[stdinSlot = count++] = {STDIN_FILENO, POLLIN, 0};
        if (control.fifo) fds[controlSlot = count++] = {control.fd, POLLIN, 0};

        if (poll(fds, count, timeout) < 0) {
            if (errno == EINTR) continue;
            fail(1, errnoText("poll"));
        }
        if (fds[signalSlot].revents) {
            unsigned char wake = 0;
            if (read(signalPipe[0], &wake, 1) == 1)
                log.note("signal", std::string("signal ") + strsignal(lastSignal));
            quit = true;
            break;
        }
        if (lineSlot >= 0 && fds[lineSlot].revents) {
            uint8_t buf[256];
            ssize_t n = read(port.master(), buf, sizeof buf);
            if (n > 0) {
                controller.receive(buf, static_cast<size_t>(n), cm11a::monotonicMs());
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // Cannot happen while our own slave descriptor is open; never spin on it.
                log.note("error", errnoText("line read failed"));
                port.hangUp();
                controller.hangUp();
            }
        }
        if (stdinSlot >= 0 && fds[stdinSlot].revents && !readCommands(STDIN_FILENO, stdinLines)) {
            stdinOpen = false;
            if (options.exitOnEof) {
                log.note("eof", "end of standard input");
                quit = true;
            }
        }
        if (controlSlot >= 0 && fds[controlSlot].revents) readCommands(control.fd, controlLines);
        if (control.fd >= 0 && !control.fifo) readCommands(control.fd, controlLines);
    }

    port.close();
    control.close();
    log.note("exit", "exit");
    return 0;
}
