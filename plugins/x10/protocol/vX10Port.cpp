#include "protocol/vX10Port.h"

#include "descriptors/vButtonNode.h"
#include "entry/hostRequests.h"
#include "platform/clock.h"
#include "protocol/x10Codes.h"

#include <cstring>

namespace {

bool isClockRequest(uint8_t byte) {
    return byte == kX10ClockRequest || byte == kX10ClockRequestAlt;
}

// A byte that the reply test would take for something other than a checksum.
bool isSpecialReply(uint8_t byte) {
    return byte == kX10Poll || isClockRequest(byte) || byte == kX10MacroReport;
}

uint8_t checksum(const uint8_t* bytes, uint32_t length) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

int eventKind(uint8_t functionByte) {
    switch (functionByte & 0x0F) {
    case kX10FunctionOn:
        return kX10EventOn;
    case kX10FunctionOff:
        return kX10EventOff;
    default:
        return kX10EventNone;
    }
}

} // namespace

vX10Port::vX10Port(vX10EventSource& events) : vSerialPort(kLine), events(events) {
    setReopenPeriod(vReopenSchedule::kPeriodMs);
}

vX10Port::~vX10Port() {
    close();
}

std::tm vX10Port::systemLocalTime() {
    return plat::localTime();
}

void vX10Port::setLocalTimeSource(LocalTimeSource source) {
    localTime = source != nullptr ? source : &vX10Port::systemLocalTime;
}

void vX10Port::buildAddressFrame(uint8_t code, uint8_t frame[2]) {
    frame[0] = kX10AddressHeader;
    frame[1] = code;
    if (isSpecialReply(checksum(frame, 2))) frame[0] = kX10AddressHeaderAlt;
}

void vX10Port::buildClockFrame(const std::tm& local, uint8_t frame[7]) {
    X10Clock clock;
    clock.second = local.tm_sec;
    clock.minute = local.tm_min;
    clock.hour = local.tm_hour;
    clock.yday = local.tm_yday;
    clock.weekday = local.tm_wday;
    frame[0] = kX10ClockFirst;
    x10EncodeClock(clock, frame + 1);
    frame[kX10ClockFrameSize - 1] = kX10ClockLast;
}

void vX10Port::beginOutage(const char* text, int32_t code) {
    if (schedule.failed()) reportError(text, code);
}

void vX10Port::onOpenFailed() {
    beginOutage(kOpenFailedText, kOpenFailedCode);
}

void vX10Port::onDeviceFailed() {
    beginOutage(kDeviceFailedText, kDeviceFailedCode);
}

int32_t vX10Port::receive(void* buffer, uint32_t count, uint32_t* got) {
    uint32_t received = 0;
    int32_t result = read(buffer, count, &received);
    // A byte ends an outage, unless the driver still refuses the watcher's
    // wait: the device would fail again at once, a new outage every period.
    if (received > 0 && watchWorks()) schedule.worked();
    if (got != nullptr) *got = received;
    return result;
}

int vX10Port::attemptsAllowed() const {
    return schedule.inOutage() ? 1 : kAttempts;
}

int32_t vX10Port::sendCommand(uint8_t function, uint8_t dims, uint8_t code) {
    // An absent or failed device is tried again first: the command may find it back.
    if (!isOpen() || hasFailed()) reopenNow();
    int32_t sent = sendFrames(function, dims, code);
    // A device that fails under the command may have been pulled out and
    // plugged back before its failure showed: opened again, it gets the
    // command once more.
    if (sent == 0 && hasFailed() && reopenNow()) sent = sendFrames(function, dims, code);
    return sent;
}

int32_t vX10Port::sendFrames(uint8_t function, uint8_t dims, uint8_t code) {
    uint8_t frame[2];
    buildAddressFrame(code, frame);
    if (!transact(frame, 2)) return 0;
    return sendFunction(function, dims, static_cast<uint8_t>(code & 0xF0));
}

