#include "serial/vSerialPort.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/threads.h"

#include <cstring>

vSerialPort::vSerialPort(const LineSetting& line) : vThread(0), vTimer(0, 0) {
    fillLineSettings(line);
}

vSerialPort::~vSerialPort() {
    close();
}

void vSerialPort::onData() {}
void vSerialPort::onOpenFailed() {}
void vSerialPort::onDeviceFailed() {}

int32_t vSerialPort::open(const char* name) {
    if (isOpen()) closeDevice();
    if (name == nullptr || std::strlen(name) > kMaxNameLength) return 0;
    if (name != deviceName) std::strcpy(deviceName, name);
    plat::Handle handle = plat::serialOpen(name, nullptr);
    if (handle == nullptr) {
        if (reopenPeriod != 0) awaitReopen();
        onOpenFailed();
        return 0;
    }
    failure.store(0);
    portHandle.store(handle);
    openedAt = plat::tickCount();
    holdingOff = false;
    failedAtOnce.store(0);

    // Once the device is open, the port is usable whatever the settings calls say.
    plat::serialSetMask(handle, kEventMask);
    plat::serialSetupQueues(handle, kQueueSize, kQueueSize);
    purge();
    plat::SerialTimeouts timeouts{kDeviceTimeoutMs, kDeviceTimeoutMs, kDeviceTimeoutMs,
                                  kDeviceTimeoutMs, kDeviceTimeoutMs};
    plat::serialSetTimeouts(handle, &timeouts);
    plat::serialSetState(handle, &lineSettings);
    plat::serialEscape(handle, plat::kEscapeSetDtr);

    // Without its wait object the watcher ends at once and nothing is reported.
    waitObject = plat::createWaitObject();
    vThread::start(plat::kThreadPriorityIdle);
    vTimer::setPeriod(0);
    vTimer::start();
    return 1;
}

// The protocols on this port are binary: 0x11 and 0x13 are data like any other
// byte, so XON/XOFF flow control stays off in both directions.
void vSerialPort::fillLineSettings(const LineSetting& line) {
    plat::LineSettings& s = lineSettings;
    std::memset(&s, 0, sizeof s);
    s.DCBlength = sizeof s;
    s.BaudRate = line.baudRate;
    s.ByteSize = line.byteSize;
    s.Parity = line.parity;
    s.StopBits = line.stopBits;
    s.fBinary = 1;
    s.fParity = 1;
    s.fOutxCtsFlow = 0;
    s.fOutxDsrFlow = 0;
    s.fDtrControl = 1; // enable
    s.fDsrSensitivity = 0;
    s.fTXContinueOnXoff = 0;
    s.fOutX = 0;
    s.fInX = 0;
    s.fErrorChar = 0;
    s.fNull = 0;
    s.fAbortOnError = 0;
    s.fRtsControl = 1; // enable
    s.XonLim = 100;
    s.XoffLim = 100;
    s.XonChar = 0x11;
    s.XoffChar = 0x13;
    s.ErrorChar = 0;
    s.EofChar = 0;
    s.EvtChar = 0;
}

void vSerialPort::close() {
    closeDevice();
    vTimer::stop(); // no reopening either
    deviceName[0] = '\0';
}

void vSerialPort::closeDevice() {
    plat::Handle handle = portHandle.load();
    if (handle == nullptr) return;
    vTimer::stop();
    // The watcher is told to stop through its wait object, which ends its
    // event wait whatever the driver does (some keep a wait pending after
    // their device was pulled out, even when the mask changes); the empty mask
    // is for the drivers that need it. It cancels its own request (on XP only
    // the thread that issued it can), gives the cancel a bounded settle and
    // says when it is done with the device; only then is the device closed:
    // closed first, the handle's value could soon name another object, on
    // which the watcher would wait instead.
    vThread::signalStop();
    plat::stopWaiting(waitObject);
    plat::serialSetMask(handle, 0);
    bool finished = false;
    if (vThread::isStarted() && waitObject != nullptr) {
        vThread::start(plat::kThreadPriorityNormal); // a started worker: its priority only
        finished = plat::awaitFinished(waitObject, kFinishWaitMs);
    }
    portHandle.store(nullptr);
    // Closing lets many drivers complete a request they would not cancel, and
    // the system holds a thread in its exit until its requests completed: so
    // the watcher's end is awaited only now, and briefly, since it is past
    // everything it shares with the port.
    plat::serialClose(handle);
    if (finished) {
        vThread::stopEnded(kEndWaitMs);
        plat::closeWaitObject(waitObject);
    } else if (vThread::stop()) {
        plat::closeWaitObject(waitObject);
    } // else a watcher that has not ended may still use its wait object: it stays
    waitObject = nullptr;
    dataPending.store(0); // the wait completed by the empty mask counts for nothing
    failure.store(0);
}

