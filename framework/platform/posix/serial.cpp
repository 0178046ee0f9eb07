// Serial devices on termios, with the Windows naming and timeout conventions.
//
// "COMn" opens /dev/ttyS(n-1), or the device named by KVQ_PORT_COMn. A device
// is opened exclusively (TIOCEXCL, an advisory lock for other processes, and a
// refusal of a second open of the same device in this process) and is put in
// raw mode at once, since a Windows port has no line discipline either.
//
// Received data is reported by counting arrivals: every byte that came in is
// either still unread (FIONREAD), or was taken by serialRead, or was discarded
// by a purge. An event wait reports received data when that total has grown
// since its last report, and in between it sleeps in an edge-triggered epoll,
// which the terminal layer wakes once per arrival even while earlier input is
// still unread. So a watcher that waits again before the host has read the
// data blocks instead of spinning, and no arrival goes unreported.
//
// A wait object carries an eventfd of its own that stopWaiting raises, so a
// watcher can always be ended, whatever the device does.
//
// serialClose wakes a waiting thread through the device's eventfd and gives
// the device itself up at once (its descriptor number stays reserved, pointing
// at /dev/null, until the last user lets go), so the port can be reopened
// straight away and a descriptor is never reused under a waiting thread.
#include "platform/serial.h"
#include "platform/posix/handles.h"
#include "platform/posix/testing.h"
#include "platform/threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <list>
#include <memory>
#include <mutex>
#include <poll.h>
#include <set>
#include <string>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace plat {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kPurgeTxClear = 0x04;
constexpr uint32_t kPurgeRxClear = 0x08;
// While ring is watched, how often the ring counter is looked at (there is no
// readiness event for a modem line).
constexpr int kRingPollMs = 20;

using Identity = std::tuple<bool, uint64_t, uint64_t>;

Identity identityOf(const struct stat& st) {
    if (S_ISCHR(st.st_mode)) return Identity(true, st.st_rdev, 0);
    return Identity(false, st.st_dev, st.st_ino);
}

struct Device {
    int fd = -1;
    int wakeFd = -1; // readable once the device is closed
    int maskFd = -1; // readable after the event mask changed, until a wait takes it
    std::atomic<bool> closed{false};
    std::atomic<bool> hungUp{false}; // the other end has gone: no event will come any more
    std::atomic<int> waiters{0};     // event waits in progress
    std::atomic<uint32_t> maskChanges{0};
    Identity identity;
    uint64_t number = 0; // this open's, never reused

    std::mutex lock; // guards what follows; reads take it so arrivals are counted exactly
    uint32_t mask = 0;
    SerialTimeouts timeouts{};
    uint64_t consumed = 0; // bytes read or purged
    uint64_t reported = 0; // arrivals already reported by an event wait
    bool ringKnown = false;
    uint32_t ringCount = 0;

    ~Device() {
        if (fd >= 0) ::close(fd);
        if (wakeFd >= 0) ::close(wakeFd);
        if (maskFd >= 0) ::close(maskFd);
    }
};

struct WaitRecord {
    int epollFd = -1;
    int stopFd = -1; // readable once stopWaiting was called
    std::atomic<bool> stopped{false};
    std::mutex inUse;
    int finishFd = -1; // readable once finishWaiting was called
    ~WaitRecord() {
        if (epollFd >= 0) ::close(epollFd);
        if (stopFd >= 0) ::close(stopFd);
        if (finishFd >= 0) ::close(finishFd);
    }
};

std::atomic<bool> waitObjectCreationFails{false};
std::atomic<bool> waitsAreStubborn{false};
std::atomic<bool> completionsAreLate{false};
std::atomic<bool> waitsFailAtOnce{false};
std::atomic<int> opensSoFar{0};
std::atomic<bool> statusReadsHang{false};

