// The CM11A side of the serial protocol, as a state machine fed with received
// bytes and clock ticks. It answers each two-byte frame with its checksum,
// sends the ready byte after the acknowledgement and then records what the
// frame put on the power line; it offers power-line traffic to the plug-in
// with repeated polls and an upload, asks for the time with a clock request
// and checks the answer, and injects faults (wrong checksums, silence,
// arbitrary bytes, other bytes in place of the status answer). It owns no
// descriptor: bytes go out through a writer, and it is told when the device
// is unplugged and plugged in again.
#pragma once

#include "eventLog.h"
#include "lineNoise.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace cm11a {

struct Timing {
    int pollIntervalMs = 1000; // between two polls of one report
    int pollLimit = 0;         // polls before a report is dropped; 0: poll until answered
    int clockTimeoutMs = 3000; // for the whole 7-byte clock answer
    int frameTimeoutMs = 1000; // for the second byte of a frame and for its acknowledgement
    // The ready byte comes once the frame has been on the power line: sent twice
    // (11 mains cycles each) and followed by a 3-cycle gap, 25 cycles in all.
    // 0: at once, as an instant controller would.
    int mainsHz = 60;
};

constexpr int kFrameCycles = 25;

// Milliseconds from the computer's ack to the ready byte at this mains
// frequency (0: at once): the frame's 25 cycles on the power line, and the ack
// and the ready byte on the 4800-baud line (10 bits each), which a
// pseudo-terminal does not take time for.
inline int readyDelayMs(int mainsHz) {
    if (mainsHz <= 0) return 0;
    return static_cast<int>(kFrameCycles * 1000.0 / mainsHz + 2 * 10 * 1000.0 / 4800 + 0.5);
}

class Controller {
public:
    // Sends bytes to the plug-in; false when they could not be sent.
    using Writer = std::function<bool(const std::vector<uint8_t>&)>;

    Controller(const Timing& timing, EventLog& log, Writer writer);

    // Bytes that arrived from the plug-in, at monotonic time now (ms).
    void receive(const uint8_t* data, size_t count, long long now);
    // Runs what is due at time now: timeouts, polls, the next queued request.
    void tick(long long now);
    // The next time tick has work, or -1 when it has none.
    long long nextDeadline() const;

    // Power-line traffic for the plug-in: size byte, mask, data bytes.
    void queueUpload(std::vector<uint8_t> upload);
    // A clock request (0xA5 or 0xA6).
    void queueClockRequest(uint8_t request);
    // The next count frames get a wrong checksum.
    void failNextChecksums(int count);
    // While silent nothing is sent, received bytes are dropped and a running
    // exchange is abandoned; a poll or clock request in progress starts again
    // when the line speaks again.
    void setSilent(bool silent);
    // While on, a report or clock request queued when the ready byte is due
    // goes out in its place: its first poll (or the request byte) instead of
    // 0x55, at the same moment; the frame still goes on the power line. A
    // frame from the computer in answer is a protocol error: it took the poll
    // for the ready byte. With `always`, a request queued while the controller
    // is idle waits for the next ready byte as well, instead of starting at once.
    void setEarlyPoll(bool on, bool always = false);
    void sendGarbage(const std::vector<uint8_t>& bytes);
    // A macro report: 0x5B and the two bytes of the macro's address, sent now;
    // the controller expects no answer.
    void sendMacroReport(uint8_t high, uint8_t low);
    // Another device on the line until the stream's time is up: its bytes go
    // out at the line's pace, and what the computer sends is dropped unanswered;
    // queued reports and clock requests wait for its end.
    void startStream(const LineStream& stream);
    // Drops every queued report and clock request, including one in progress.
    void cancelRequests();
    // Logs the state of every module switched so far.
    void reportStatus();
    // What the status answer gives: the firmware revision (0 to 15) and the
    // monitored house (its code nibble, 0x6 for A).
    void setFirmwareRevision(int revision) { firmware_ = static_cast<uint8_t>(revision & 0x0F); }
    void setMonitoredHouse(uint8_t codeNibble) { monitoredHouse_ = codeNibble & 0x0F; }
    // The 14-byte answer to a status request (0x8B), from the controller's own
    // clock and state at monotonic time now (ms).
    std::vector<uint8_t> statusAnswer(long long now) const;
    // Bytes sent in answer to a status request in place of the status (an
    // unknown answer, a status out of range); empty: the status again.
    void setStatusAnswer(std::vector<uint8_t> bytes) { givenStatusAnswer_ = std::move(bytes); }
    // The line is gone: nothing is sent or queued any more.
    void hangUp();
    bool isHungUp() const { return hungUp_; }
    // The cable is pulled (false) or back (true). Meanwhile nothing arrives or
    // goes out and an exchange in progress is abandoned; the controller keeps
    // its power, so queued reports and clock requests wait and are offered
    // again once it is back.
    void setPlugged(bool plugged);

private:
    enum class State { Idle, FrameStarted, AwaitingAck, OnPowerLine, Polling, AwaitingClock };

