#include "controller.h"

#include "x10Codes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace cm11a {

namespace {

constexpr long kSecondsPerDay = 86400;
constexpr long long kStreamTickMs = 20; // another device's bytes go out in bursts this far apart
constexpr uint8_t kMacroReport = 0x5B;  // then the two bytes of the macro's address
constexpr long kDaysInClock = 366;      // the day of the year runs 0..365 and starts again

// Any header with bit 2 set starts a two-byte frame; bit 1 tells a function
// frame from an address frame.
bool isHeader(uint8_t byte) {
    return (byte & kX10HeaderFrameBit) != 0;
}
bool isFunctionHeader(uint8_t header) {
    return (header & kX10HeaderFunctionBit) != 0;
}

std::string hex2(uint8_t byte) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02x", byte);
    return buf;
}

std::string describeFrame(uint8_t header, uint8_t data) {
    int dims = header >> 3;
    std::string text;
    if (!isFunctionHeader(header)) {
        text = "address " + addressName(data);
        if (dims) text += " (dim field " + std::to_string(dims) + " ignored)";
    } else {
        text = "function " + std::string(1, houseLetter(data)) + " " + functionName(data & 0x0F);
        if (dims) text += " dims " + std::to_string(dims);
    }
    if (header & kX10HeaderExtendedBit) text += " (extended bit set)";
    return text;
}

// A byte that differs from the checksum and that the plug-in cannot take for
// a poll, a clock request or the ready byte.
uint8_t wrongChecksum(uint8_t sum) {
    uint8_t wrong = static_cast<uint8_t>(sum + 1);
    while (wrong == sum || wrong == kX10Poll || wrong == kX10ClockRequest ||
           wrong == kX10ClockRequestAlt || wrong == kX10Ready)
        wrong = static_cast<uint8_t>(wrong + 1);
    return wrong;
}

const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string clockText(int hour, int minute, int second) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
    return buf;
}

} // namespace

// The clock starts at the computer's local time, as if it had been set just
// before; every valid clock answer sets it again.
Controller::Controller(const Timing& timing, EventLog& log, Writer writer)
    : timing_(timing), log_(log), writer_(std::move(writer)) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    setClock(((local.tm_yday * 24L + local.tm_hour) * 60 + local.tm_min) * 60 + local.tm_sec,
             local.tm_wday, monotonicMs());
}

void Controller::setClock(long secondsOfYear, int weekday, long long now) {
    clockSeconds_ = secondsOfYear;
    clockWeekday_ = weekday;
    clockSetMs_ = now;
}

Controller::ClockReading Controller::clockAt(long long now) const {
    long elapsed = static_cast<long>((now - clockSetMs_) / 1000);
    long seconds = clockSeconds_ + (elapsed > 0 ? elapsed : 0);
    long days = seconds / kSecondsPerDay;
    long inDay = seconds % kSecondsPerDay;
    ClockReading r;
    r.yday = static_cast<int>(days % kDaysInClock);
    r.hour = static_cast<int>(inDay / 3600);
    r.minute = static_cast<int>(inDay / 60 % 60);
    r.second = static_cast<int>(inDay % 60);
    r.weekday = static_cast<int>((clockWeekday_ + days - clockSeconds_ / kSecondsPerDay) % 7);
    return r;
}

// The layout is the shared one (x10EncodeStatus); nothing is ever dimmed here.
std::vector<uint8_t> Controller::statusAnswer(long long now) const {
    ClockReading c = clockAt(now);
    X10Status s;
    s.batteryTimer = batteryTimer_;
    s.clock.second = c.second;
    s.clock.minute = c.minute;
    s.clock.hour = c.hour;
    s.clock.yday = c.yday;
    s.clock.weekday = c.weekday;
    s.house = monitoredHouse_;
    s.firmware = firmware_;
    const House& h = houses_[x10HouseIndex(static_cast<uint8_t>(monitoredHouse_ << 4))];
    for (uint8_t address : h.addressed)
        s.addressed |= static_cast<uint16_t>(1u << x10UnitIndex(address));
    for (const auto& [address, isOn] : modules_)
        if ((address >> 4) == monitoredHouse_ && isOn)
            s.on |= static_cast<uint16_t>(1u << x10UnitIndex(address));
    std::vector<uint8_t> answer(kX10StatusSize);
    x10EncodeStatus(s, answer.data());
    return answer;
}

