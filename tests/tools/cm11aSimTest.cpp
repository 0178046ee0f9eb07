// cm11a-sim run as a child process, driven through its pseudo-terminal as the
// X10 plug-in drives the controller, and through its commands.
#include "childProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kSim = KVQ_BIN_DIR "/cm11a-sim";
constexpr int kStartMs = 10000; // a sanitizer build starts slowly
constexpr int kReplyMs = 3000;

// The plug-in's end of the line.
class Terminal {
public:
    explicit Terminal(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Terminal() {
        if (fd_ >= 0) close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Up to count bytes, fewer when the deadline passes first.
    Bytes read(size_t count, int timeoutMs = kReplyMs) {
        Bytes got;
        long long end = ChildProcess::now() + timeoutMs;
        while (got.size() < count) {
            uint8_t buf[64];
            ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0) {
                got.insert(got.end(), buf, buf + n);
                continue;
            }
            long long left = end - ChildProcess::now();
            if (n == 0 || (errno != EAGAIN && errno != EINTR) || left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        }
        return got;
    }

    // Sends a frame and returns what the controller answers (one byte).
    Bytes exchange(const Bytes& frame) {
        send(frame);
        return read(1);
    }

    // The plug-in's whole frame handshake: frame, checksum, ack, ready.
    void transact(const Bytes& frame) {
        uint8_t sum = static_cast<uint8_t>(frame[0] + frame[1]);
        EXPECT_EQ(exchange(frame), Bytes{sum});
        EXPECT_EQ(exchange({0x00}), Bytes{0x55});
    }

    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

struct Sim {
    explicit Sim(std::vector<std::string> args = {}, const ChildProcess::Env& env = {})
        : process(withProgram(std::move(args)), env) {
        std::string first;
        if (process.readLine(first, kStartMs) && first.rfind("device ", 0) == 0)
            device = first.substr(7);
        if (!device.empty()) line = std::make_unique<Terminal>(device);
    }
    ~Sim() { process.write("quit\n"); }

    bool ready() const { return line && line->isOpen(); }
    Terminal& term() { return *line; }
    void command(const std::string& text) {
        ASSERT_TRUE(process.write(text + "\n"));
        // Commands and line bytes come through different channels: wait until
        // the command is taken before the test goes on.
        ASSERT_NE(process.waitFor("cmd " + text), "") << text;
    }
    bool logs(const std::string& text, int timeoutMs = kReplyMs) {
        return !process.waitFor(text, timeoutMs).empty();
    }

    static std::vector<std::string> withProgram(std::vector<std::string> args) {
        args.insert(args.begin(), "--exit-on-eof");
        args.insert(args.begin(), "--instant"); // a test may pace it again with --mains
        args.insert(args.begin(), kSim);
        return args;
    }

    ChildProcess process;
    std::string device;
    std::unique_ptr<Terminal> line;
};

// The terminal's other end is gone: poll reports a hang-up and reads fail.
bool hungUp(Terminal& t) {
    pollfd p{t.fd(), POLLIN, 0};
    uint8_t byte;
    return poll(&p, 1, kReplyMs) == 1 && (p.revents & (POLLHUP | POLLERR)) &&
           ::read(t.fd(), &byte, 1) <= 0;
}

TEST(Cm11aSim, FrameHandshakePutsCommandsOnThePowerLine) {
    Sim sim;
    ASSERT_TRUE(sim.ready());
    Terminal& t = sim.term();

    // A1 On, byte by byte as on the wire.
    EXPECT_EQ(t.exchange({0x04, 0x66}), Bytes{0x6A});
    EXPECT_TRUE(sim.logs("rx 04 66 address A1"));
    EXPECT_TRUE(sim.logs("tx 6a checksum"));
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x55});
    EXPECT_TRUE(sim.logs("rx 00 ack"));
    EXPECT_TRUE(sim.logs("tx 55 ready"));
    EXPECT_EQ(t.exchange({0x06, 0x62}), Bytes{0x68});
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x55});
    EXPECT_TRUE(sim.logs("A1 ON put on the power line"));

    // M13 Off: both code bytes are zero nibbles.
    EXPECT_EQ(t.exchange({0x04, 0x00}), Bytes{0x04});
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x55});
    EXPECT_EQ(t.exchange({0x06, 0x03}), Bytes{0x09});
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x55});
    EXPECT_TRUE(sim.logs("M13 OFF put on the power line"));

    // An address after a function starts a new list: A Off reaches A2 only;
    // two addresses in a row are both switched.
    t.transact({0x04, 0x6E});
    t.transact({0x06, 0x63});
    EXPECT_TRUE(sim.logs("A2 OFF put on the power line"));
    t.transact({0x04, 0xE6}); // B1
    t.transact({0x04, 0xEE}); // B2
    t.transact({0x06, 0xE2});
    EXPECT_TRUE(sim.logs("B1 ON put on the power line"));
    EXPECT_TRUE(sim.logs("B2 ON put on the power line"));

    sim.command("status");
    std::vector<std::string> status;
    for (int i = 0; i < 5; ++i)
        status.push_back(sim.process.waitFor("status "));
    EXPECT_EQ(status, (std::vector<std::string>{"status A1 ON", "status A2 OFF", "status B1 ON",
                                                "status B2 ON", "status M13 OFF"}));
}

