// vSerialPort: a serial device opened for overlapped input and output, at the
// speed and framing its subclass gives (the line its protocol speaks); the rest
// of the setting is the port's own: a binary line without flow control of any
// kind, DTR and RTS raised.
// Reads and writes block the caller with fixed time limits. A watcher thread
// of idle priority waits for device events and only raises `dataPending`; a
// timer of period 0 on the host's thread sees the flag and calls `onData`,
// where a subclass reads and interprets its input. So the protocol code of a
// subclass always runs on the host's thread, never on two threads at once.
// A port can be told to reopen its device by itself after the device was
// absent or failed (a USB adapter pulled out and plugged back in).
#pragma once

#include "platform/clock.h"
#include "platform/serial.h"
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
    // A write ends by the device's own timeouts (300 ms, and 300 ms a byte);
    // one that outlasts them by this much is given up (it fails, the device
    // does not: only an error from the driver, or no answer to the watcher's
    // check, makes a failed device).
    static constexpr uint32_t kWriteSlackMs = 2000;
    static constexpr uint32_t kMaxNameLength = 63;
    // How often a port that reopens its device asks after it while it is open.
    static constexpr uint32_t kCheckPeriodMs = 500;
    // At close: how long the watcher is given to be done with the device (it
    // gives a cancel that does not settle 1 s), and then to end.
    static constexpr uint32_t kFinishWaitMs = 1500;
    static constexpr uint32_t kEndWaitMs = 500;

    // The speed and framing of the line, in the device's own terms.
    struct LineSetting {
        uint32_t baudRate;
        uint8_t byteSize;
        uint8_t parity;   // 0: none, 1: odd, 2: even
        uint8_t stopBits; // 0: one, 1: one and a half, 2: two
    };

    explicit vSerialPort(const LineSetting& line);
    ~vSerialPort() override;

    // The watch loop (vThread).
    uint32_t run() override;
    // Input has arrived since the last call; runs on the host's thread.
    virtual void onData();

    // While open: a failed device is closed (and reopened, see setReopenPeriod;
    // the watcher of such a port also asks after its device every 500 ms);
    // otherwise, when the watcher raised `dataPending`, clears
    // it and calls `onData` if received bytes are queued. While closed with a
    // reopen period: an attempt to open the device again (vTimer).
    void onTimer(uint32_t tickCount) override;

    // Opens the named device ("com1") and starts the watcher and the timer;
    // 1 on success, 0 when the device cannot be opened. An open port is closed first.
    int32_t open(const char* name);
    // Stops the timer and the watcher, then closes the device, for good: no reopening.
    void close();
    // Reads `count` bytes, waiting at most 500 ms. 1 when the read completed, even
    // with fewer bytes (the device's own timeouts, or the 500 ms limit after some
    // came), so callers zero their buffers first; *received tells how many came.
    int32_t read(void* buffer, uint32_t count, uint32_t* received = nullptr);
    // Writes `count` bytes and waits for completion; 1 on success.
    int32_t write(const void* buffer, uint32_t count);
    // Discards both queues and aborts pending transfers.
    void purge();

    // With a period, a device that could not be opened, or that failed once
    // open (a read, a write or the watcher's event wait reported an error, or it
    // no longer answers), is closed and opened again at once and then every
    // `periodMs`, on the host's thread through the port's timer, until it opens.
    // A device whose first event wait fails (a driver that refuses the mask
    // or the wait) is not opened again before a period from its opening.
    // 0 (the default): the port stays as its owner left it.
    void setReopenPeriod(uint32_t periodMs) { reopenPeriod = periodMs; }
    // What the timer would try next, now: a failed device is closed, a closed
    // port with a device name is opened again (unless its device failed at its
    // first event wait, less than a period ago). True when the port is open and sound.
    bool reopenNow();

    bool isOpen() const { return portHandle.load() != nullptr; }
    // Bytes received and not yet read, without waiting; 0 when closed or unknown.
    uint32_t queuedInput() const;
    // An error on the open device, not yet handled by closing it.
    bool hasFailed() const { return failure.load() != 0; }
    bool isDataPending() const { return dataPending.load() != 0; }
    const plat::LineSettings& settings() const { return lineSettings; }
    // False while the driver refuses the watcher's event wait: from a first
    // wait that failed until a wait of a later open works. Bytes that a
    // transfer brings meanwhile do not show the device sound, since it fails
    // again as soon as it is watched.
    bool watchWorks() const { return waitRefused.load() == 0; }

protected:
    // Whether one event wait of the watch loop reports input. A wait that
    // completes at once counts like one that completes later when its mask holds
    // received data or ring; otherwise input that arrived between two waits would
    // go unreported until more came.
    static bool eventCounts(int waitResult, uint32_t mask);

    // On the host's thread. The device could not be opened (also each failed reopen).
    virtual void onOpenFailed();
    // The open device failed and has been closed; with a reopen period it is
    // opened again later.
    virtual void onDeviceFailed();

private:
    void fillLineSettings(const LineSetting& line);
    // Has the watcher done with the device, whatever the driver does with its
    // pending event wait, closes the device, then lets the watcher end.
    void closeDevice();
    void failDevice();
    void awaitReopen();
    bool holdsOff() const;

    plat::LineSettings lineSettings;
    std::atomic<plat::Handle> portHandle{nullptr};
    // Raised by the watcher and cleared by `onTimer` and `close`, under the
    // thread's mutex (close: once the watcher has ended).
    std::atomic<int32_t> dataPending{0};
    // Raised by a failed transfer on the host's thread or a failed event wait on
    // the watcher; cleared when the device is closed.
    std::atomic<int32_t> failure{0};
    // The watcher's wait object: made by `open`, released once the watcher ended.
    plat::Handle waitObject = nullptr;
    char deviceName[kMaxNameLength + 1] = {};
    uint32_t reopenPeriod = 0;
    uint32_t openedAt = 0; // tick count of the last open that succeeded
    // Raised by the watcher when its first event wait failed.
    std::atomic<int32_t> failedAtOnce{0};
    // The same, kept across reopens until a wait works (watchWorks).
    std::atomic<int32_t> waitRefused{0};
    // Set when such a device was closed: no open before `openedAt` + `reopenPeriod`.
    bool holdingOff = false;
};