int32_t vX10Port::sendFunction(uint8_t function, uint8_t dims, uint8_t house) {
    uint8_t frame[2] = {static_cast<uint8_t>((dims << 3) | kX10FunctionHeader),
                        static_cast<uint8_t>(function | house)};
    return transact(frame, 2);
}

int32_t vX10Port::transact(const uint8_t* frame, uint32_t length) {
    const uint8_t sum = checksum(frame, length);
    bool heard = false;
    // Hearing the controller during the frame ends an outage, and with it the
    // limit of one attempt.
    for (int attempt = 0; attempt < attemptsAllowed(); ++attempt) {
        // Nothing queued before the frame goes out can be its reply; a request
        // among it is served first.
        serveQueued();
        if (!write(frame, length)) return 0;
        uint8_t reply = 0;
        // Silence is no reply, even where the checksum is 0 (J16's address).
        if (readReply(&reply) == 0) continue;
        heard = true;
        if (isClockRequest(reply)) {
            sendClock();
        } else if (reply == kX10Poll) {
            answerPoll();
        } else if (reply == sum) {
            exchangeWorked();
            uint8_t answer = kX10Ack;
            write(&answer, 1);
            // The ready byte comes once the frame has been on the power line:
            // about 0.42 s at 60 Hz and 0.5 s at 50 Hz, so it may miss one read.
            // Read once more then, or the late byte would be taken for the next
            // frame's checksum and that frame sent twice.
            for (int reads = 0; reads < kReadyReads && answer == 0; ++reads)
                readReply(&answer);
            // A controller with traffic to report may poll, or ask for the
            // clock, where the ready byte would be: it does so only once it is
            // done with the frame, so the frame went out. The request is
            // served here, or it would be lost.
            if (answer == kX10Poll) {
                answerPoll();
                return 1;
            }
            if (isClockRequest(answer)) {
                sendClock();
                return 1;
            }
            // A controller that sends no ready byte has taken the frame all the same.
            return answer == kX10Ready || answer == 0 ? 1 : 0;
        } else {
            // Anything else: the frame goes again.
            heardStray();
        }
    }
    // Not a byte for any attempt, on a device that works: the controller is
    // silent (without power, or unplugged from its adapter).
    if (!heard && !hasFailed()) beginOutage(kSilentText, kSilentCode);
    return 0;
}

void vX10Port::onData() {
    serveQueued();
}

void vX10Port::serveQueued() {
    // What is queued now, a byte at a time: a poll is served with what follows
    // it still queued (its repeats, then the size byte). What comes meanwhile
    // is for the next call, so that a device that never stops talking does
    // not hold the host's thread.
    const uint32_t queued = queuedInput();
    for (uint32_t taken = 0; taken < queued && queuedInput() > 0; ++taken) {
        uint8_t byte = 0;
        uint32_t got = 0;
        receive(&byte, 1, &got);
        if (got == 0) break;
        if (!serveRequest(byte)) heardStray();
    }
}

bool vX10Port::serveRequest(uint8_t byte) {
    if (byte == kX10Poll)
        answerPoll();
    else if (isClockRequest(byte))
        sendClock();
    else if (byte == kX10MacroReport)
        skipMacroAddress();
    else
        return false;
    return true;
}

uint32_t vX10Port::readReply(uint8_t* byte) {
    uint32_t got = 0;
    for (int macros = 0; macros <= kMacrosPerReply; ++macros) {
        *byte = 0;
        receive(byte, 1, &got);
        if (got == 0 || *byte != kX10MacroReport) return got;
        // A macro the controller ran: reported, not answered; the reply may follow.
        skipMacroAddress();
    }
    *byte = 0;
    return 0;
}

void vX10Port::skipMacroAddress() {
    uint8_t address[kX10MacroAddressSize];
    receive(address, sizeof address);
}

void vX10Port::drainBurst() {
    uint8_t scratch[kUploadBufferSize];
    uint32_t got = 0;
    int reads = 0;
    do {
        receive(scratch, sizeof scratch, &got);
    } while (got > 0 && ++reads < kDrainReads);
}