TEST(Cm11aSim, AddressHeaderWithDimFieldIsAnAddress) {
    Sim sim;
    ASSERT_TRUE(sim.ready());
    Terminal& t = sim.term();
    // G1 and D5 would have the checksums 0x5A and 0xA5 with header 0x04.
    EXPECT_EQ(t.exchange({0x0C, 0x56}), Bytes{0x62});
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x55});
    EXPECT_TRUE(sim.logs("rx 0c 56 address G1"));
    t.transact({0x06, 0x52});
    EXPECT_TRUE(sim.logs("G1 ON put on the power line"));
    t.transact({0x0C, 0xA1});
    t.transact({0x06, 0xA3});
    EXPECT_TRUE(sim.logs("D5 OFF put on the power line"));
}

// At mains pace the ready byte comes when the frame has been on the power line
// for 25 cycles; a byte from the computer meanwhile, or instead of the ack
// after a correct checksum, is a protocol error that status counts, as it
// counts a frame put on the line twice in a row.
TEST(Cm11aSim, MainsPaceAndProtocolErrors) {
    for (auto [hz, ms] : {std::pair<const char*, long long>{"60", 421}, {"50", 504}}) {
        Sim sim({"--mains", hz});
        ASSERT_TRUE(sim.ready());
        Terminal& t = sim.term();
        EXPECT_EQ(t.exchange({0x04, 0x66}), Bytes{0x6A});
        long long acked = ChildProcess::now();
        t.send({0x00});
        EXPECT_EQ(t.read(1, 300), Bytes{}) << hz << " Hz: not before the frame is on the line";
        EXPECT_EQ(t.read(1, 2000), Bytes{0x55});
        // Never early: a 50 Hz ready byte comes after the 500 ms a read waits.
        EXPECT_GE(ChildProcess::now() - acked, ms - 5) << hz << " Hz";

        EXPECT_EQ(t.exchange({0x04, 0x66}), Bytes{0x6A}); // the same address again
        t.send({0x00});
        EXPECT_EQ(t.read(1, 300), Bytes{}) << hz << " Hz";
        t.send({0x06}); // the function frame, while the address is on the line
        EXPECT_EQ(t.read(1, 2000), Bytes{0x55});
        EXPECT_EQ(t.exchange({0x06, 0x62}), Bytes{0x68});
        t.send({0x06}); // instead of the ack
        EXPECT_TRUE(sim.logs("protocol error: instead of the ack"));
        sim.command("status");
        EXPECT_TRUE(sim.logs("status: 2 protocol errors, 1 duplicate frames")) << hz << " Hz";
    }
}

