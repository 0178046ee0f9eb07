// Fuzz target: vX10Port against a controller that sends arbitrary bytes.
//
// The port sits on a pseudo-terminal as "com1". An input is a sequence of
// steps; each step hands the controller's next bytes to the terminal and then
// runs one protocol operation: a command (address and function frame), a
// function frame, a byte arriving on its own (`onData`), a poll answered
// directly, a clock request, or an upload decoded directly with any size and
// mask. The platform's waits are capped, so a silent controller costs nothing
// and a reply that never comes behaves like the device's timeout.
//
// Besides the sanitizers it checks that every operation ends within its bound
// of bytes written, that the frame operations report 0 or 1, and that an
// event only ever fires for a module whose code byte the controller sent; and
// from the line, only from an upload that could be real: an address byte
// within the reach of a size byte of 3 to 9 (mask, address, function).
#include "entry/library.h"
#include "platform/posix/testing.h"
#include "protocol/vX10Port.h"
#include "protocol/x10Codes.h"
#include "protocol/x10Events.h"
#include "x10/fakeEventSource.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void require(bool condition) {
    if (!condition) std::abort();
}

std::tm fixedTime() {
    std::tm t{};
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_wday = 2;
    t.tm_yday = 300;
    return t;
}

// The controller's end of the terminal, and a second descriptor of the port's
// end through which the harness sees how much input is queued there.
struct Line {
    int master = -1;
    int slave = -1;

    bool open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        const char* path = ptsname(master);
        if (path == nullptr) return false;
        slave = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
        setenv("KVQ_PORT_COM1", path, 1);
        return slave >= 0;
    }
    int queued() const {
        int n = 0;
        return ioctl(slave, FIONREAD, &n) == 0 ? n : -1;
    }
    // Sends `bytes` to the port and waits (bounded) until they are queued on its
    // side, so that the operation that follows finds them all.
    void send(const Bytes& bytes) {
        if (bytes.empty()) return;
        int before = queued();
        ssize_t n = ::write(master, bytes.data(), bytes.size());
        require(n == static_cast<ssize_t>(bytes.size()));
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (queued() < before + static_cast<int>(bytes.size()))
            require(std::chrono::steady_clock::now() < deadline);
    }
    // What the port wrote since the last call.
    size_t drain() {
        size_t total = 0;
        uint8_t buffer[512];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            total += static_cast<size_t>(n);
        return total;
    }
};

struct Harness {
    Line line;
    x10test::FakeEventSource events;
    vX10Port port{events};

    Harness() {
        moduleInstance = reinterpret_cast<void*>(0x1000);
        require(line.open());
        require(port.open("com1") == 1);
        port.setLocalTimeSource(&fixedTime);
        plat::testing::capWaits(0);
    }
};

// Bytes written by one frame exchange at most: every attempt sends the frame
// and may serve a clock request (7 bytes) or a poll (1 byte); then the ack.
// Besides, each byte that was queued may be a request served (7 bytes at most).
constexpr size_t kFrameExchangeBound = vX10Port::kAttempts * (2 + 7) + 1;
constexpr size_t kRequestBound = 7;

// Whether `code` could come from an upload on `line`: it lies among the data
// bytes after the mask that a size byte of 3 to 9 announces.
bool inAnUpload(const Bytes& line, uint8_t code) {
    for (size_t i = 0; i < line.size(); ++i) {
        const size_t size = line[i];
        if (size < 3 || size > kX10MaxUploadSize) continue;
        for (size_t j = i + 2; j <= i + size && j < line.size(); ++j)
            if (line[j] == code) return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness* h = new Harness;
    FuzzedDataProvider input(data, size);
    h->line.drain();
    h->port.purge();
    h->events.fired.clear();
    h->events.lookups.clear();
    Bytes sent; // every byte the controller sent in this input
    Bytes line; // the same, but for the uploads decoded directly
    std::vector<x10test::FakeEventSource::Key> fromLine;

    while (input.remaining_bytes() > 0) {
        const int step = input.ConsumeIntegralInRange(0, 5);
        Bytes controller = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 48));
        sent.insert(sent.end(), controller.begin(), controller.end());
        line.insert(line.end(), controller.begin(), controller.end());
        // Input the port left unread stays queued, as on a real line, up to a bound.
        if (h->line.queued() > 1024) h->port.purge();
        h->line.send(controller);
        const size_t firedBefore = h->events.fired.size();

        size_t bound = kRequestBound * static_cast<size_t>(h->line.queued());
        switch (step) {
        case 0: {
            const uint8_t function = input.ConsumeBool() ? 2 : 3;
            const uint8_t dims = input.ConsumeIntegral<uint8_t>() & 0x1F;
            int32_t accepted =
                h->port.sendCommand(function, dims, input.ConsumeIntegral<uint8_t>());
            require(accepted == 0 || accepted == 1);
            bound += 2 * kFrameExchangeBound;
            break;
        }
        case 1: {
            const uint8_t function = input.ConsumeIntegral<uint8_t>() & 0x0F;
            const uint8_t dims = input.ConsumeIntegral<uint8_t>() & 0x1F;
            int32_t accepted =
                h->port.sendFunction(function, dims, input.ConsumeIntegral<uint8_t>());
            require(accepted == 0 || accepted == 1);
            bound += kFrameExchangeBound;
            break;
        }
        case 2:
            h->port.onData();
            break;
        case 3:
            h->port.answerPoll();
            bound += 1;
            break;
        case 4:
            h->port.sendClock();
            bound += 7;
            break;
        default: {
            // An upload of any size, in a block exactly that long.
            Bytes upload = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 300));
            sent.insert(sent.end(), upload.begin(), upload.end());
            std::unique_ptr<uint8_t[]> block(new uint8_t[upload.size() + 1]);
            if (!upload.empty()) std::memcpy(block.get(), upload.data(), upload.size());
            h->port.decodeBuffer(upload.empty() ? nullptr : block.get(),
                                 static_cast<uint32_t>(upload.size()));
            break;
        }
        }
        require(h->line.drain() <= bound);
        if (step < 5) // not an upload decoded directly
            fromLine.insert(fromLine.end(), h->events.fired.begin() + firedBefore,
                            h->events.fired.end());
    }
    for (const auto& event : fromLine)
        require(inAnUpload(line, event.first));

    // Whatever fired was named by the controller: the data bytes of an upload.
    for (const auto& event : h->events.fired) {
        const uint8_t code = event.first;
        bool named = false;
        for (uint8_t b : sent)
            named = named || b == code;
        require(named);
    }
    return 0;
}
