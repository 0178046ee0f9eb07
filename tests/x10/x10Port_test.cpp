// vX10Port against a scripted controller on a pseudo-terminal: the bytes of
// every command, the frame handshake and its retries, polls and clock requests
// inside a frame and on their own.
#include "platform/host.h"
#include "platform/posix/testing.h"
#include "x10/x10TestSupport.h"

using namespace x10test;

namespace {

const Bytes kA1Address{0x04, 0x66};
const Bytes kAOn{0x06, 0x62};
const Bytes kAck{0x00};

// The modules whose address checksum with header 0x04 would read as a poll
// (G1), a clock request (D5, D3) or a macro report (G9).
bool takesAlternateHeader(uint8_t code) {
    return code == 0x56 || code == 0xA1 || code == 0xA2 || code == 0x57;
}

// Error reports (1,304) of a foreign device on the port.
int foreignReports = 0;
void countForeignReports(EntryMessage* m) {
    if (m->category == 1 && m->operation == 304 && int32_t(m->a[0]) == vX10Port::kForeignCode)
        ++foreignReports;
}

// A GPS receiver's text: no byte of it is a request of the controller.
const std::string kNmea = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

} // namespace

TEST_F(X10Fixture, EveryCommandSendsItsFramesByteForByte) {
    // On the controller's line: 4800 baud, 8N1.
    EXPECT_EQ(port.settings().BaudRate, 4800u);
    EXPECT_EQ(port.settings().ByteSize, 8);
    EXPECT_EQ(port.settings().Parity, 0);
    EXPECT_EQ(port.settings().StopBits, 0);

    Bytes expected;
    int accepted = 0;
    for (int house = 0; house < 16; ++house) {
        for (int unit = 0; unit < 16; ++unit) {
            uint8_t code = houseCodes[house] | unitCodes[unit];
            for (uint8_t function : {kX10FunctionOn, kX10FunctionOff}) {
                accepted += port.sendCommand(function, 0, code);
                uint8_t header = takesAlternateHeader(code) ? 0x0C : 0x04;
                Bytes command{
                    header, code, 0x00, 0x06, static_cast<uint8_t>((code & 0xF0) | function), 0x00};
                expected.insert(expected.end(), command.begin(), command.end());
            }
        }
    }
    EXPECT_EQ(accepted, 512);
    EXPECT_EQ(device.received(), expected);
    EXPECT_TRUE(events.fired.empty());
}

TEST_F(X10Fixture, FrameHandshake) {
    // Power On A1, the documented exchange.
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({kA1Address, kAck, kAOn, kAck}));

    // Power Off M13: both code nibbles are zero.
    device.clear();
    EXPECT_EQ(port.sendCommand(kX10FunctionOff, 0, 0x00), 1);
    EXPECT_EQ(device.received(), (Bytes{0x04, 0x00, 0x00, 0x06, 0x03, 0x00}));

    // Power Off P16.
    device.clear();
    EXPECT_EQ(port.sendCommand(kX10FunctionOff, 0, 0xCC), 1);
    EXPECT_EQ(device.received(), (Bytes{0x04, 0xCC, 0x00, 0x06, 0xC3, 0x00}));

    // A controller that sends no ready byte has still taken the frame.
    device.clear();
    device.replyToNextAcks({{}, {}});
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({kA1Address, kAck, kAOn, kAck}));

    // Any other byte after the acknowledgement fails the frame at once: no retry,
    // and no function frame after a failed address frame.
    device.clear();
    device.replyToNextAcks({{0x12}});
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 0);
    EXPECT_EQ(device.received(), concat({kA1Address, kAck}));

    // A wrong checksum sends the whole frame again.
    device.clear();
    device.replyToNextFrames({{0x6B}, {0x6B}});
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({kA1Address, kA1Address, kA1Address, kAck, kAOn, kAck}));

    // Dims go into the function header.
    device.clear();
    EXPECT_EQ(port.sendFunction(kX10FunctionOn, 2, 0x60), 1);
    EXPECT_EQ(device.received(), (Bytes{0x16, 0x62, 0x00}));

    // The remapped address frames are accepted with their own checksums.
    for (uint8_t code : {0x56, 0xA1, 0xA2}) {
        device.clear();
        EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, code), 1) << int(code);
        Bytes sent = device.received();
        ASSERT_EQ(sent.size(), 6u);
        EXPECT_EQ(sent[0], 0x0C);
        EXPECT_EQ(sent[1], code);
        EXPECT_EQ(port.polls, 0);
    }
    EXPECT_TRUE(device.clockFrames().empty());
}