// Windows' rule for a thread that ends with a request of its own pending: the
// system cancels it and waits for it to complete before the thread is gone.
// Modelled for stubborn event waits: one that is stopped is cancelled, its
// cancel does not settle, and the request stays pending, tied to the thread
// that issued it, until its device is closed (or, with `untilClose` off,
// until the switch is cleared).
constexpr uint32_t kCancelSettleMs = 1000; // as long as the Windows backend awaits a cancel
constexpr auto kThreadExitHold = std::chrono::minutes(5);
enum class Hold { none, untilClose, forever };
struct HeldRequest {
    uint32_t thread;
    uint64_t device;
    bool untilClose;
    bool completed;
};
struct HeldRequests {
    std::mutex lock;
    std::condition_variable changed;
    std::list<HeldRequest> list;
    Hold mode = Hold::none;
};
HeldRequests& held() {
    static auto* requests = new HeldRequests;
    return *requests;
}

// A stopped stubborn wait under the rule: cancelled, awaited for the settle,
// then left pending to its thread.
void holdCancelledWait(const Device& device) {
    HeldRequests& h = held();
    std::unique_lock<std::mutex> guard(h.lock);
    if (h.mode == Hold::none) return;
    const bool untilClose = h.mode == Hold::untilClose;
    if (untilClose && device.closed.load()) return;
    auto request =
        h.list.insert(h.list.end(), {currentThreadId(), device.number, untilClose, false});
    h.changed.wait_for(guard, std::chrono::milliseconds(detail::cappedWait(kCancelSettleMs)),
                       [&] { return request->completed; });
}

// Those of one device (0: every one).
void completeHeldRequests(uint64_t device) {
    HeldRequests& h = held();
    std::lock_guard<std::mutex> guard(h.lock);
    for (HeldRequest& request : h.list)
        if (device == 0 || (request.device == device && request.untilClose))
            request.completed = true;
    h.changed.notify_all();
}
std::atomic<int> waitsInProgress{0};
std::atomic<int> closedUnderAWait{0};

// Counts an event wait as in progress for the life of the object.
struct Waiting {
    explicit Waiting(Device& device) : device(device) {
        ++device.waiters;
        ++waitsInProgress;
    }
    ~Waiting() {
        --waitsInProgress;
        --device.waiters;
    }
    Device& device;
};

detail::HandleTable<Device>& devices() {
    static auto* table = new detail::HandleTable<Device>(detail::HandleKind::serial);
    return *table;
}

detail::HandleTable<WaitRecord>& waitObjects() {
    static auto* table = new detail::HandleTable<WaitRecord>(detail::HandleKind::waitObject);
    return *table;
}

// Devices open in this process; guarded by openLock().
std::set<Identity>& openDevices() {
    static auto* set = new std::set<Identity>;
    return *set;
}

std::mutex& openLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

// "COMn" (any case, optionally "\\.\COMn") to a device path, or the path of a
// serial device (/dev/ttyS*, ttyUSB*, ttyACM*) as it stands; empty for other names.
std::string devicePath(const char* name) {
    if (!name) return std::string();
    // The serial devices that have no COMn name (kvq-host probe takes their paths).
    for (const char* serial : {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"})
        if (std::strncmp(name, serial, std::strlen(serial)) == 0) return name;
    if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
    if (strncasecmp(name, "com", 3) != 0) return std::string();
    const char* digits = name + 3;
    if (*digits < '1' || *digits > '9') return std::string();
    unsigned number = 0;
    for (const char* p = digits; *p; ++p) {
        if (*p < '0' || *p > '9') return std::string();
        number = number * 10 + static_cast<unsigned>(*p - '0');
        if (number > 256) return std::string();
    }
    std::string variable = "KVQ_PORT_COM" + std::to_string(number);
    const char* overridden = std::getenv(variable.c_str());
    if (overridden && *overridden) return overridden;
    return "/dev/ttyS" + std::to_string(number - 1);
}

// Why the system refused a device: the terminal's exclusive mode (EBUSY) or
// another program's lock (EWOULDBLOCK) hold it; a missing node, or one with
// no device behind it, is absent.
SerialOpenResult openFailure(int error) {
    switch (error) {
    case EBUSY:
    case EWOULDBLOCK:
        return kOpenHeld;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:
        return kOpenAbsent;
    default:
        return kOpenFailed;
    }
}

// What a request given up at its time limit comes to once its cancel has
// settled, as the system reports it then: one that the device completed
// meanwhile counts as done, and so does a read that had taken some bytes
// already (a cancelled read completes with what it transferred, and those
// bytes are gone from the device). Otherwise it timed out: slowness is no
// failed device.
SerialTransfer afterCancel(bool reading, bool completed, uint32_t transferred) {
    if (completed || (reading && transferred > 0)) return kTransferDone;
    return kTransferTimedOut;
}

// While completions are late, a request that completed before its time limit
// is seen only at that limit, while it is being cancelled; true when it is.
bool completedDuringCancel(bool hasLimit, Clock::time_point limit) {
    if (!hasLimit || !completionsAreLate.load()) return false;
    std::this_thread::sleep_until(limit);
    return true;
}

int64_t msUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max<int64_t>(0, left.count() + 1);
}

// Waits until the device is ready for `events`, the device is closed, or the deadline;
// returns the device's poll bits (0 on timeout), or -1 once the device is closed.
int waitReady(Device& device, short events, const Clock::time_point* deadline) {
    pollfd fds[2] = {{device.fd, events, 0}, {device.wakeFd, POLLIN, 0}};
    for (;;) {
        int timeout = -1;
        if (deadline) timeout = static_cast<int>(std::min<int64_t>(msUntil(*deadline), 1 << 30));
        int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || device.closed.load() || (fds[1].revents & POLLIN)) return -1;
        return fds[0].revents;
    }
}

