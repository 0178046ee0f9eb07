// Test doubles for the X10 port: a scripted controller on a pseudo-terminal
// (the hardware), an event source standing in for the plug-in's event tree,
// and a port that counts its protocol steps.
#pragma once

#include "descriptors/vButtonNode.h"
#include "entry/library.h"
#include "fixtures/waitUntil.h"
#include "platform/host.h"
#include "protocol/vX10Port.h"
#include "protocol/x10Codes.h"
#include "protocol/x10Events.h"
#include "x10/fakeEventSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace x10test {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

inline Bytes repeat(const Bytes& part, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A controller played by a thread on the master side of a pseudo-terminal that
// COM1 names. By default it behaves like a sound controller: every two-byte
// frame gets its checksum, every acknowledgement the ready byte, a poll answer
// the configured upload, a clock frame its checksum. Scripted replies replace
// the checksum of the next frames or the ready byte of the next acks.
class ScriptedController {
public:
    ScriptedController() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        path_ = ptsname(master_);
        setenv("KVQ_PORT_COM1", path_.c_str(), 1);
        worker_ = std::thread([this] { loop(); });
    }
    ~ScriptedController() {
        hangUp();
        unsetenv("KVQ_PORT_COM1");
    }
    bool ready() const { return !path_.empty(); }
    // The controller goes away: whoever holds the other end sees a hang-up.
    void hangUp() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // Each of the next frames gets these bytes instead of its checksum; an empty
    // entry means no answer at all.
    void replyToNextFrames(std::vector<Bytes> replies) {
        std::lock_guard<std::mutex> g(lock_);
        frameReplies_.assign(replies.begin(), replies.end());
    }
    // Each of the next acknowledgements gets these bytes instead of 0x55.
    void replyToNextAcks(std::vector<Bytes> replies) {
        std::lock_guard<std::mutex> g(lock_);
        ackReplies_.assign(replies.begin(), replies.end());
    }
    // Sent after every poll answer (0xC3); empty: nothing is sent.
    void setUpload(Bytes upload) {
        std::lock_guard<std::mutex> g(lock_);
        upload_ = std::move(upload);
    }
    void setSilent(bool silent) { silent_ = silent; }

    void send(const Bytes& bytes) {
        std::lock_guard<std::mutex> g(lock_);
        out(bytes);
    }

    Bytes received() {
        std::lock_guard<std::mutex> g(lock_);
        return received_;
    }
    // What the port sent, once at least `count` bytes came or the limit passed.
    Bytes receivedAtLeast(size_t count, int limitMs = 3000) {
        auto start = Clock::now();
        for (;;) {
            Bytes got = received();
            if (got.size() >= count || msSince(start) > limitMs) return got;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    std::vector<Bytes> clockFrames() {
        std::lock_guard<std::mutex> g(lock_);
        return clockFrames_;
    }
    void clear() {
        std::lock_guard<std::mutex> g(lock_);
        received_.clear();
        clockFrames_.clear();
    }

private:
    enum class State { Idle, FrameStarted, AwaitingAck, Clock };

    void out(const Bytes& bytes) {
        if (!bytes.empty()) {
            ssize_t n = ::write(master_, bytes.data(), bytes.size());
            (void)n;
        }
    }

    void loop() {
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            uint8_t buf[512];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) continue;
            std::lock_guard<std::mutex> g(lock_);
            for (ssize_t i = 0; i < n; ++i)
                take(buf[i]);
        }
    }

    void take(uint8_t byte) {
        received_.push_back(byte);
        if (silent_) return;
        switch (state_) {
        case State::Clock:
            clock_.push_back(byte);
            if (clock_.size() == 7) {
                clockFrames_.push_back(clock_);
                uint8_t sum = 0;
                for (uint8_t b : clock_)
                    sum = static_cast<uint8_t>(sum + b);
                out({sum});
                state_ = State::Idle;
            }
            return;
        case State::FrameStarted: {
            frame_[1] = byte;
            Bytes reply{static_cast<uint8_t>(frame_[0] + frame_[1])};
            if (!frameReplies_.empty()) {
                reply = frameReplies_.front();
                frameReplies_.pop_front();
            }
            out(reply);
            state_ = State::AwaitingAck;
            return;
        }
        case State::AwaitingAck:
            if (byte == kX10Ack) {
                Bytes reply{kX10Ready};
                if (!ackReplies_.empty()) {
                    reply = ackReplies_.front();
                    ackReplies_.pop_front();
                }
                out(reply);
                state_ = State::Idle;
                return;
            }
            break;
        case State::Idle:
            break;
        }
        if (byte == kX10PollAnswer) {
            out(upload_);
            state_ = State::Idle;
        } else if (byte == kX10ClockFirst) {
            clock_ = {byte};
            state_ = State::Clock;
        } else if (byte & 0x04) {
            frame_[0] = byte;
            state_ = State::FrameStarted;
        }
    }

    int master_ = -1;
    std::string path_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};

    std::mutex lock_; // guards everything below
    State state_ = State::Idle;
    uint8_t frame_[2] = {0, 0};
    Bytes clock_;
    std::deque<Bytes> frameReplies_;
    std::deque<Bytes> ackReplies_;
    Bytes upload_;
    Bytes received_;
    std::vector<Bytes> clockFrames_;
};

// A port that counts what its protocol did.
struct CountingX10Port : vX10Port {
    using vX10Port::vX10Port;
    void onData() override {
        vX10Port::onData();
        ++dataCalls;
    }
    void answerPoll() override {
        auto start = Clock::now();
        vX10Port::answerPoll();
        lastPollMs = msSince(start);
        ++polls;
    }
    void decodeBuffer(const uint8_t* data, uint32_t count) override {
        decodes.emplace_back(data, data + count);
        vX10Port::decodeBuffer(data, count);
    }
    int dataCalls = 0;
    int polls = 0;
    long long lastPollMs = 0;
    std::vector<Bytes> decodes;
};

// 13:45:30 on a Tuesday, the 41st day of the year (day of the year 40).
inline std::tm fixedLocalTime() {
    std::tm t{};
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 30;
    t.tm_wday = 2;
    t.tm_yday = 40;
    t.tm_mday = 10;
    t.tm_mon = 1;
    t.tm_year = 126;
    return t;
}

inline const Bytes kFixedClockFrame{0x9B, 0x1E, 0x69, 0x06, 0x28, 0x04, 0x61};

class X10Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        moduleInstance = reinterpret_cast<void*>(0x1000);
        ASSERT_TRUE(device.ready());
        ASSERT_EQ(port.open("com1"), 1);
        port.setLocalTimeSource(&fixedLocalTime);
    }
    void TearDown() override {
        port.close();
        moduleInstance = nullptr;
    }

    ScriptedController device;
    FakeEventSource events;
    CountingX10Port port{events};
};

} // namespace x10test