TEST_F(X10Fixture, AfterACommandTheHostsThreadIsFreeAndAPollIsStillAnswered) {
    // The checksum and ready bytes a command read also woke the watcher; they
    // are no new input, so the timer ticks that follow must not wait out a
    // 500 ms read on the silent line.
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    const int calls = port.dataCalls;
    for (int tick = 0; tick < 20; ++tick)
        plat::pumpMessages(10);
    EXPECT_EQ(port.dataCalls, calls);

    // A poll right after a command is answered as usual.
    device.setUpload({0x03, 0x02, 0x66, 0x62});
    device.send({kX10Poll});
    ASSERT_TRUE(waitUntil([&] { return port.polls == 1; }, 5000, true));
    EXPECT_EQ(events.fired, (std::vector<FakeEventSource::Key>{{0x66, kX10EventOn}}));
}

TEST_F(X10Fixture, PollOrClockRequestDuringAFrameIsServedAndCountsAsAnAttempt) {
    // A poll instead of the checksum: answered, its upload decoded, the frame sent again.
    device.setUpload({0x03, 0x02, 0x66, 0x62});
    device.replyToNextFrames({{kX10Poll}});
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({kA1Address, {0xC3}, kA1Address, kAck, kAOn, kAck}));
    EXPECT_EQ(events.fired, (std::vector<FakeEventSource::Key>{{0x66, kX10EventOn}}));

    // A clock request instead of the checksum: the clock frame, then the frame again.
    device.clear();
    device.replyToNextFrames({{kX10ClockRequestAlt}});
    auto start = Clock::now();
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_GE(msSince(start), 1000) << "the controller gets a second for its checksum";
    EXPECT_EQ(device.received(),
              concat({kA1Address, kFixedClockFrame, kA1Address, kAck, kAOn, kAck}));
    EXPECT_EQ(device.clockFrames(), std::vector<Bytes>{kFixedClockFrame});

    // Ten polls use up the ten attempts: the frame is given up.
    device.clear();
    device.setUpload({0x01, 0x00});
    device.replyToNextFrames(std::vector<Bytes>(10, Bytes{kX10Poll}));
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 0);
    EXPECT_EQ(device.received(), repeat(concat({kA1Address, {0xC3}}), 10));

    // A poll or a clock request where the ready byte would be: the controller
    // is done with the frame, so it counts as taken, the request is served,
    // and the function frame follows.
    for (uint8_t request : {kX10Poll, kX10ClockRequest}) {
        device.clear();
        events.fired.clear();
        device.setUpload({0x03, 0x02, 0x6E, 0x63});
        device.replyToNextAcks({{request}});
        EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1) << int(request);
        Bytes served = request == kX10Poll ? Bytes{0xC3} : kFixedClockFrame;
        EXPECT_EQ(device.received(), concat({kA1Address, kAck, served, kAOn, kAck}));
        if (request == kX10Poll) {
            EXPECT_EQ(events.fired, (std::vector<FakeEventSource::Key>{{0x6E, kX10EventOff}}));
        }
    }
}

TEST_F(X10Fixture, SilentControllerIsGivenUpAfterTenAttemptsThenOneUntilItIsHeardAgain) {
    device.setSilent(true);
    auto start = Clock::now();
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 0);
    long long took = msSince(start);
    EXPECT_GE(took, 10 * 450);
    EXPECT_LT(took, 10 * 2000);
    EXPECT_EQ(device.received(), repeat(kA1Address, 10));
    EXPECT_TRUE(port.inOutage());

    // While it stays silent, a command makes one attempt. J16's address sums
    // to 0x00: silence is still no checksum, and no function frame follows.
    device.clear();
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 0);
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0xFC), 0);
    EXPECT_EQ(device.received(), concat({kA1Address, {0x04, 0xFC}}));

    // Heard again (here a wrong checksum, power-line noise): the ten attempts are back.
    device.clear();
    device.setSilent(false);
    device.replyToNextFrames({{0x6B}, {0x6B}});
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({kA1Address, kA1Address, kA1Address, kAck, kAOn, kAck}));
    EXPECT_FALSE(port.inOutage());
}