void Controller::answerStatus(long long now, const char* when) {
    log_.bytes("rx", {kX10StatusRequest}, std::string("status request") + when);
    if (!givenStatusAnswer_.empty()) {
        if (send(givenStatusAnswer_))
            log_.bytes("tx", givenStatusAnswer_, "status answer given by status-answer");
        return;
    }
    std::vector<uint8_t> answer = statusAnswer(now);
    ClockReading c = clockAt(now);
    char battery[8];
    std::snprintf(battery, sizeof battery, "%04x", batteryTimer_);
    const std::string house(1, houseLetter(static_cast<uint8_t>(monitoredHouse_ << 4)));
    const std::string time = clockText(c.hour, c.minute, c.second);
    if (send(answer))
        log_.bytes("tx", answer,
                   "status: battery timer " + std::string(battery) + ", clock " + time + " " +
                       kWeekdays[c.weekday] + " day " + std::to_string(c.yday) + ", house " +
                       house + ", firmware " + std::to_string(firmware_),
                   {{"time", time},
                    {"weekday", kWeekdays[c.weekday]},
                    {"yday", std::to_string(c.yday), true},
                    {"house", house},
                    {"firmware", std::to_string(firmware_), true}});
}

bool Controller::send(const std::vector<uint8_t>& bytes) {
    if (hungUp_ || unplugged_) return false;
    if (writer_(bytes)) return true;
    log_.note("error", "could not send " + hexBytes(bytes));
    return false;
}

void Controller::receive(const uint8_t* data, size_t count, long long now) {
    if (silent_ || stream_) {
        log_.bytes("rx", std::vector<uint8_t>(data, data + count),
                   silent_ ? "ignored (silent)" : "ignored (another device talks)");
        return;
    }
    for (size_t i = 0; i < count; ++i)
        receiveByte(data[i], now);
}

void Controller::ignore(uint8_t byte, const char* why) {
    log_.bytes("rx", {byte}, why);
}

void Controller::receiveByte(uint8_t byte, long long now) {
    if (byte == kX10StatusRequest && receiveStatusRequest(now)) return;
    switch (state_) {
    case State::Idle:
        if (isHeader(byte)) {
            frame_[0] = byte;
            state_ = State::FrameStarted;
            deadline_ = now + timing_.frameTimeoutMs;
        } else if (byte == kX10Ack) {
            ignore(byte, "unexpected ack");
        } else if (byte == kX10PollAnswer) {
            ignore(byte, "poll answer without a poll");
        } else {
            ignore(byte, "unexpected");
        }
        break;
    case State::FrameStarted:
        completeFrame(byte, now);
        break;
    case State::AwaitingAck:
        if (byte == kX10Ack) {
            acknowledge(now);
        } else if (frameValid_) {
            // The checksum was right: only the acknowledgement may come now.
            protocolError({byte}, "instead of the ack after a correct checksum");
            if (isHeader(byte)) {
                frame_[0] = byte;
                state_ = State::FrameStarted;
                deadline_ = now + timing_.frameTimeoutMs;
            } else {
                state_ = State::Idle;
            }
        } else if (isHeader(byte)) {
            // The plug-in sends the whole frame again after a wrong checksum.
            frame_[0] = byte;
            state_ = State::FrameStarted;
            deadline_ = now + timing_.frameTimeoutMs;
        } else {
            ignore(byte, "unexpected instead of the ack: frame dropped");
            state_ = State::Idle;
        }
        break;
    case State::OnPowerLine:
        protocolError({byte}, "while the frame is on the power line");
        break;
    case State::Polling: {
        bool standIn = standIn_;
        standIn_ = false;
        if (skipNext_) {
            skipNext_ = false;
            ignore(byte, "ignored (frame while polling)");
        } else if (byte == kX10PollAnswer) {
            log_.bytes("rx", {byte}, "poll answer");
            const std::vector<uint8_t>& upload = requests_.front().bytes;
            if (send(upload)) log_.bytes("tx", upload, describeUpload(upload));
            finishRequest();
        } else if (isHeader(byte)) {
            skipNext_ = true;
            if (standIn)
                takenForReady(byte, "poll");
            else
                ignore(byte, "ignored (frame while polling)");
        } else {
            ignore(byte, "ignored (waiting for the poll answer)");
        }
        break;
    }
    case State::AwaitingClock: {
        bool standIn = standIn_;
        standIn_ = false;
        if (!clockAnswer_.empty()) {
            clockAnswer_.push_back(byte);
            if (clockAnswer_.size() == kX10ClockFrameSize) finishClock();
        } else if (skipNext_) {
            skipNext_ = false;
            ignore(byte, "ignored (frame while waiting for the clock)");
        } else if (byte == kX10ClockFirst) {
            clockAnswer_.push_back(byte);
        } else if (isHeader(byte)) {
            skipNext_ = true;
            if (standIn)
                takenForReady(byte, "clock request");
            else
                ignore(byte, "ignored (frame while waiting for the clock)");
        } else {
            ignore(byte, "ignored (waiting for the clock answer)");
        }
        break;
    }
    }
}