TEST(Cm11aSim, ReportPollsUntilAnsweredThenUploads) {
    Sim sim({"--poll-interval", "150", "--poll-limit", "3"});
    ASSERT_TRUE(sim.ready());
    Terminal& t = sim.term();

    sim.command("report A1 A-ON");
    EXPECT_EQ(t.read(1), Bytes{0x5A});
    t.send({0x8B}); // while polling: not answered, the poll goes on
    EXPECT_EQ(t.read(1), Bytes{0x5A});
    EXPECT_TRUE(sim.logs("status request while polling: not answered"));
    long long first = ChildProcess::now();
    // A frame while the poll is pending gets no checksum: the poll goes on.
    t.send({0x04, 0x66});
    EXPECT_EQ(t.read(1), Bytes{0x5A});
    EXPECT_GE(ChildProcess::now() - first, 100);
    t.send({0xC3});
    EXPECT_EQ(t.read(4), (Bytes{0x03, 0x02, 0x66, 0x62}));
    EXPECT_TRUE(sim.logs("upload size 3 mask 02: A1 A-ON"));
    // Answered: no more polls (two intervals of quiet).
    EXPECT_TRUE(t.read(1, 400).empty());

    // The mask marks the function bytes among the data bytes.
    sim.command("report A1 A2 A-ON");
    EXPECT_EQ(t.read(1), Bytes{0x5A});
    t.send({0xC3});
    EXPECT_EQ(t.read(5), (Bytes{0x04, 0x04, 0x66, 0x6E, 0x62}));
    sim.command("report P16 P-OFF E-F4");
    EXPECT_EQ(t.read(1), Bytes{0x5A});
    t.send({0xC3});
    EXPECT_EQ(t.read(5), (Bytes{0x04, 0x06, 0xCC, 0xC3, 0x14}));

    // Raw bytes go out exactly as given.
    sim.command("report raw 04 02 66 6e 62");
    EXPECT_EQ(t.read(1), Bytes{0x5A});
    t.send({0xC3});
    EXPECT_EQ(t.read(5), (Bytes{0x04, 0x02, 0x66, 0x6E, 0x62}));

    // Unanswered, the report is dropped after the poll limit.
    sim.command("report B2 B-OFF");
    EXPECT_EQ(t.read(3, 2000), (Bytes{0x5A, 0x5A, 0x5A}));
    EXPECT_TRUE(sim.logs("report not answered after 3 polls: dropped"));
    EXPECT_TRUE(t.read(1, 400).empty());
}

Bytes clockFrame(const std::tm& tm) {
    int hour = tm.tm_hour, yday = tm.tm_yday;
    return {0x9B,
            static_cast<uint8_t>(tm.tm_sec),
            static_cast<uint8_t>((hour % 2) * 60 + tm.tm_min),
            static_cast<uint8_t>(hour / 2),
            static_cast<uint8_t>(yday & 0xFF),
            static_cast<uint8_t>(((yday >> 8) << 7) | (1 << tm.tm_wday)),
            0x61};
}

uint8_t sum(const Bytes& bytes) {
    uint8_t s = 0;
    for (uint8_t b : bytes)
        s = static_cast<uint8_t>(s + b);
    return s;
}