// Reads what is there, up to `count` bytes, counting it as consumed; -1 on error.
ssize_t readAvailable(Device& device, uint8_t* buffer, size_t count) {
    std::lock_guard<std::mutex> guard(device.lock);
    ssize_t n = ::read(device.fd, buffer, count);
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    device.consumed += static_cast<uint64_t>(n);
    return n;
}

bool readRingCount(int fd, uint32_t* count) {
    serial_icounter_struct counters{};
    if (ioctl(fd, TIOCGICOUNT, &counters) != 0) return false;
    *count = static_cast<uint32_t>(counters.rng);
    return true;
}

// The events that happened since the last report; marks them reported.
uint32_t takeEvents(Device& device, uint32_t wanted) {
    std::lock_guard<std::mutex> guard(device.lock);
    uint32_t events = 0;
    if (wanted & kEvRxChar) {
        int unread = 0;
        if (ioctl(device.fd, FIONREAD, &unread) == 0 && unread >= 0) {
            uint64_t arrived = device.consumed + static_cast<uint64_t>(unread);
            if (arrived > device.reported) {
                device.reported = arrived;
                events |= kEvRxChar;
            }
        }
    }
    if ((wanted & kEvRing) && device.ringKnown) {
        uint32_t rings;
        if (readRingCount(device.fd, &rings) && rings != device.ringCount) {
            device.ringCount = rings;
            events |= kEvRing;
        }
    }
    return events;
}

speed_t speedOf(uint32_t baud) {
    switch (baud) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

bool modemLines(int fd, unsigned long request, int lines) {
    return ioctl(fd, request, &lines) == 0;
}

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

} // namespace

Handle serialOpen(const char* name, const SerialOpenOptions* options, SerialOpenResult* result) {
    SerialOpenResult ignored;
    SerialOpenResult& outcome = result ? *result : ignored;
    outcome = kOpenAbsent;
    std::string path = devicePath(name);
    if (path.empty()) return nullptr;

    std::lock_guard<std::mutex> guard(openLock());
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        outcome = openFailure(errno);
        return nullptr;
    }
    outcome = kOpenHeld; // as on Windows, a device open in this process is held
    if (openDevices().count(identityOf(st))) return nullptr;

    int flags = O_RDWR | O_NOCTTY | O_NONBLOCK;
    if (!options || !options->inheritable) flags |= O_CLOEXEC;
    auto device = std::make_shared<Device>();
    device->fd = ::open(path.c_str(), flags);
    if (device->fd < 0 || ::fstat(device->fd, &st) != 0) {
        outcome = openFailure(errno);
        return nullptr;
    }
    if (openDevices().count(identityOf(st))) return nullptr;
    // Other processes: the terminal's exclusive mode, and an advisory lock that also
    // holds against privileged openers, who are not bound by exclusive mode.
    if (flock(device->fd, LOCK_EX | LOCK_NB) != 0) {
        outcome = openFailure(errno);
        return nullptr;
    }
    ioctl(device->fd, TIOCEXCL);
    makeRaw(device->fd);
    outcome = kOpenFailed; // from here on only resources can run out
    device->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (device->wakeFd < 0) return nullptr;
    device->maskFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (device->maskFd < 0) return nullptr;
    device->identity = identityOf(st);
    static std::atomic<uint64_t> opened{0};
    device->number = ++opened;

    Handle handle = devices().add(device);
    if (!handle) return nullptr;
    openDevices().insert(device->identity);
    ++opensSoFar;
    outcome = kOpenDone;
    return handle;
}