// A status request outside a frame: answered when the controller listens,
// else logged and dropped. False when the byte belongs to an exchange (the
// second byte of a frame, a byte of the clock answer) and is taken as such.
bool Controller::receiveStatusRequest(long long now) {
    switch (state_) {
    case State::Idle:
        answerStatus(now, "");
        return true;
    case State::AwaitingAck:
        // The computer gave up the frame: it is not sent, and the request is served.
        log_.note("fault", "frame " + hexBytes({frame_[0], frame_[1]}) +
                               " dropped: a status request came instead of the ack");
        state_ = State::Idle;
        answerStatus(now, " (instead of the ack)");
        return true;
    case State::OnPowerLine:
        ignore(kX10StatusRequest,
               "status request while the frame is on the power line: not heard, not answered");
        return true;
    case State::Polling:
        if (skipNext_) return false;
        standIn_ = false;
        ignore(kX10StatusRequest, "status request while polling: not answered (the controller "
                                  "waits for the poll answer c3 and polls again)");
        return true;
    case State::AwaitingClock:
        if (!clockAnswer_.empty() || skipNext_) return false;
        standIn_ = false;
        ignore(kX10StatusRequest, "status request while asking for the clock: not answered (the "
                                  "controller waits for the clock answer 9b)");
        return true;
    case State::FrameStarted:
        log_.note("fault", "8b after the header " + hex2(frame_[0]) +
                               ": taken as the frame's second byte, not as a status request");
        return false;
    }
    return false;
}

// The computer sent its next frame after the poll or clock request that stood
// in for the ready byte: it read that byte as ready. The frame gets no
// checksum; the request goes on as usual.
void Controller::takenForReady(uint8_t header, const char* request) {
    protocolError({header}, std::string("frame after the ") + request +
                                " sent in place of the ready byte: the " + request +
                                " was taken for the ready byte (frame ignored)");
}

void Controller::completeFrame(uint8_t second, long long now) {
    frame_[1] = second;
    std::vector<uint8_t> frame{frame_[0], frame_[1]};
    uint8_t sum = static_cast<uint8_t>(frame_[0] + frame_[1]);
    std::vector<Field> fields;
    if (isFunctionHeader(frame_[0])) {
        fields = {{"kind", "function"},
                  {"house", std::string(1, houseLetter(second))},
                  {"function", functionName(second & 0x0F)},
                  {"dims", std::to_string(frame_[0] >> 3), true}};
    } else {
        fields = {{"kind", "address"}, {"address", addressName(second)}};
    }
    log_.bytes("rx", frame, describeFrame(frame_[0], frame_[1]), fields);
    if (wrongChecksums_ > 0) {
        --wrongChecksums_;
        uint8_t wrong = wrongChecksum(sum);
        if (send({wrong})) log_.bytes("tx", {wrong}, "wrong checksum (correct: " + hex2(sum) + ")");
        frameValid_ = false;
    } else {
        if (send({sum})) log_.bytes("tx", {sum}, "checksum");
        frameValid_ = true;
    }
    state_ = State::AwaitingAck;
    deadline_ = now + timing_.frameTimeoutMs;
}

