// x10RoundTrip: how long one X10 command takes through vX10Port against
// cm11a-sim, and how much of that is the port's own.
//
// Two rounds of the same commands (address frame, checksum, acknowledgement,
// ready; then the function frame the same way):
//   simulator  a bare terminal client doing the exchange byte by byte: the
//              simulator's and the pseudo-terminal's own time;
//   port       vX10Port::sendCommand on the same device.
// The difference between the two is the time the port adds: its overlapped
// reads and writes, the watcher thread waking on every byte, the platform layer.
// The clients take turns in blocks of 20 commands after 10 untimed ones each.
//
// Usage: x10RoundTrip [--commands N] [--sim PATH]
#include "entry/library.h"
#include "protocol/vX10Port.h"
#include "protocol/x10Codes.h"
#include "tools/childProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUp = 10; // commands of each client before any is timed
constexpr int kBlock = 20;  // commands of one client before the other takes its turn
constexpr int kReplyMs = 3000;

// The commands timed here raise no events.
struct NoEvents : vX10EventSource {
    vAssignmentButton* findEvent(uint8_t, int) override { return nullptr; }
};

double usSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Summary {
    double p50 = 0, p99 = 0, mean = 0, min = 0, max = 0;
};

Summary summarize(std::vector<double> us) {
    Summary s;
    if (us.empty()) return s;
    std::sort(us.begin(), us.end());
    auto at = [&](double q) {
        size_t i = static_cast<size_t>(q * static_cast<double>(us.size() - 1) + 0.5);
        return us[std::min(i, us.size() - 1)];
    };
    s.p50 = at(0.50);
    s.p99 = at(0.99);
    s.min = us.front();
    s.max = us.back();
    for (double v : us)
        s.mean += v;
    s.mean /= static_cast<double>(us.size());
    return s;
}

void print(const char* name, const Summary& s) {
    std::printf("%-10s p50 %8.0f us   p99 %8.0f us   mean %8.0f us   min %8.0f us   max %8.0f us\n",
                name, s.p50, s.p99, s.mean, s.min, s.max);
}

// The controller's log is read and dropped between commands, so that the
// simulator never blocks on a full pipe.
void drain(ChildProcess& sim) {
    std::string line;
    while (sim.readLine(line, 0)) {}
}

// The plug-in's end of the line without the port: raw reads and writes.
class BareClient {
public:
    explicit BareClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~BareClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    bool exchange(const uint8_t* bytes, size_t size, uint8_t expected) {
        if (::write(fd_, bytes, size) != static_cast<ssize_t>(size)) return false;
        uint8_t reply = 0;
        auto start = Clock::now();
        for (;;) {
            ssize_t n = ::read(fd_, &reply, 1);
            if (n == 1) return reply == expected;
            if (usSince(start) > kReplyMs * 1000.0) return false;
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
    }

    bool command(uint8_t function, uint8_t code) {
        const uint8_t ack = 0x00;
        uint8_t frame[2];
        vX10Port::buildAddressFrame(code, frame);
        if (!exchange(frame, 2, static_cast<uint8_t>(frame[0] + frame[1]))) return false;
        if (!exchange(&ack, 1, 0x55)) return false;
        uint8_t function_[2] = {0x06, static_cast<uint8_t>((code & 0xF0) | function)};
        if (!exchange(function_, 2, static_cast<uint8_t>(function_[0] + function_[1])))
            return false;
        return exchange(&ack, 1, 0x55);
    }

private:
    int fd_ = -1;
};

uint8_t codeOf(int i) {
    return static_cast<uint8_t>(houseCodes[(i / 16) % 16] | unitCodes[i % 16]);
}
uint8_t functionOf(int i) {
    return (i / 256) % 2 == 0 ? kX10FunctionOn : kX10FunctionOff;
}

} // namespace

int main(int argc, char** argv) {
    int commands = 100;
    std::string simPath = KVQ_BIN_DIR "/cm11a-sim";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--commands" && i + 1 < argc) {
            commands = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--sim" && i + 1 < argc) {
            simPath = argv[++i];
        } else {
            std::fprintf(stderr, "usage: x10RoundTrip [--commands N] [--sim PATH]\n");
            return 2;
        }
    }

    ChildProcess sim({simPath, "--instant", "--exit-on-eof"});
    std::string first;
    if (!sim.readLine(first, 10000) || first.rfind("device ", 0) != 0) {
        std::fprintf(stderr, "x10RoundTrip: cm11a-sim did not start (%s)\n", simPath.c_str());
        return 1;
    }
    const std::string device = first.substr(7);

    // The two clients take turns in blocks, so that a change in the machine's load
    // falls on both alike. The port holds the device exclusively while it is open.
    moduleInstance = reinterpret_cast<void*>(0x1000);
    setenv("KVQ_PORT_COM1", device.c_str(), 1);
    std::vector<double> bare, port;
    int next = 0;
    while (static_cast<int>(port.size()) < commands) {
        const int block = std::min(kBlock, commands - static_cast<int>(port.size()));
        const bool warmUp = next == 0;
        const int count = warmUp ? kWarmUp : block;
        {
            BareClient client(device);
            if (!client.ok()) {
                std::fprintf(stderr, "x10RoundTrip: cannot open %s\n", device.c_str());
                return 1;
            }
            for (int i = 0; i < count; ++i) {
                auto start = Clock::now();
                bool ok = client.command(functionOf(next + i), codeOf(next + i));
                double took = usSince(start);
                drain(sim);
                if (!ok) {
                    std::fprintf(stderr, "x10RoundTrip: the simulator did not answer\n");
                    return 1;
                }
                if (!warmUp) bare.push_back(took);
            }
        }
        {
            NoEvents events;
            vX10Port x10(events);
            if (x10.open("com1") != 1) {
                std::fprintf(stderr, "x10RoundTrip: the port did not open %s\n", device.c_str());
                return 1;
            }
            for (int i = 0; i < count; ++i) {
                auto start = Clock::now();
                int32_t ok = x10.sendCommand(functionOf(next + i), 0, codeOf(next + i));
                double took = usSince(start);
                drain(sim);
                if (ok != 1) {
                    std::fprintf(stderr, "x10RoundTrip: command %d not accepted\n", next + i);
                    return 1;
                }
                if (!warmUp) port.push_back(took);
            }
        }
        next += count;
    }
    sim.write("quit\n");

    Summary b = summarize(bare), p = summarize(port);
    std::printf("x10RoundTrip: %d commands (2 frames each) against %s\n", commands,
                simPath.c_str());
    print("simulator", b);
    print("port", p);
    // The two series are separate runs: a difference of their tails means
    // nothing, so the added time is that of the medians and of the means.
    std::printf("%-10s p50 %8.0f us   mean %7.0f us   (port minus simulator)\n", "added",
                p.p50 - b.p50, p.mean - b.mean);
    return 0;
}