void serialClose(Handle port) {
    std::shared_ptr<Device> device = devices().remove(port);
    if (!device) return;
    if (device->waiters.load() > 0) ++closedUnderAWait;
    completeHeldRequests(device->number);
    {
        std::lock_guard<std::mutex> guard(openLock());
        openDevices().erase(device->identity);
    }
    device->closed = true;
    uint64_t one = 1;
    ssize_t ignored = ::write(device->wakeFd, &one, sizeof one);
    (void)ignored;
    int placeholder = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (placeholder >= 0) {
        flock(device->fd, LOCK_UN);
        ::dup3(placeholder, device->fd, O_CLOEXEC);
        ::close(placeholder);
    }
    // The last user still holding the device closes the descriptors.
}

bool serialSetMask(Handle port, uint32_t mask) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device) return false;
    std::lock_guard<std::mutex> guard(device->lock);
    device->mask = mask;
    if ((mask & kEvRing) && !device->ringKnown)
        device->ringKnown = readRingCount(device->fd, &device->ringCount);
    // As on Windows, a new mask completes a pending event wait with no events.
    ++device->maskChanges;
    uint64_t one = 1;
    ssize_t ignored = ::write(device->maskFd, &one, sizeof one);
    (void)ignored;
    return true;
}

bool serialSetupQueues(Handle port, uint32_t, uint32_t) {
    // The terminal layer sizes its own buffers; the request is accepted as it stands.
    return devices().find(port) != nullptr;
}

bool serialPurge(Handle port, uint32_t flags) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device) return false;
    std::lock_guard<std::mutex> guard(device->lock);
    bool ok = true;
    if (flags & kPurgeTxClear) ok = tcflush(device->fd, TCOFLUSH) == 0 && ok;
    if (flags & kPurgeRxClear) {
        ok = tcflush(device->fd, TCIFLUSH) == 0 && ok;
        // What was discarded is no arrival to report; anything after the flush is.
        device->reported = device->consumed;
    }
    // Reads and writes run on their caller's thread, so there is nothing else to abort.
    return ok;
}

bool serialSetTimeouts(Handle port, const SerialTimeouts* timeouts) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device || !timeouts) return false;
    std::lock_guard<std::mutex> guard(device->lock);
    device->timeouts = *timeouts;
    return true;
}

bool serialSetState(Handle port, const LineSettings* settings) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device || !settings) return false;
    speed_t speed = speedOf(settings->BaudRate);
    if (speed == B0 || settings->ByteSize < 5 || settings->ByteSize > 8 || settings->Parity > 4 ||
        settings->StopBits > 2)
        return false;

    termios t{};
    if (tcgetattr(device->fd, &t) != 0) return false;
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[settings->ByteSize - 5] | CLOCAL | CREAD;
    switch (settings->Parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break; // odd
    case 2:
        t.c_cflag |= PARENB;
        break; // even
    case 3:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break; // mark
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break; // space
    default:
        break;
    }
    if (settings->Parity != 0 && settings->fParity) t.c_iflag |= INPCK;
    if (settings->StopBits != 0) t.c_cflag |= CSTOPB;
    if (settings->fOutxCtsFlow) t.c_cflag |= CRTSCTS;
    // The protocols on these ports are binary: 0x11 and 0x13 are data, never flow
    // control, whatever fOutX and fInX ask for.
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(device->fd, TCSANOW, &t) != 0) return false;

    // Modem lines: enable raises, disable lowers, handshake modes are left to the driver.
    // A device without modem lines (a pseudo-terminal) refuses these; that is no failure.
    if (settings->fDtrControl == 1) modemLines(device->fd, TIOCMBIS, TIOCM_DTR);
    if (settings->fDtrControl == 0) modemLines(device->fd, TIOCMBIC, TIOCM_DTR);
    if (settings->fRtsControl == 1) modemLines(device->fd, TIOCMBIS, TIOCM_RTS);
    if (settings->fRtsControl == 0) modemLines(device->fd, TIOCMBIC, TIOCM_RTS);
    return true;
}