TEST(Cm11aSim, ClockRequestChecksTheAnswer) {
    Sim sim({"--clock-timeout", "1000"});
    ASSERT_TRUE(sim.ready());
    Terminal& t = sim.term();

    sim.command("clock");
    EXPECT_EQ(t.read(1), Bytes{0xA5});
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Bytes answer = clockFrame(local);
    t.send(answer);
    EXPECT_EQ(t.read(1), Bytes{sum(answer)});
    EXPECT_TRUE(sim.logs("valid, matches local time"));

    // 13:45:30 on a Tuesday, day 40: decoded, valid, but not the local time.
    sim.command("clock");
    EXPECT_EQ(t.read(1), Bytes{0xA5});
    t.send({0x9B, 0x1E, 0x69, 0x06, 0x28, 0x04, 0x61});
    EXPECT_EQ(t.read(1), Bytes{0xB5});
    EXPECT_TRUE(sim.logs("clock answer 13:45:30 Tue day 40: valid"));
    const auto set = std::chrono::steady_clock::now();
    // The status answer reads that clock back, running on from it (read a
    // second later), with the state of the monitored house: A1 addressed and on.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    t.transact({0x04, 0x66});
    t.transact({0x06, 0x62});
    t.send({0x8B});
    Bytes status = t.read(14);
    ASSERT_EQ(status.size(), 14u);
    const auto ran =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - set);
    EXPECT_GE(status[2] - 0x1E, 1) << "the clock did not run";
    EXPECT_LE(status[2] - 0x1E, ran.count() + 1) << "seconds since the clock was set";
    EXPECT_EQ(Bytes(status.begin() + 3, status.end()),
              (Bytes{0x69, 0x06, 0x28, 0x04, 0x61, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Bytes(status.begin(), status.begin() + 2), (Bytes{0xFF, 0xFF}));
    // Instead of the ack the request drops the frame and is answered; after a
    // header it is the frame's second byte.
    EXPECT_EQ(t.exchange({0x04, 0x6E}), Bytes{0x72});
    t.send({0x8B});
    EXPECT_EQ(t.read(14).size(), 14u);
    EXPECT_TRUE(sim.logs("frame 04 6e dropped: a status request came instead of the ack"));
    EXPECT_EQ(t.exchange({0x04, 0x8B}), Bytes{0x8F});
    t.send({0x00});
    EXPECT_EQ(t.read(1), Bytes{0x55});
    sim.command("status");
    EXPECT_TRUE(sim.logs("status: 0 protocol errors"));

    sim.command("clock a6");
    EXPECT_EQ(t.read(1), Bytes{0xA6});
    t.send({0x9B, 0x3C, 0x78, 0x0C, 0x28, 0x03, 0x62}); // every field out of range
    EXPECT_EQ(t.read(1), Bytes{0xE8});
    std::string verdict = sim.process.waitFor("clock answer");
    EXPECT_NE(verdict.find("invalid"), std::string::npos) << verdict;
    for (const char* problem : {"seconds 60", "minute field 120", "half-hour field 12",
                                "weekday bits 03", "last byte 62"})
        EXPECT_NE(verdict.find(problem), std::string::npos) << problem;

    sim.command("clock");
    EXPECT_EQ(t.read(1), Bytes{0xA5});
    EXPECT_TRUE(sim.logs("clock request not answered", 3000));
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Cm11aSim, InjectedFaults) {
    std::string base = testing::TempDir() + "cm11a-sim-faults-" + std::to_string(getpid());
    std::string link = base + ".link", busy = base + ".busy";
    unlink(link.c_str());
    Sim sim({"--link", link}, {{"KVQ_MODEMLINES_BUSY_FILE", busy}});
    ASSERT_TRUE(sim.ready());
    Terminal& t = sim.term();

    // Two wrong checksums, then the right one for the third try.
    sim.command("bad-checksum 2");
    Bytes first = t.exchange({0x04, 0x66});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_NE(first[0], 0x6A);
    Bytes second = t.exchange({0x04, 0x66});
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], 0x6A);
    EXPECT_EQ(t.exchange({0x04, 0x66}), Bytes{0x6A});
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x55});

    // An ack of a wrong checksum gets no ready byte and switches nothing.
    sim.command("bad-checksum 1");
    EXPECT_EQ(t.exchange({0x04, 0x6E}).size(), 1u);
    t.send({0x00});
    EXPECT_TRUE(sim.logs("ack after a wrong checksum: frame dropped"));
    EXPECT_TRUE(t.read(1, 300).empty());

    sim.command("silent on");
    t.send({0x04, 0x66});
    EXPECT_TRUE(sim.logs("ignored (silent)"));
    EXPECT_TRUE(t.read(1, 300).empty());
    sim.command("silent off");
    EXPECT_EQ(t.exchange({0x04, 0x66}), Bytes{0x6A});
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x55});

    sim.command("garbage 12 0xa5 5a");
    EXPECT_EQ(t.read(3), (Bytes{0x12, 0xA5, 0x5A}));
    // Given bytes in place of the status answer, until normal again.
    sim.command("status-answer 4f 4b");
    t.send({0x8B});
    EXPECT_EQ(t.read(3, 300), (Bytes{0x4F, 0x4B}));
    sim.command("status-answer normal");
    t.send({0x8B});
    EXPECT_EQ(t.read(14).size(), 14u);

    // Early poll: a report queued while a frame is on its way polls in place of
    // the ready byte; answered with c3 at once, it uploads and nothing is wrong.
    sim.command("early-poll on");
    t.transact({0x04, 0x6E});
    EXPECT_EQ(t.exchange({0x06, 0x62}), Bytes{0x68});
    sim.command("report A1 A-ON");
    EXPECT_EQ(t.exchange({0x00}), Bytes{0x5A});
    EXPECT_TRUE(sim.logs("A2 ON put on the power line"));
    t.send({0xC3});
    EXPECT_EQ(t.read(4), (Bytes{0x03, 0x02, 0x66, 0x62}));
    sim.command("status");
    EXPECT_TRUE(sim.logs("status: 0 protocol errors"));
    // A clock request in its place, taken for the ready byte: the next frame
    // is a protocol error.
    EXPECT_EQ(t.exchange({0x04, 0xE6}), Bytes{0xEA});
    sim.command("clock");
    EXPECT_EQ(t.exchange({0x00}), Bytes{0xA5});
    t.send({0x06, 0xE2});
    EXPECT_TRUE(sim.logs("the clock request was taken for the ready byte"));
    t.send({0x9B, 0x1E, 0x69, 0x06, 0x28, 0x04, 0x61});
    EXPECT_EQ(t.read(1), Bytes{0xB5});
    sim.command("status");
    EXPECT_TRUE(sim.logs("status: 1 protocol errors, 1 duplicate frames"));
    sim.command("early-poll off");

    // Held, the port refuses an open that takes the plug-in's lock, and the busy
    // file names it; released, the open succeeds and the file is empty.
    auto lockable = [&link]() {
        int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        bool locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0) close(fd);
        return locked;
    };
    sim.command("hold 0");
    ASSERT_TRUE(sim.logs("held " + sim.device));
    EXPECT_FALSE(lockable());
    EXPECT_EQ(fileText(busy), sim.device + "\n");
    sim.command("release");
    ASSERT_TRUE(sim.logs("released " + sim.device));
    EXPECT_TRUE(lockable());
    EXPECT_EQ(fileText(busy), "");
    // A timed hold ends by itself.
    sim.command("hold 4");
    ASSERT_TRUE(sim.logs("held " + sim.device + " (for 4000 ms)"));
    EXPECT_FALSE(lockable());
    EXPECT_TRUE(sim.logs("released " + sim.device + " (time up)", 30000));
    EXPECT_TRUE(lockable());
    EXPECT_EQ(fileText(busy), "");
    // Locked elsewhere first, it takes the lock when the other lets go.
    int other = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    sim.command("hold 0");
    EXPECT_TRUE(sim.logs("hold: the port is open elsewhere"));
    EXPECT_EQ(fileText(busy), sim.device + "\n");
    close(other);
    EXPECT_TRUE(sim.logs("locked now"));
    EXPECT_FALSE(lockable());

    // Unplugged, the hold ends, the terminal hangs up and the link goes; plugged
    // in again, a new terminal at the link polls for what was queued meanwhile.
    sim.command("unplug 0");
    EXPECT_TRUE(sim.logs("released " + sim.device + " (unplugged)"));
    EXPECT_TRUE(sim.logs("unplugged " + sim.device));
    EXPECT_TRUE(hungUp(t));
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    EXPECT_EQ(fileText(busy), "");
    sim.command("report A1 A-ON");
    // The old terminal stays open, as in a plug-in that has not noticed yet.
    std::unique_ptr<Terminal> unplugged = std::move(sim.line);
    // Back at plug, then at the end of a timed unplug.
    for (const auto& [how, frame] :
         {std::pair<std::string, Bytes>{"plug", {0x04, 0x66}}, {"unplug 0.2", {0x06, 0x62}}}) {
        sim.command(how);
        std::string device = sim.process.waitFor("device /dev/", kStartMs);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0) << how;
        EXPECT_EQ(device, std::string("device ") + target);
        sim.line = std::make_unique<Terminal>(link);
        ASSERT_TRUE(sim.ready());
        if (how == "plug") {
            EXPECT_EQ(sim.term().read(1), Bytes{0x5A});
            sim.term().send({0xC3});
            EXPECT_EQ(sim.term().read(4), (Bytes{0x03, 0x02, 0x66, 0x62}));
        }
        sim.term().transact(frame);
    }
    sim.process.write("plug\n");

    sim.command("hangup");
    EXPECT_TRUE(hungUp(sim.term()));
    sim.process.write("garbage 01\n");
    sim.process.write("quit\n");
    EXPECT_EQ(sim.process.wait(kStartMs), 0);
    std::string errors = sim.process.errorText();
    EXPECT_NE(errors.find("plug: the device is plugged in already"), std::string::npos) << errors;
    EXPECT_NE(errors.find("the line is closed"), std::string::npos) << errors;
    unlink(busy.c_str());
}