void Controller::acknowledge(long long now) {
    log_.bytes("rx", {kX10Ack}, "ack");
    state_ = State::Idle;
    if (!frameValid_) {
        log_.note("fault", "ack after a wrong checksum: frame dropped");
        return;
    }
    if (timing_.mainsHz == 0) {
        sendReady(now);
        return;
    }
    state_ = State::OnPowerLine;
    deadline_ = now + readyDelayMs(timing_.mainsHz);
}

void Controller::sendReady(long long now) {
    if (earlyPoll_ && !requests_.empty())
        startNextRequest(now, true);
    else if (send({kX10Ready}))
        log_.bytes("tx", {kX10Ready}, "ready");
    std::vector<uint8_t> frame{frame_[0], frame_[1]};
    if (frame == lastFrame_) {
        ++duplicateFrames_;
        log_.note("protocol", "duplicate frame " + hexBytes(frame) + " put on the power line");
    }
    lastFrame_ = frame;
    putOnPowerLine(frame_[0], frame_[1]);
}

void Controller::protocolError(const std::vector<uint8_t>& bytes, const std::string& why) {
    ++protocolErrors_;
    log_.bytes("rx", bytes, "protocol error: " + why);
}

void Controller::putOnPowerLine(uint8_t header, uint8_t data) {
    int house = houseLetter(data) - 'A';
    House& h = houses_[house];
    if (!isFunctionHeader(header)) {
        if (h.afterFunction) h.addressed.clear();
        h.afterFunction = false;
        if (std::find(h.addressed.begin(), h.addressed.end(), data) == h.addressed.end())
            h.addressed.push_back(data);
        return;
    }
    h.afterFunction = true;
    uint8_t function = data & 0x0F;
    std::string name = functionName(function);
    bool perUnit = function == kX10FunctionOn || function == kX10FunctionOff ||
                   function == kX10FunctionDim ||
                   function == kX10FunctionBright; // these act on the addressed units
    if (!perUnit || h.addressed.empty()) {
        std::string text = std::string(1, houseLetter(data)) + " " + name +
                           " put on the power line" + (perUnit ? " (no unit addressed)" : "");
        log_.note("power", text,
                  {{"house", std::string(1, houseLetter(data))}, {"function", name}});
        return;
    }
    for (uint8_t address : h.addressed) {
        if (function == kX10FunctionOn || function == kX10FunctionOff)
            modules_[address] = function == kX10FunctionOn;
        log_.note("power", addressName(address) + " " + name + " put on the power line",
                  {{"unit", addressName(address)}, {"function", name}});
    }
}

void Controller::sendPoll(long long now, const char* note) {
    if (send({kX10Poll})) log_.bytes("tx", {kX10Poll}, note);
    ++polls_;
    nextPoll_ = now + timing_.pollIntervalMs;
}