TEST_F(X10Fixture, ACommandFindsTheControllerBackWhenItsAbsenceWentUnnoticed) {
    // Pulled out and plugged back (at the same name) while the port saw nothing:
    // the command's first write fails, and the port opens the device again for it.
    // The watcher's wait is stubborn from its start (a switch is read as a wait
    // begins), and the device goes once it is watched: one that failed its very
    // first wait would be one that fails as soon as it opens, which waits a
    // period before its next open.
    plat::testing::stubbornEventWaits(true);
    port.close();
    ASSERT_EQ(port.open("com1"), 1);
    ASSERT_TRUE(waitUntil([] { return plat::testing::pendingEventWaits() == 1; }, 3000));
    device.hangUp();
    ScriptedController back;
    ASSERT_TRUE(back.ready());
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(back.received(), concat({kA1Address, kAck, kAOn, kAck}));
    EXPECT_FALSE(port.inOutage()) << "its failure began an outage, the exchange ended it";
    plat::testing::stubbornEventWaits(false);
}

TEST_F(X10Fixture, ClosedPortSendsNothing) {
    port.close();
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 0);
    port.onData();
    port.sendClock();
    EXPECT_TRUE(device.received().empty());
}

TEST_F(X10Fixture, PollsAndClockRequestsOnTheirOwn) {
    // A poll: answered with 0xC3, the upload (A1 A2 A-On) fires A2 and then A1;
    // the clock request right after it is served.
    device.setUpload({0x04, 0x04, 0x66, 0x6E, 0x62, kX10ClockRequest});
    device.send({kX10Poll});
    ASSERT_TRUE(waitUntil([&] { return port.polls == 1; }, 5000, true));
    EXPECT_EQ(device.received(), concat({{0xC3}, kFixedClockFrame}));
    EXPECT_EQ(events.fired,
              (std::vector<FakeEventSource::Key>{{0x6E, kX10EventOn}, {0x66, kX10EventOn}}));

    // A clock request: the frame for the local time.
    device.clear();
    device.send({kX10ClockRequest});
    ASSERT_TRUE(waitUntil([&] { return device.clockFrames().size() == 1; }, 5000, true));
    EXPECT_EQ(device.clockFrames()[0], kFixedClockFrame);

    // The largest upload: size 9, mask and 8 data bytes (A1 A-On, then addresses).
    device.clear();
    events.fired.clear();
    Bytes big{0x09, 0x02, 0x66, 0x62};
    big.resize(10, 0x6E);
    device.setUpload(big);
    device.send({kX10Poll});
    ASSERT_TRUE(waitUntil([&] { return port.polls == 2; }, 5000, true));
    ASSERT_EQ(port.decodes.size(), 2u);
    EXPECT_EQ(port.decodes[1], Bytes(big.begin() + 1, big.end()));
    EXPECT_EQ(events.fired, (std::vector<FakeEventSource::Key>{{0x66, kX10EventOn}}));

    // No controller uploads more, or nothing, or goes on talking after its
    // upload: a size above 9 or of 0, or a size of 3 with more bytes straight
    // after it, decodes nothing, and the rest of its burst (here A1 A-On
    // again, and a poll) is drained, not served.
    for (uint8_t size : {0x0A, 0xFF, 0x00, 0x03}) {
        events.fired.clear();
        device.clear();
        Bytes oversized{size, 0x02, 0x66, 0x62, 0x62, kX10Poll};
        oversized.resize(40, 0x62);
        device.setUpload(oversized);
        int polls = port.polls;
        device.send({kX10Poll});
        ASSERT_TRUE(waitUntil([&] { return port.polls == polls + 1; }, 5000, true));
        EXPECT_EQ(port.decodes.size(), 2u) << int(size);
        EXPECT_TRUE(events.fired.empty()) << int(size);
        EXPECT_EQ(port.queuedInput(), 0u);
        EXPECT_EQ(device.received(), Bytes{0xC3});
    }
    EXPECT_EQ(port.polls, 6);

    // A poll whose answer brings nothing is abandoned at the first silent read.
    device.setUpload({});
    device.send({kX10Poll});
    ASSERT_TRUE(waitUntil([&] { return port.polls == 7; }, 5000, true));
    EXPECT_LT(port.lastPollMs, 2500);
    EXPECT_EQ(port.decodes.size(), 2u);

    // Other bytes are no request: nothing is sent.
    device.clear();
    int calls = port.dataCalls;
    device.send({0x55});
    ASSERT_TRUE(waitUntil([&] { return port.dataCalls > calls; }, 5000, true));
    EXPECT_TRUE(device.received().empty());
}