    struct Request {
        bool clock = false;
        std::vector<uint8_t> bytes; // the upload, or the clock request byte
    };

    struct House {
        std::vector<uint8_t> addressed; // address bytes in the order they came
        bool afterFunction = false;     // the next address starts a new list
    };

    void reportModules();
    void receiveByte(uint8_t byte, long long now);
    void completeFrame(uint8_t second, long long now);
    void acknowledge(long long now);
    void sendReady(long long now);
    void protocolError(const std::vector<uint8_t>& bytes, const std::string& why);
    void putOnPowerLine(uint8_t header, uint8_t data);
    void sendPoll(long long now, const char* note = "poll");
    void finishClock();
    void startNextRequest(long long now, bool inPlaceOfReady = false);
    void finishRequest();
    void ignore(uint8_t byte, const char* why);
    void abandonExchange(const char* why);
    void takenForReady(uint8_t header, const char* request);
    bool receiveStatusRequest(long long now);
    void answerStatus(long long now, const char* when);
    void setClock(long secondsOfYear, int weekday, long long now);
    struct ClockReading {
        int yday, hour, minute, second, weekday;
    };
    ClockReading clockAt(long long now) const;
    bool send(const std::vector<uint8_t>& bytes);

    Timing timing_;
    EventLog& log_;
    Writer writer_;

    State state_ = State::Idle;
    long long deadline_ = 0;
    uint8_t frame_[2] = {0, 0};
    bool frameValid_ = false; // its checksum was sent correctly
    int wrongChecksums_ = 0;  // frames still to get a wrong checksum
    bool silent_ = false;
    bool hungUp_ = false;
    bool unplugged_ = false;
    bool earlyPoll_ = false;
    bool earlyPollAlways_ = false; // requests wait for a ready byte even when idle
    bool standIn_ = false;         // the last byte sent was a poll or request in place of ready

    std::optional<LineStream> stream_;
    long long streamTick_ = 0; // when the stream's next bytes go out

    std::deque<Request> requests_; // front: the one in progress, if any
    long long nextPoll_ = 0;
    int polls_ = 0;
    bool skipNext_ = false; // the next byte is the data byte of an ignored frame
    std::vector<uint8_t> clockAnswer_;

    int protocolErrors_ = 0;
    int duplicateFrames_ = 0;        // a frame put on the power line twice in a row
    std::vector<uint8_t> lastFrame_; // the last frame put on the power line

    // The controller's clock: seconds since the start of the year and the
    // weekday as they were at monotonic time clockSetMs_, running on from there.
    long clockSeconds_ = 0;
    int clockWeekday_ = 0;
    long long clockSetMs_ = 0;
    uint16_t batteryTimer_ = 0xFFFF; // as after a reset: never on batteries since
    uint8_t monitoredHouse_ = 0x6;   // house code nibble: A
    uint8_t firmware_ = 1;
    std::vector<uint8_t> givenStatusAnswer_; // sent in place of the status when not empty

    House houses_[16];
    std::map<uint8_t, bool> modules_; // address byte -> on
};

} // namespace cm11a