bool serialEscape(Handle port, uint32_t function) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device) return false;
    int fd = device->fd;
    switch (function) {
    case 1:
        return tcflow(fd, TCOOFF) == 0; // SETXOFF
    case 2:
        return tcflow(fd, TCOON) == 0; // SETXON
    case 3:
        return modemLines(fd, TIOCMBIS, TIOCM_RTS);
    case 4:
        return modemLines(fd, TIOCMBIC, TIOCM_RTS);
    case kEscapeSetDtr:
        return modemLines(fd, TIOCMBIS, TIOCM_DTR);
    case 6:
        return modemLines(fd, TIOCMBIC, TIOCM_DTR);
    case 7:
        return true; // RESETDEV: nothing to reset
    case 8:
        return ioctl(fd, TIOCSBRK) == 0;
    case 9:
        return ioctl(fd, TIOCCBRK) == 0;
    default:
        return false;
    }
}

SerialTransfer serialRead(Handle port, void* buffer, uint32_t count, uint32_t timeoutMs,
                          uint32_t* transferred) {
    if (transferred) *transferred = 0;
    std::shared_ptr<Device> device = devices().find(port);
    if (!device || (!buffer && count)) return kTransferFailed;
    if (count == 0) return kTransferDone;
    SerialTimeouts t;
    {
        std::lock_guard<std::mutex> guard(device->lock);
        t = device->timeouts;
    }
    // The device's own timeouts, as the system defines them.
    const bool atOnce =
        t.readInterval == kInfinite && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
    const bool firstByteEnds = t.readInterval == kInfinite && t.readTotalMultiplier == kInfinite &&
                               t.readTotalConstant > 0 && t.readTotalConstant < kInfinite;
    const bool useInterval = !atOnce && !firstByteEnds && t.readInterval != 0;

    Clock::time_point start = Clock::now();
    bool hasTotal = false;
    Clock::time_point total;
    if (firstByteEnds) {
        hasTotal = true;
        total = start + std::chrono::milliseconds(t.readTotalConstant);
    } else if (!atOnce && (t.readTotalMultiplier || t.readTotalConstant)) {
        hasTotal = true;
        uint64_t ms = static_cast<uint64_t>(t.readTotalMultiplier) * count + t.readTotalConstant;
        total = start + std::chrono::milliseconds(ms);
    }
    // A capped wait ends like the device's own timeout: with what has arrived.
    const uint32_t cap = detail::cappedWait(kInfinite);
    if (cap != kInfinite && !atOnce) {
        Clock::time_point capped = start + std::chrono::milliseconds(cap);
        total = hasTotal ? std::min(total, capped) : capped;
        hasTotal = true;
    }
    const bool hasLimit = timeoutMs != kInfinite;
    const Clock::time_point limit = start + std::chrono::milliseconds(timeoutMs);

    // Filled privately: a request that is given up leaves the caller's buffer alone.
    std::unique_ptr<uint8_t[]> received(new uint8_t[count]);
    uint32_t done = 0;
    Clock::time_point lastByte = start;
    bool hungUp = false;
    bool givenUp = false;
    for (;;) {
        if (device->closed.load()) return kTransferFailed;
        ssize_t n = readAvailable(*device, received.get() + done, count - done);
        if (n < 0) return kTransferFailed;
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            lastByte = Clock::now();
        } else if (hungUp) {
            return kTransferFailed; // the other end is gone and nothing more will come
        }
        if (done == count || atOnce || (firstByteEnds && done > 0)) break;
        Clock::time_point now = Clock::now();
        if (hasTotal && now >= total) break;
        Clock::time_point gap = lastByte + std::chrono::milliseconds(t.readInterval);
        if (useInterval && done > 0 && now >= gap) break;
        if (hasLimit && now >= limit) {
            givenUp = true;
            break;
        }

        Clock::time_point wake = Clock::time_point::max();
        if (hasLimit) wake = std::min(wake, limit);
        if (hasTotal) wake = std::min(wake, total);
        if (useInterval && done > 0) wake = std::min(wake, gap);
        int ready = waitReady(*device, POLLIN, wake == Clock::time_point::max() ? nullptr : &wake);
        if (ready < 0) return kTransferFailed;
        if (ready & (POLLHUP | POLLERR | POLLNVAL)) hungUp = true;
    }
    if (givenUp || completedDuringCancel(hasLimit, limit)) {
        SerialTransfer result = afterCancel(true, !givenUp, done);
        if (result != kTransferDone) return result;
    }
    std::memcpy(buffer, received.get(), done);
    if (transferred) *transferred = done;
    return kTransferDone;
}