void Controller::finishClock() {
    const std::vector<uint8_t>& b = clockAnswer_;
    std::string problems;
    auto problem = [&problems](const std::string& text) {
        problems += problems.empty() ? text : ", " + text;
    };
    if (b[6] != kX10ClockLast) problem("last byte " + hex2(b[6]) + " instead of 61");
    if (b[1] > 59) problem("seconds " + std::to_string(b[1]));
    if (b[2] > 119) problem("minute field " + std::to_string(b[2]));
    if (b[3] > 11) problem("half-hour field " + std::to_string(b[3]));
    const X10Clock clock = x10DecodeClock(&b[1]);
    const int yday = clock.yday, weekday = clock.weekday, hour = clock.hour;
    const int minute = clock.minute;
    if (yday > 365) problem("day of the year " + std::to_string(yday));
    if (weekday < 0) problem("weekday bits " + hex2(static_cast<uint8_t>(b[5] & 0x7F)));

    std::string when = clockText(hour, minute, b[1]) + " " +
                       (weekday >= 0 ? kWeekdays[weekday] : "?") + " day " + std::to_string(yday);
    std::string verdict;
    if (problems.empty()) {
        std::time_t t = std::time(nullptr);
        std::tm local{};
        localtime_r(&t, &local);
        long answer = ((yday * 24L + hour) * 60 + minute) * 60 + b[1];
        long mine = ((local.tm_yday * 24L + local.tm_hour) * 60 + local.tm_min) * 60 + local.tm_sec;
        bool close = std::labs(answer - mine) <= 5 && weekday == local.tm_wday;
        verdict = close ? "valid, matches local time"
                        : "valid, differs from local time " +
                              clockText(local.tm_hour, local.tm_min, local.tm_sec) + " " +
                              kWeekdays[local.tm_wday] + " day " + std::to_string(local.tm_yday);
        // The controller runs on from the time it was given.
        setClock(((yday * 24L + hour) * 60 + minute) * 60 + b[1], weekday, monotonicMs());
    } else {
        verdict = "invalid: " + problems;
    }
    log_.bytes("rx", b, "clock answer " + when + ": " + verdict,
               {{"time", clockText(hour, minute, b[1])},
                {"weekday", weekday >= 0 ? kWeekdays[weekday] : "?"},
                {"yday", std::to_string(yday), true},
                {"valid", problems.empty() ? "true" : "false", true}});
    uint8_t sum = 0;
    for (uint8_t byte : b)
        sum = static_cast<uint8_t>(sum + byte);
    if (send({sum})) log_.bytes("tx", {sum}, "clock answer checksum");
    finishRequest();
}

void Controller::finishRequest() {
    if (!requests_.empty()) requests_.pop_front();
    state_ = State::Idle;
    skipNext_ = false;
    standIn_ = false;
    clockAnswer_.clear();
}

void Controller::startNextRequest(long long now, bool inPlaceOfReady) {
    const Request& r = requests_.front();
    polls_ = 0;
    skipNext_ = false;
    clockAnswer_.clear();
    standIn_ = inPlaceOfReady;
    if (r.clock) {
        state_ = State::AwaitingClock;
        deadline_ = now + timing_.clockTimeoutMs;
        if (send(r.bytes))
            log_.bytes("tx", r.bytes,
                       inPlaceOfReady ? "clock request (in place of the ready byte)"
                                      : "clock request");
    } else {
        state_ = State::Polling;
        sendPoll(now, inPlaceOfReady ? "poll (in place of the ready byte)" : "poll");
    }
}

void Controller::tick(long long now) {
    if (hungUp_ || silent_ || unplugged_) return;
    if (stream_) {
        std::vector<uint8_t> bytes = stream_->due(now);
        if (!bytes.empty() && send(bytes))
            log_.bytes("tx", bytes,
                       stream_->kind() == LineStream::Kind::Random ? "noise" : "nmea text");
        if (!stream_->finished(now)) {
            streamTick_ = now + kStreamTickMs;
            return;
        }
        stream_.reset();
        log_.note("mode", "another device's stream ended");
    }
    switch (state_) {
    case State::FrameStarted:
        if (now >= deadline_) {
            log_.note("fault", "incomplete frame (header " + hex2(frame_[0]) + ") dropped");
            state_ = State::Idle;
        }
        break;
    case State::AwaitingAck:
        if (now >= deadline_) {
            log_.note("fault", "no ack: frame dropped");
            state_ = State::Idle;
        }
        break;
    case State::OnPowerLine:
        if (now >= deadline_) {
            state_ = State::Idle;
            sendReady(now);
        }
        break;
    case State::Polling:
        if (now >= nextPoll_) {
            if (timing_.pollLimit > 0 && polls_ >= timing_.pollLimit) {
                log_.note("fault", "report not answered after " + std::to_string(polls_) +
                                       " polls: dropped");
                finishRequest();
            } else {
                standIn_ = false; // a frame after a later poll answers that one
                sendPoll(now);
            }
        }
        break;
    case State::AwaitingClock:
        if (now >= deadline_) {
            log_.note("fault", clockAnswer_.empty()
                                   ? "clock request not answered"
                                   : "incomplete clock answer " + hexBytes(clockAnswer_));
            finishRequest();
        }
        break;
    case State::Idle:
        break;
    }
    if (state_ == State::Idle && !requests_.empty() && !earlyPollAlways_) startNextRequest(now);
}