// A device may be back by the time its failure shows (a watcher that saw
// nothing, a device plugged back quickly): it is tried again at once, then
// every period. One whose first event wait failed would only fail again:
// opened and closed without pause, it would keep the host's thread busy
// with opens and never notice input; it waits a period first.
void vSerialPort::failDevice() {
    const bool atOnce = failedAtOnce.load() != 0;
    closeDevice();
    onDeviceFailed();
    if (reopenPeriod == 0 || deviceName[0] == '\0') return;
    if (!atOnce) {
        open(deviceName);
        return;
    }
    holdingOff = true;
    awaitReopen();
}

bool vSerialPort::holdsOff() const {
    return holdingOff && plat::tickCount() - openedAt < reopenPeriod;
}

void vSerialPort::awaitReopen() {
    vTimer::setPeriod(reopenPeriod);
    vTimer::start();
}

bool vSerialPort::reopenNow() {
    if (isOpen() && !hasFailed()) return true;
    if (isOpen()) {
        failDevice();
        return isOpen();
    }
    if (deviceName[0] == '\0' || holdsOff()) return false;
    return open(deviceName) != 0;
}

int32_t vSerialPort::read(void* buffer, uint32_t count, uint32_t* received) {
    if (received != nullptr) *received = 0;
    plat::Handle handle = portHandle.load();
    // A failed device is not waited for again: its next read fails as well.
    if (handle == nullptr || hasFailed()) return 0;
    plat::SerialTransfer result = plat::serialRead(handle, buffer, count, kReadLimitMs, received);
    if (result == plat::kTransferFailed) failure.store(1);
    return result == plat::kTransferDone ? 1 : 0;
}

int32_t vSerialPort::write(const void* buffer, uint32_t count) {
    plat::Handle handle = portHandle.load();
    if (handle == nullptr || hasFailed()) return 0;
    const uint32_t limit = kDeviceTimeoutMs + kDeviceTimeoutMs * count + kWriteSlackMs;
    plat::SerialTransfer result = plat::serialWrite(handle, buffer, count, limit);
    if (result == plat::kTransferFailed) failure.store(1);
    return result == plat::kTransferDone ? 1 : 0;
}

uint32_t vSerialPort::queuedInput() const {
    plat::Handle handle = portHandle.load();
    if (handle == nullptr || hasFailed()) return 0;
    const int queued = plat::serialQueuedInput(handle);
    return queued > 0 ? static_cast<uint32_t>(queued) : 0;
}

void vSerialPort::purge() {
    plat::Handle handle = portHandle.load();
    if (handle != nullptr) plat::serialPurge(handle, plat::kPurgeAll);
}

bool vSerialPort::eventCounts(int waitResult, uint32_t mask) {
    if (waitResult == plat::kWaitCompleted) return true;
    if (waitResult == plat::kWaitImmediate) return (mask & kEventMask) != 0;
    return false;
}

uint32_t vSerialPort::run() {
    // The device and wait object this watcher was started with; both outlive it.
    const plat::Handle device = portHandle.load();
    const plat::Handle wait = waitObject;
    if (wait == nullptr) return 0;
    // A device pulled out fails every call on its handle, but some drivers
    // never end a pending event wait, and with no traffic nothing else would
    // ask. So a port that reopens its device has the watcher ask after it
    // every period, between its waits (the wait stays pending), with a call
    // that every serial driver answers while its device is there: a call
    // without a time limit, kept off the host's thread.
    const uint32_t limit = reopenPeriod != 0 ? kCheckPeriodMs : plat::kNoTimeLimit;
    for (bool first = true; isRunning(); first = false) {
        uint32_t mask = 0;
        plat::SerialWaitResult result = plat::serialWaitEvent(device, wait, &mask, limit);
        if (result == plat::kWaitStopped) break;
        if (result != plat::kWaitFailed) waitRefused.store(0);
        if (result == plat::kWaitQuiet) {
            if (plat::serialQueuedInput(device) < 0 && isRunning()) {
                failure.store(1); // no longer there: the host's thread closes it
                break;
            }
            continue;
        }
        if (result == plat::kWaitFailed && isRunning()) {
            // The device failed (pulled out, say): the host's thread closes it.
            if (first) {
                failedAtOnce.store(1);
                waitRefused.store(1);
            }
            failure.store(1);
            break;
        }
        if (eventCounts(result, mask) && dataPending.load() == 0) {
            lock();
            dataPending.store(1);
            unlock();
        }
        plat::sleep(1);
    }
    plat::finishWaiting(wait); // the last use of the device and of the wait object
    return 0;
}

void vSerialPort::onTimer(uint32_t) {
    if (!isOpen()) {
        // The timer keeps the period itself, within its own precision.
        holdingOff = false;
        if (reopenPeriod != 0) reopenNow();
        return;
    }
    if (hasFailed()) {
        failDevice();
        return;
    }
    if (dataPending.load() == 0) return;
    // Taken down before the queue is looked at, so that input arriving from
    // here on raises it again.
    lock();
    dataPending.store(0);
    unlock();
    // The watcher also wakes for bytes that the port's own exchanges read (a
    // command's checksum and ready bytes): with nothing queued there is no new
    // input, and onData would only wait out its read on a silent line.
    plat::Handle handle = portHandle.load();
    if (handle != nullptr && plat::serialQueuedInput(handle) == 0) return;
    onData();
}