SerialTransfer serialWrite(Handle port, const void* buffer, uint32_t count, uint32_t timeoutMs) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device || (!buffer && count)) return kTransferFailed;
    if (count == 0) return kTransferDone;
    const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
    SerialTimeouts t;
    {
        std::lock_guard<std::mutex> guard(device->lock);
        t = device->timeouts;
    }
    bool hasTotal = t.writeTotalMultiplier || t.writeTotalConstant;
    uint64_t totalMs = static_cast<uint64_t>(t.writeTotalMultiplier) * count + t.writeTotalConstant;
    Clock::time_point total = Clock::now() + std::chrono::milliseconds(totalMs);

    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        if (device->closed.load()) return kTransferFailed;
        ssize_t n = ::write(device->fd, bytes + done, count - done);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return kTransferFailed;
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        // The output queue is full. Like the system's, a write that runs past its total
        // timeout completes with what it could send; one that outlasts the caller's
        // limit has a device that no longer takes anything.
        if (hasTotal && Clock::now() >= total) return kTransferDone;
        if (Clock::now() >= limit) return afterCancel(false, false, done);
        const Clock::time_point wake = hasTotal ? std::min(total, limit) : limit;
        int ready = waitReady(*device, POLLOUT, &wake);
        if (ready < 0 || (ready & (POLLERR | POLLNVAL))) return kTransferFailed;
    }
    tcdrain(device->fd);
    if (completedDuringCancel(timeoutMs != kInfinite, limit)) return afterCancel(false, true, done);
    return kTransferDone;
}

Handle createWaitObject() {
    if (waitObjectCreationFails.load()) return nullptr;
    auto record = std::make_shared<WaitRecord>();
    record->epollFd = epoll_create1(EPOLL_CLOEXEC);
    record->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    record->finishFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (record->epollFd < 0 || record->stopFd < 0 || record->finishFd < 0) return nullptr;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.u32 = 3;
    if (epoll_ctl(record->epollFd, EPOLL_CTL_ADD, record->stopFd, &stop) != 0) return nullptr;
    return waitObjects().add(record);
}

void closeWaitObject(Handle waitObject) {
    waitObjects().remove(waitObject);
}

void finishWaiting(Handle waitObject) {
    std::shared_ptr<WaitRecord> wait = waitObjects().find(waitObject);
    if (!wait) return;
    uint64_t one = 1;
    ssize_t ignored = ::write(wait->finishFd, &one, sizeof one);
    (void)ignored;
}