long long Controller::nextDeadline() const {
    if (hungUp_ || silent_ || unplugged_) return -1;
    if (stream_) return std::min(streamTick_, stream_->endMs());
    switch (state_) {
    case State::Idle:
        return requests_.empty() || earlyPollAlways_ ? -1 : 0;
    case State::Polling:
        return nextPoll_;
    default:
        return deadline_;
    }
}

void Controller::queueUpload(std::vector<uint8_t> upload) {
    if (hungUp_) return;
    requests_.push_back({false, std::move(upload)});
}

void Controller::queueClockRequest(uint8_t request) {
    if (hungUp_) return;
    requests_.push_back({true, {request}});
}

void Controller::failNextChecksums(int count) {
    wrongChecksums_ = count;
}

void Controller::setSilent(bool silent) {
    if (silent == silent_) return;
    if (silent) abandonExchange("line silent");
    silent_ = silent;
    log_.note("mode", silent ? "silent on" : "silent off");
}

void Controller::setPlugged(bool plugged) {
    if (plugged == !unplugged_) return;
    if (!plugged) abandonExchange("device unplugged");
    unplugged_ = !plugged;
}

// A frame exchange is dropped (its frame goes nowhere); a poll or clock request
// in progress stays queued and starts again when the controller can speak.
void Controller::abandonExchange(const char* why) {
    if (state_ == State::FrameStarted || state_ == State::AwaitingAck ||
        state_ == State::OnPowerLine)
        log_.note("fault", std::string("exchange abandoned: ") + why);
    state_ = State::Idle;
    skipNext_ = false;
    standIn_ = false;
    clockAnswer_.clear();
}

void Controller::setEarlyPoll(bool on, bool always) {
    earlyPoll_ = on || always;
    earlyPollAlways_ = always;
    log_.note("mode", always ? "early-poll always" : on ? "early-poll on" : "early-poll off");
}

void Controller::sendGarbage(const std::vector<uint8_t>& bytes) {
    if (send(bytes)) log_.bytes("tx", bytes, "garbage");
}

void Controller::sendMacroReport(uint8_t high, uint8_t low) {
    std::vector<uint8_t> bytes{kMacroReport, high, low};
    if (send(bytes)) log_.bytes("tx", bytes, "macro report (no answer expected)");
}

void Controller::startStream(const LineStream& stream) {
    abandonExchange("another device talks");
    stream_ = stream;
    streamTick_ = 0;
    log_.note("mode",
              stream.kind() == LineStream::Kind::Random ? "noise started" : "nmea text started");
}

void Controller::cancelRequests() {
    bool inProgress = state_ == State::Polling || state_ == State::AwaitingClock;
    requests_.clear();
    if (inProgress) finishRequest();
    standIn_ = false;
}

void Controller::reportStatus() {
    reportModules();
    log_.note("status",
              "status: " + std::to_string(protocolErrors_) + " protocol errors, " +
                  std::to_string(duplicateFrames_) + " duplicate frames",
              {{"protocolErrors", std::to_string(protocolErrors_), true},
               {"duplicateFrames", std::to_string(duplicateFrames_), true}});
}

void Controller::reportModules() {
    if (modules_.empty()) {
        log_.note("status", "status: no module switched");
        return;
    }
    // Report in house then unit order, not in code-byte order.
    std::vector<std::pair<std::string, bool>> rows;
    for (int house = 0; house < 16; ++house)
        for (int unit = 0; unit < 16; ++unit) {
            auto it = modules_.find(static_cast<uint8_t>(houseCodes[house] | unitCodes[unit]));
            if (it != modules_.end()) rows.emplace_back(addressName(it->first), it->second);
        }
    for (const auto& [name, on] : rows)
        log_.note("status", "status " + name + (on ? " ON" : " OFF"),
                  {{"unit", name}, {"on", on ? "true" : "false", true}});
}

void Controller::hangUp() {
    hungUp_ = true;
    requests_.clear();
    state_ = State::Idle;
    log_.note("hangup", "hangup: line closed");
}

} // namespace cm11a