TEST(Cm11aSim, CommandLine) {
    {
        ChildProcess help({kSim, "--help"});
        std::string text;
        for (std::string line; help.readLine(line, kStartMs);)
            text += line + "\n";
        EXPECT_EQ(help.wait(kStartMs), 0);
        for (const char* word : {"--link",
                                 "--control",
                                 "--json",
                                 "--poll-interval",
                                 "--poll-limit",
                                 "--clock-timeout",
                                 "--frame-timeout",
                                 "--exit-on-eof",
                                 "--help",
                                 "report",
                                 "clock",
                                 "bad-checksum",
                                 "silent",
                                 "garbage",
                                 "hangup",
                                 "unplug",
                                 "plug",
                                 "hold",
                                 "release",
                                 "early-poll",
                                 "status-answer",
                                 "quit"})
            EXPECT_NE(text.find(word), std::string::npos) << word;
    }
    for (auto args : {std::vector<std::string>{kSim, "--bogus"},
                      std::vector<std::string>{kSim, "--poll-interval", "soon"},
                      std::vector<std::string>{kSim, "--link"},
                      std::vector<std::string>{kSim, "--firmware", "16"},
                      std::vector<std::string>{kSim, "--house", "Q"},
                      std::vector<std::string>{kSim, "--house", "AB"}}) {
        ChildProcess bad(args);
        EXPECT_EQ(bad.wait(kStartMs), 2) << args[1];
        std::string error = bad.errorText();
        EXPECT_EQ(error.rfind("cm11a-sim: ", 0), 0u) << error;
        EXPECT_NE(error.find(args[1]), std::string::npos) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    }

    // --link, a control FIFO and JSON lines; SIGTERM ends it and removes both.
    std::string dir = testing::TempDir() + "cm11a-sim-" + std::to_string(getpid());
    std::string link = dir + ".link", fifo = dir + ".ctl";
    unlink(link.c_str());
    unlink(fifo.c_str());
    {
        ChildProcess sim({kSim, "--link", link, "--control", fifo, "--json"});
        std::string first;
        ASSERT_TRUE(sim.readLine(first, kStartMs));
        EXPECT_EQ(first.rfind("{\"ms\":", 0), 0u) << first;
        EXPECT_NE(first.find("\"event\":\"device\""), std::string::npos) << first;
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_NE(first.find(std::string("\"path\":\"") + target + "\""), std::string::npos);

        Terminal t(link);
        ASSERT_TRUE(t.isOpen());
        int control = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(control, 0);
        std::string command = "garbage 77\n";
        EXPECT_EQ(::write(control, command.data(), command.size()),
                  static_cast<ssize_t>(command.size()));
        close(control);
        EXPECT_EQ(t.read(1), Bytes{0x77});
        std::string line = sim.waitFor("\"event\":\"tx\"");
        EXPECT_NE(line.find("\"bytes\":\"77\""), std::string::npos) << line;

        kill(sim.pid(), SIGTERM);
        EXPECT_EQ(sim.wait(kStartMs), 0);
        struct stat st {};
        EXPECT_NE(lstat(link.c_str(), &st), 0);
        EXPECT_NE(lstat(fifo.c_str(), &st), 0);
    }

    // End of standard input ends it with --exit-on-eof; unknown commands are
    // reported on standard error and change nothing.
    Sim sim;
    ASSERT_TRUE(sim.ready());
    sim.process.write("frobnicate\nreport Q1 Q-ON\n");
    sim.process.closeInput();
    EXPECT_EQ(sim.process.wait(kStartMs), 0);
    std::string error = sim.process.errorText();
    EXPECT_NE(error.find("unknown command 'frobnicate'"), std::string::npos) << error;
    EXPECT_NE(error.find("'Q1'"), std::string::npos) << error;
}

} // namespace