bool awaitFinished(Handle waitObject, uint32_t milliseconds) {
    std::shared_ptr<WaitRecord> wait = waitObjects().find(waitObject);
    if (!wait) return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    pollfd finished{wait->finishFd, POLLIN, 0};
    for (;;) {
        const int left = static_cast<int>(std::min<int64_t>(msUntil(deadline), 1 << 30));
        const int n = ::poll(&finished, 1, left);
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

void stopWaiting(Handle waitObject) {
    std::shared_ptr<WaitRecord> wait = waitObjects().find(waitObject);
    if (!wait) return;
    wait->stopped = true;
    uint64_t one = 1;
    ssize_t ignored = ::write(wait->stopFd, &one, sizeof one);
    (void)ignored;
}

SerialWaitResult serialWaitEvent(Handle port, Handle waitObject, uint32_t* mask, uint32_t limitMs) {
    if (!mask) return kWaitFailed;
    *mask = 0;
    std::shared_ptr<WaitRecord> wait = waitObjects().find(waitObject);
    if (wait && wait->stopped.load()) return kWaitStopped;
    std::shared_ptr<Device> device = devices().find(port);
    if (!device || !wait || waitsFailAtOnce.load()) return kWaitFailed;
    std::lock_guard<std::mutex> busy(wait->inUse);
    // A stubborn driver: neither a new mask nor closing the device ends the wait.
    const bool stubborn = waitsAreStubborn.load();

    uint32_t wanted;
    bool watchRing;
    uint32_t maskChanges;
    {
        std::lock_guard<std::mutex> guard(device->lock);
        maskChanges = device->maskChanges.load();
        wanted = device->mask & (kEvRxChar | kEvRing);
        if ((wanted & kEvRing) && !device->ringKnown)
            device->ringKnown = readRingCount(device->fd, &device->ringCount);
        watchRing = (wanted & kEvRing) && device->ringKnown;
    }
    if (!wanted) return kWaitFailed;

    // Edge-triggered: one wake-up per arrival, not one per poll while input is unread.
    epoll_event in{};
    in.events = EPOLLIN | EPOLLET;
    in.data.u32 = 0;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.u32 = 1;
    if (epoll_ctl(wait->epollFd, EPOLL_CTL_ADD, device->fd, &in) != 0) return kWaitFailed;
    epoll_event masked{};
    masked.events = EPOLLIN;
    masked.data.u32 = 2;
    if (!stubborn && (epoll_ctl(wait->epollFd, EPOLL_CTL_ADD, device->wakeFd, &wake) != 0 ||
                      epoll_ctl(wait->epollFd, EPOLL_CTL_ADD, device->maskFd, &masked) != 0)) {
        epoll_ctl(wait->epollFd, EPOLL_CTL_DEL, device->fd, nullptr);
        epoll_ctl(wait->epollFd, EPOLL_CTL_DEL, device->wakeFd, nullptr);
        return kWaitFailed;
    }

    SerialWaitResult result = kWaitFailed;
    bool first = true;
    const bool limited = limitMs != kNoTimeLimit;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    Waiting waiting(*device);
    for (;;) {
        if (wait->stopped.load()) {
            result = kWaitStopped;
            break;
        }
        if (!stubborn && device->closed.load()) break;
        if (!stubborn && device->hungUp.load()) {
            // What came before the hang-up is still reported; then the wait fails.
            if (uint32_t last = takeEvents(*device, wanted)) {
                *mask = last;
                result = first ? kWaitImmediate : kWaitCompleted;
            }
            break;
        }
        if (!stubborn && device->maskChanges.load() != maskChanges) {
            result = kWaitCompleted; // with no events in the mask
            break;
        }
        uint32_t events = takeEvents(*device, wanted);
        if (events) {
            *mask = events;
            result = first ? kWaitImmediate : kWaitCompleted;
            break;
        }
        first = false;
        if (limited && Clock::now() >= deadline) {
            result = kWaitQuiet; // nothing is pending here: the next call simply waits again
            break;
        }
        int timeout = watchRing ? kRingPollMs : -1;
        if (limited) {
            const int left = static_cast<int>(std::min<int64_t>(msUntil(deadline), 1 << 30));
            timeout = timeout < 0 ? left : std::min(timeout, left);
        }
        epoll_event ready[4];
        int n = epoll_wait(wait->epollFd, ready, 4, timeout);
        if (n < 0 && errno != EINTR) break;
        bool stop = false;
        for (int i = 0; i < n; ++i) {
            if (ready[i].data.u32 == 3) continue; // stopped: tested above
            if (ready[i].data.u32 == 2) {         // the mask changed: taken, then tested above
                uint64_t count = 0;
                ssize_t ignored = ::read(device->maskFd, &count, sizeof count);
                (void)ignored;
                continue;
            }
            if (ready[i].data.u32 == 1) stop = true; // closed
            // The other end hung up: no input will come; what came before is
            // reported, then the wait fails rather than wait for nothing. A
            // stubborn driver goes on waiting, for nothing but a stop.
            else if (ready[i].events & (EPOLLHUP | EPOLLERR)) {
                device->hungUp = true;
                if (stubborn) epoll_ctl(wait->epollFd, EPOLL_CTL_DEL, device->fd, nullptr);
            }
        }
        if (stop) break; // closed
    }
    epoll_ctl(wait->epollFd, EPOLL_CTL_DEL, device->fd, nullptr);
    if (!stubborn) {
        epoll_ctl(wait->epollFd, EPOLL_CTL_DEL, device->wakeFd, nullptr);
        epoll_ctl(wait->epollFd, EPOLL_CTL_DEL, device->maskFd, nullptr);
    }
    if (stubborn && result == kWaitStopped) holdCancelledWait(*device);
    return result;
}

int serialQueuedInput(Handle port) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device) return -1;
    while (statusReadsHang.load())
        ::usleep(1000);
    int queued = 0;
    if (ioctl(device->fd, FIONREAD, &queued) != 0) return -1;
    return queued;
}

