// The CM11A side of the serial protocol, as a state machine fed with received
// bytes and clock ticks. It answers each two-byte frame with its checksum,
// sends the ready byte after the acknowledgement and then records what the
// frame put on the power line; it offers power-line traffic to the plug-in
// with repeated polls and an upload, asks for the time with a clock request
// and checks the answer, and injects faults (wrong checksums, silence,
// arbitrary bytes). It owns no descriptor: bytes go out through a writer.
#pragma once

#include "eventLog.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace cm11a {

struct Timing {
    int pollIntervalMs = 1000; // between two polls of one report
    int pollLimit = 0;         // polls before a report is dropped; 0: poll until answered
    int clockTimeoutMs = 3000; // for the whole 7-byte clock answer
    int frameTimeoutMs = 1000; // for the second byte of a frame and for its acknowledgement
};

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
    void sendGarbage(const std::vector<uint8_t>& bytes);
    // Drops every queued report and clock request, including one in progress.
    void cancelRequests();
    // Logs the state of every module switched so far.
    void reportStatus();
    // The line is gone: nothing is sent or queued any more.
    void hangUp();
    bool isHungUp() const { return hungUp_; }

private:
    enum class State { Idle, FrameStarted, AwaitingAck, Polling, AwaitingClock };

    struct Request {
        bool clock = false;
        std::vector<uint8_t> bytes; // the upload, or the clock request byte
    };

    struct House {
        std::vector<uint8_t> addressed; // address bytes in the order they came
        bool afterFunction = false;     // the next address starts a new list
    };

    void receiveByte(uint8_t byte, long long now);
    void completeFrame(uint8_t second, long long now);
    void acknowledge();
    void putOnPowerLine(uint8_t header, uint8_t data);
    void sendPoll(long long now);
    void finishClock();
    void startNextRequest(long long now);
    void finishRequest();
    void ignore(uint8_t byte, const char* why);
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

    std::deque<Request> requests_; // front: the one in progress, if any
    long long nextPoll_ = 0;
    int polls_ = 0;
    bool skipNext_ = false; // the next byte is the data byte of an ignored frame
    std::vector<uint8_t> clockAnswer_;

    House houses_[16];
    std::map<uint8_t, bool> modules_; // address byte -> on
};

} // namespace cm11a
