// vSerialPort: a serial device opened for overlapped input and output with one
// fixed line setting (4800 baud, 8N1, no flow control, DTR and RTS raised).
// Reads and writes block the caller with fixed time limits. A watcher thread
// of idle priority waits for device events and only raises `dataPending`; a
// timer of period 0 on the host's thread sees the flag and calls `onData`,
// where a subclass reads and interprets its input. So the protocol code of a
// subclass always runs on the host's thread, never on two threads at once.
#pragma once

#include "platform/platform.h"
#include "runtime/vThread.h"
#include "runtime/vTimer.h"

#include <atomic>
#include <cstdint>

class vSerialPort : public vThread, public vTimer {
public:
    static constexpr uint32_t kEventMask = plat::kEvRxChar | plat::kEvRing;
    static constexpr uint32_t kQueueSize = 4096;
    static constexpr uint32_t kDeviceTimeoutMs = 300; // every field of the device's timeouts
    static constexpr uint32_t kReadLimitMs = 500;

    vSerialPort();
    ~vSerialPort() override;

    // The watch loop (vThread).
    uint32_t run() override;
    // Input has arrived since the last call; runs on the host's thread.
    virtual void onData();

    // When the watcher raised `dataPending`: clears it and calls `onData` if
    // received bytes are queued (vTimer).
    void onTimer(uint32_t tickCount) override;

    // Opens the named device ("com1") and starts the watcher and the timer;
    // 1 on success, 0 when the device cannot be opened. An open port is closed first.
    int32_t open(const char* name);
    // Stops the timer and the watcher, then closes the device.
    void close();
    // Reads `count` bytes, waiting at most 500 ms. 1 when the read completed, even
    // with fewer bytes (the device's own timeouts), so callers zero their buffers first.
    int32_t read(void* buffer, uint32_t count);
    // Writes `count` bytes and waits for completion; 1 on success.
    int32_t write(const void* buffer, uint32_t count);
    // Discards both queues and aborts pending transfers.
    void purge();

    bool isOpen() const { return portHandle.load() != nullptr; }
    bool isDataPending() const { return dataPending.load() != 0; }
    const plat::LineSettings& settings() const { return lineSettings; }

protected:
    // Whether one event wait of the watch loop reports input. A wait that
    // completes at once counts like one that completes later when its mask holds
    // received data or ring; otherwise input that arrived between two waits would
    // go unreported until more came.
    static bool eventCounts(int waitResult, uint32_t mask);

private:
    void fillLineSettings();

    plat::LineSettings lineSettings;
    std::atomic<plat::Handle> portHandle{nullptr};
    // Raised by the watcher and cleared by `onTimer` and `close`, under the
    // thread's mutex (close: once the watcher has ended).
    std::atomic<int32_t> dataPending{0};
};