// A driver whose status request never completes: the call holds the device
// and its thread until the test releases it.
struct BlockedStatusReads {
    std::mutex lock;
    std::condition_variable released;
    bool block = false;
    int blocked = 0;
};

BlockedStatusReads& blockedStatus() {
    static auto* state = new BlockedStatusReads;
    return *state;
}

void awaitStatusRelease() {
    BlockedStatusReads& state = blockedStatus();
    std::unique_lock<std::mutex> guard(state.lock);
    if (!state.block) return;
    ++state.blocked;
    state.released.wait(guard, [&] { return !state.block; });
    --state.blocked;
}

bool serialModemStatus(Handle port, uint32_t* status) {
    std::shared_ptr<Device> device = devices().find(port);
    if (!device || !status) return false;
    awaitStatusRelease();
    int lines = 0;
    if (ioctl(device->fd, TIOCMGET, &lines) != 0) return false;
    uint32_t flags = 0;
    if (lines & TIOCM_CTS) flags |= kModemCts;
    if (lines & TIOCM_DSR) flags |= kModemDsr;
    if (lines & TIOCM_RNG) flags |= kModemRing;
    if (lines & TIOCM_CAR) flags |= kModemRlsd;
    *status = flags;
    return true;
}

namespace testing {
void failWaitObjectCreation(bool fail) {
    waitObjectCreationFails = fail;
}
void stubbornEventWaits(bool stubborn) {
    waitsAreStubborn = stubborn;
}
void lateCompletions(bool late) {
    completionsAreLate = late;
}
void blockStatusReads(bool block) {
    BlockedStatusReads& state = blockedStatus();
    std::lock_guard<std::mutex> guard(state.lock);
    state.block = block;
    if (!block) state.released.notify_all();
}
int blockedStatusReads() {
    BlockedStatusReads& state = blockedStatus();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.blocked;
}
void failEventWaitsAtOnce(bool fail) {
    waitsFailAtOnce = fail;
}
void hangStatusReads(bool hang) {
    statusReadsHang = hang;
}
int serialOpens() {
    return opensSoFar.load();
}
void pendingRequestsHoldTheirThread(bool hold, bool untilClose) {
    {
        std::lock_guard<std::mutex> guard(held().lock);
        held().mode = !hold ? Hold::none : untilClose ? Hold::untilClose : Hold::forever;
    }
    if (!hold) completeHeldRequests(0);
}
int heldRequests() {
    std::lock_guard<std::mutex> guard(held().lock);
    int count = 0;
    for (const HeldRequest& request : held().list)
        if (!request.completed) ++count;
    return count;
}
int pendingEventWaits() {
    return waitsInProgress.load();
}
int devicesClosedUnderAWait() {
    return closedUnderAWait.load();
}
int liveWaitObjects() {
    return waitObjects().live();
}
int openSerialDevices() {
    return devices().live();
}
} // namespace testing

namespace detail {
void awaitOwnRequests() {
    HeldRequests& h = held();
    const uint32_t self = currentThreadId();
    std::unique_lock<std::mutex> guard(h.lock);
    auto pending = [&] {
        for (const HeldRequest& request : h.list)
            if (request.thread == self && !request.completed) return true;
        return false;
    };
    h.changed.wait_for(guard, kThreadExitHold, [&] { return !pending(); });
    h.list.remove_if([&](const HeldRequest& r) { return r.thread == self; });
}
} // namespace detail

} // namespace plat
