// Sleeps, the tick count, the fine-timer requests and pacers.
#include "platform/clock.h"
#include "platform/posix/handles.h"
#include "platform/posix/testing.h"

#include <atomic>

#include <cerrno>
#include <ctime>

namespace plat {
namespace {
constexpr uint32_t kNoCap = 0xFFFFFFFFu;
std::atomic<uint32_t> waitCap{kNoCap};
} // namespace

uint32_t detail::cappedWait(uint32_t milliseconds) {
    uint32_t cap = waitCap.load();
    return milliseconds < cap ? milliseconds : cap;
}

void testing::capWaits(uint32_t milliseconds) {
    waitCap = milliseconds;
}

void testing::uncapWaits() {
    waitCap = kNoCap;
}

void sleep(uint32_t milliseconds) {
    milliseconds = detail::cappedWait(milliseconds);
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    // Resume after a signal with the time that is left; any other failure ends the sleep.
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

// The system's sleeps are fine already; the requests are only counted.
namespace {
std::atomic<int> fineTimerCount{0};
}

void requestFineTimer() {
    ++fineTimerCount;
}

void releaseFineTimer() {
    --fineTimerCount;
}

int testing::fineTimerRequests() {
    return fineTimerCount.load();
}

// Pacers: by a "high-resolution timer" (a plain sleep here, which is fine
// already) unless a test makes the system look older.
namespace {
std::atomic<bool> highResolutionTimers{true};
struct Pacer {
    PaceKind kind;
};
} // namespace

void testing::offerHighResolutionTimers(bool offer) {
    highResolutionTimers = offer;
}

Handle openPacer(PaceKind* kind) {
    auto* pacer = new Pacer{highResolutionTimers ? kPaceByHighResolutionTimer : kPaceBySleep};
    if (pacer->kind == kPaceBySleep) requestFineTimer();
    if (kind != nullptr) *kind = pacer->kind;
    return pacer;
}

void pace(Handle, uint32_t milliseconds) {
    sleep(milliseconds);
}

void closePacer(Handle handle) {
    auto* pacer = static_cast<Pacer*>(handle);
    if (pacer == nullptr) return;
    if (pacer->kind == kPaceBySleep) releaseFineTimer();
    delete pacer;
}

uint32_t tickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

std::tm localTime() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace plat
