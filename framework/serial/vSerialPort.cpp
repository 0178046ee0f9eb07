#include "serial/vSerialPort.h"

#include <cstring>

vSerialPort::vSerialPort() : vThread(0), vTimer(0, 0) {
    std::memset(&lineSettings, 0, sizeof lineSettings);
    lineSettings.DCBlength = sizeof lineSettings;
}

vSerialPort::~vSerialPort() {
    close();
}

void vSerialPort::onData() {}

int32_t vSerialPort::open(const char* name) {
    if (isOpen()) close();
    plat::Handle handle = plat::serialOpen(name, nullptr);
    if (handle == nullptr) return 0;
    portHandle.store(handle);

    // Once the device is open, the port is usable whatever the settings calls say.
    plat::serialSetMask(handle, kEventMask);
    plat::serialSetupQueues(handle, kQueueSize, kQueueSize);
    purge();
    plat::SerialTimeouts timeouts{kDeviceTimeoutMs, kDeviceTimeoutMs, kDeviceTimeoutMs,
                                  kDeviceTimeoutMs, kDeviceTimeoutMs};
    plat::serialSetTimeouts(handle, &timeouts);
    fillLineSettings();
    plat::serialSetState(handle, &lineSettings);
    plat::serialEscape(handle, plat::kEscapeSetDtr);

    vThread::start(plat::kThreadPriorityIdle);
    vTimer::start();
    return 1;
}

// The protocols on this port are binary: 0x11 and 0x13 are data like any other
// byte, so XON/XOFF flow control stays off in both directions.
void vSerialPort::fillLineSettings() {
    plat::LineSettings& s = lineSettings;
    s.BaudRate = 4800;
    s.ByteSize = 8;
    s.Parity = 0;   // none
    s.StopBits = 0; // one
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
    plat::Handle handle = portHandle.load();
    if (handle == nullptr) return;
    vTimer::stop();
    // The watcher ends before the device closes. Told to stop, its pending
    // event wait completed by an empty event mask, it is awaited; only then is
    // the handle closed. Closed first, the handle's value could soon name
    // another program's object, on which the watcher would wait instead, and a
    // driver need not end a wait whose handle another thread closes.
    vThread::signalStop();
    plat::serialSetMask(handle, 0);
    vThread::stop();
    dataPending.store(0); // the wait completed by the empty mask counts for nothing
    portHandle.store(nullptr);
    plat::serialClose(handle);
}

int32_t vSerialPort::read(void* buffer, uint32_t count) {
    plat::Handle handle = portHandle.load();
    if (handle == nullptr) return 0;
    return plat::serialRead(handle, buffer, count, kReadLimitMs);
}

int32_t vSerialPort::write(const void* buffer, uint32_t count) {
    plat::Handle handle = portHandle.load();
    if (handle == nullptr) return 0;
    return plat::serialWrite(handle, buffer, count);
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
    // The device this watcher was started for; it outlives the watcher.
    const plat::Handle device = portHandle.load();
    plat::Handle waitObject = plat::createWaitObject();
    if (waitObject == nullptr) return 0;
    while (isRunning()) {
        uint32_t mask = 0;
        int result = plat::serialWaitEvent(device, waitObject, &mask);
        if (eventCounts(result, mask) && dataPending.load() == 0) {
            lock();
            dataPending.store(1);
            unlock();
        }
        plat::sleep(1);
    }
    plat::closeWaitObject(waitObject);
    return 0;
}

void vSerialPort::onTimer(uint32_t) {
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