TEST_F(X10Fixture, TenthReadAfterThePollAnswerIsTakenAsNoUpload) {
    // The poll that onData reads, nine more, then what would be a size byte and
    // an upload (A1 A-On): the tenth read is discarded and nothing is decoded.
    Bytes line = repeat({kX10Poll}, 10);
    line.insert(line.end(), {0x03, 0x02, 0x66, 0x62});
    device.send(line);
    ASSERT_TRUE(waitUntil([&] { return port.polls == 1; }, 5000, true));
    EXPECT_EQ(device.receivedAtLeast(1), Bytes{0xC3});
    EXPECT_TRUE(port.decodes.empty());
    EXPECT_TRUE(events.fired.empty());

    // With one poll fewer the size byte comes in the ninth read and the upload is taken.
    port.purge(); // what the first poll left unread
    device.clear();
    line = repeat({kX10Poll}, 9);
    line.insert(line.end(), {0x03, 0x02, 0x66, 0x62});
    device.send(line);
    ASSERT_TRUE(waitUntil([&] { return port.polls == 2; }, 5000, true));
    EXPECT_EQ(port.decodes, std::vector<Bytes>{Bytes({0x02, 0x66, 0x62})});
    EXPECT_EQ(events.fired, (std::vector<FakeEventSource::Key>{{0x66, kX10EventOn}}));
}

TEST_F(X10Fixture, StrayBytesAndMacroReportsAreNeverTakenForTheController) {
    EntryFunction* host = hostEntry;
    hostEntry = &countForeignReports;
    foreignReports = 0;

    // A macro report whose address bytes read as a poll and a clock request:
    // skipped, on its own and where a checksum or the ready byte is awaited.
    int calls = port.dataCalls;
    device.send({kX10MacroReport, kX10Poll, kX10ClockRequest});
    ASSERT_TRUE(waitUntil([&] { return port.dataCalls > calls; }, 5000, true));
    device.replyToNextFrames({{kX10MacroReport, kX10Poll, kX10ClockRequest, 0x6A}});
    device.replyToNextAcks({{kX10MacroReport, kX10ClockRequestAlt, kX10Poll, kX10Ready}});
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({kA1Address, kAck, kAOn, kAck}));

    // A backlog of stray bytes ending with a poll, left unread: the poll is
    // served first, and the command then goes out once.
    device.clear();
    device.setUpload({0x03, 0x02, 0x66, 0x62});
    Bytes backlog(kNmea.begin(), kNmea.end());
    backlog.push_back(kX10Poll);
    device.send(backlog);
    ASSERT_TRUE(waitUntil([&] { return port.queuedInput() == backlog.size(); }));
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({{0xC3}, kA1Address, kAck, kAOn, kAck}));
    EXPECT_EQ(events.fired, (std::vector<FakeEventSource::Key>{{0x66, kX10EventOn}}));

    // Another device talking for seconds: its bytes never pile up, the host is
    // told once, and the next command goes out once.
    device.clear();
    std::atomic<bool> talking{true};
    std::atomic<size_t> sent{0};
    std::thread gps([&] {
        for (size_t i = 0; talking; i = (i + 8) % kNmea.size()) {
            const size_t end = std::min(i + 8, kNmea.size());
            device.send(Bytes(kNmea.begin() + i, kNmea.begin() + end));
            sent += end - i;
            std::this_thread::sleep_for(std::chrono::milliseconds(16)); // 4800 baud
        }
    });
    auto start = Clock::now();
    waitUntil([] { return foreignReports > 0; }, 10000, true);
    const long long toldAfter = msSince(start);
    waitUntil([] { return false; }, 1500, true); // it goes on talking
    // Read a byte per timer tick, four fifths of the talk would be left queued;
    // drained, at most what came since the loop's last turn, however slow it is.
    EXPECT_LT(port.queuedInput(), sent.load() / 2);
    talking = false;
    gps.join();
    ASSERT_TRUE(waitUntil([&] { return port.queuedInput() == 0; }, 5000, true));
    EXPECT_EQ(foreignReports, 1);
    EXPECT_GE(toldAfter, 2500);
    EXPECT_TRUE(device.received().empty());
    EXPECT_EQ(port.sendCommand(kX10FunctionOn, 0, 0x66), 1);
    EXPECT_EQ(device.received(), concat({kA1Address, kAck, kAOn, kAck}));
    EXPECT_EQ(foreignReports, 1);
    hostEntry = host;
}