void vX10Port::heardStray() {
    const uint32_t now = plat::tickCount();
    if (!strayRun || now - strayLast > kStrayGapMs) {
        strayRun = true;
        strayStart = now;
    }
    strayLast = now;
    if (!strayTold && now - strayStart >= kForeignMs) {
        strayTold = true;
        reportError(kForeignText, kForeignCode);
    }
}

void vX10Port::exchangeWorked() {
    strayRun = false;
    strayTold = false;
}

void vX10Port::answerPoll() {
    // A controller that polls again straight after its upload has more to
    // tell: answered here, a few times at most, so that a line that never
    // stops cannot hold the host's thread.
    for (int polls = 0; polls < kPollsPerCall && takeUpload(); ++polls) {}
}

bool vX10Port::takeUpload() {
    uint8_t size = 0;
    const uint8_t answer = kX10PollAnswer;
    write(&answer, 1);
    // The controller repeats its poll until it sees the answer; a read that
    // yields nothing leaves the size byte as it was.
    int reads = 0;
    uint32_t got = 0;
    do {
        receive(&size, 1, &got);
        if (++reads >= kPollReads) {
            size = 0;
            got = 0;
        }
    } while (size == kX10Poll);
    // Silence, or a poll repeated past the answer: no upload.
    if (size == 0 && got == 0) return false;
    // The controller's buffer holds the size byte, the mask and at most eight
    // data bytes: any other size is a line out of step (noise, another
    // device), and what follows it in its burst is no upload either.
    if (size == 0 || size > kX10MaxUploadSize) {
        heardStray();
        drainBurst();
        return false;
    }

    uint8_t buffer[kUploadBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    // Decoded whatever the read gives: missing bytes read as zero.
    receive(buffer, size, &got);
    // After its upload a controller falls silent, or asks again. A line that
    // goes straight on with any other byte was not uploading: random bytes
    // hold a poll followed by a size of 1 to 9 now and then.
    uint8_t next = 0;
    const bool more = got == size && byteRightAfter(&next);
    const bool request = next == kX10Poll || isClockRequest(next) || next == kX10MacroReport;
    if (more && !request) {
        heardStray();
        drainBurst();
        return false;
    }
    exchangeWorked();
    decodeBuffer(buffer, size);
    if (!more) return false;
    if (next == kX10Poll) return true;
    serveRequest(next);
    return false;
}

bool vX10Port::byteRightAfter(uint8_t* byte) {
    plat::sleep(kUploadQuietMs);
    uint32_t got = 0;
    if (queuedInput() > 0) receive(byte, 1, &got);
    return got > 0;
}

void vX10Port::decodeBuffer(const uint8_t* data, uint32_t count) {
    if (data == nullptr || count <= 1) return;
    if (count > kUploadBufferSize) count = kUploadBufferSize;
    const uint8_t mask = data[0];
    // Mask bit k tells whether data[k + 1] is a function byte; it has bits for
    // the first eight data bytes only, later ones are addresses.
    auto isFunction = [mask](uint32_t k) { return k < 8 && ((mask >> k) & 1u) != 0; };

    for (uint32_t k = 0; k + 1 < count; ++k) {
        if (!isFunction(k)) continue;
        const uint8_t function = data[k + 1];
        const uint8_t house = function & 0xF0;
        const int kind = eventKind(function);
        if (kind == kX10EventNone) continue; // no event for other functions
        // The addresses that this function applies to: the data bytes before it,
        // nearest first, back to the previous function byte.
        for (uint32_t j = k; j >= 1 && !isFunction(j - 1); --j) {
            const uint8_t address = data[j];
            if ((address & 0xF0) != house) continue;
            if (vAssignmentButton* event = events.findEvent(address, kind)) event->fireEvent();
        }
    }
}

void vX10Port::sendClock() {
    uint8_t frame[kX10ClockFrameSize];
    buildClockFrame(localTime(), frame);
    write(frame, sizeof frame);
    plat::sleep(kClockReplyWaitMs);
    // The controller's checksum of the clock frame; nothing follows it.
    uint8_t reply = 0;
    receive(&reply, 1);
}
