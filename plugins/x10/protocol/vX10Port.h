// vX10Port: the serial protocol of an X10 power-line controller (the CM11A
// computer interface) on a vSerialPort. It sends an address and an On or Off
// function as two checksummed frames, answers the controller's poll by taking
// its upload of power-line traffic and raising "Powered On" and "Powered Off"
// events for it, and answers the controller's clock request with the local
// time. Everything runs on the host's thread: sending inside the host's
// command, receiving inside `onData`; no exchange is interleaved with another.
//
// The port looks after itself through outages: an absent or failed device is
// reopened every 2 s and before a command, and the host is told once when an
// outage begins (an error report). While the controller is in an outage a
// command makes one attempt instead of ten, so that a controller without power
// does not hold the host's thread for five seconds at every command; the
// outage ends when the controller is heard from again.
//
// A line may also carry what no controller sends: noise, another device (a
// GPS receiver on the named port), macro reports. Input is drained as it comes
// and before every frame, so stray bytes never pile up or pass for a reply;
// an upload that cannot be real fires nothing; and when bytes keep coming for
// seconds with nothing sensible among them, the host is told once, until the
// next good exchange.
#pragma once

#include "protocol/x10Events.h"
#include "runtime/vReopenSchedule.h"
#include "serial/vSerialPort.h"

#include <cstdint>
#include <ctime>

class vX10Port : public vSerialPort {
public:
    // The controller's line: 4800 baud, 8 data bits, no parity, one stop bit.
    static constexpr LineSetting kLine{4800, 8, 0, 0};

    // Attempts per frame before it is given up; a poll or clock request served
    // while a frame waits for its checksum counts as one.
    static constexpr int kAttempts = 10;
    // Reads of the size byte after a poll answer before the poll is abandoned.
    static constexpr int kPollReads = 10;
    // Reads of at most 500 ms for the ready byte after an acknowledgement: two,
    // so that a controller on 50 Hz mains is waited for and a silent one given
    // up after a second.
    static constexpr int kReadyReads = 2;
    // The upload buffer: a size byte of up to 255 (mask and data bytes) would
    // fit; the drain of an upload out of step reads blocks of this size.
    static constexpr uint32_t kUploadBufferSize = 256;
    static constexpr uint32_t kClockReplyWaitMs = 1000;

    // What the host is told when an outage begins (error report 1,304).
    static constexpr const char* kOpenFailedText = "vX10Port:open()";
    static constexpr int32_t kOpenFailedCode = -3; // the port is absent or held elsewhere
    static constexpr const char* kDeviceFailedText = "vX10Port:onDeviceFailed()";
    static constexpr int32_t kDeviceFailedCode = -4; // the open device failed
    static constexpr const char* kSilentText = "vX10Port:transact()";
    static constexpr int32_t kSilentCode = -5; // the controller answered no attempt
    static constexpr const char* kForeignText = "vX10Port:onData()";
    static constexpr int32_t kForeignCode = -7; // bytes that no controller sends, for seconds
    // Stray bytes, with no gap longer than kStrayGapMs between them, for
    // kForeignMs and no good exchange meanwhile: another device on the port.
    static constexpr uint32_t kForeignMs = 3000;
    static constexpr uint32_t kStrayGapMs = 2000;
    // Reads of the upload buffer's size that drain the rest of an upload that
    // cannot be real (each ends at a pause of the line or after 500 ms).
    static constexpr int kDrainReads = 2;
    // Macro reports skipped while one reply is awaited.
    static constexpr int kMacrosPerReply = 4;
    // How long the line must stay quiet after an upload for it to count: a USB
    // adapter may hold what it received for up to 16 ms before handing it on.
    static constexpr uint32_t kUploadQuietMs = 20;
    // Polls answered in one go when the controller polls again right after its
    // upload.
    static constexpr int kPollsPerCall = 4;

    // The local broken-down time that the clock answer carries.
    using LocalTimeSource = std::tm (*)();
    static std::tm systemLocalTime();

    // Events reported from the power line are raised in `events`, which
    // outlives the port.
    explicit vX10Port(vX10EventSource& events);
    ~vX10Port() override;

    // Takes what is queued, without waiting on an empty queue: a poll or a
    // clock request among it is served, a macro report skipped, the rest dropped.
    void onData() override;
    // Answers a poll with 0xC3 and decodes the upload that follows. An upload
    // whose size byte is above 9 (or 0), or that other bytes follow at once, is
    // out of step: it and the rest of its burst are dropped.
    virtual void answerPoll();
    // data[0] is the function/address mask, data[1] to data[count - 1] the data
    // bytes; raises the events of the On and Off functions among them. Reads no
    // more than `count` bytes, and never more than the upload buffer holds.
    virtual void decodeBuffer(const uint8_t* data, uint32_t count);

    // Sends the address frame of `code` and then the function frame; 1 when the
    // controller accepted both.
    int32_t sendCommand(uint8_t function, uint8_t dims, uint8_t code);
    // Sends the function frame for `house` (high nibble); 1 when accepted.
    int32_t sendFunction(uint8_t function, uint8_t dims, uint8_t house);
    // Sends a frame until the controller returns its checksum (at most
    // kAttempts times), then acknowledges it; 1 when accepted.
    int32_t transact(const uint8_t* frame, uint32_t length);
    // Sends the clock-setting frame and takes the controller's checksum.
    void sendClock();

    // The address frame for `code`. Its header is 0x04 unless the checksum would
    // read as a poll, a clock request or a macro report (G1, D3, D5, G9); those
    // go with 0x0C, whose
    // dim field an address frame ignores.
    static void buildAddressFrame(uint8_t code, uint8_t frame[2]);
    // The 7-byte clock-setting frame for the local time `local`.
    static void buildClockFrame(const std::tm& local, uint8_t frame[7]);

    // Where sendClock takes the time from; null restores the system's local time.
    void setLocalTimeSource(LocalTimeSource source);

    // Whether the controller is in an outage: absent, failed or silent, and not
    // heard from since.
    bool inOutage() const { return schedule.inOutage(); }

protected:
    void onOpenFailed() override;
    void onDeviceFailed() override;

private:
    // The address frame of `code`, then the function frame.
    int32_t sendFrames(uint8_t function, uint8_t dims, uint8_t code);
    // A read whose every byte counts as the controller heard from; *got tells
    // how many came.
    int32_t receive(void* buffer, uint32_t count, uint32_t* got = nullptr);
    // Attempts a frame gets now: one while in an outage.
    int attemptsAllowed() const;
    void beginOutage(const char* text, int32_t code);
    // Serves the requests among the queued input and drops the rest.
    void serveQueued();
    // Serves `byte` when it is a poll, a clock request or a macro report.
    bool serveRequest(uint8_t byte);
    // One reply byte, past any macro reports; how many bytes came (0 or 1).
    uint32_t readReply(uint8_t* byte);
    // The two address bytes after a macro report.
    void skipMacroAddress();
    // One poll answered and its upload decoded; true when the controller
    // polled again right after it.
    bool takeUpload();
    // The byte that follows an upload within kUploadQuietMs, if any.
    bool byteRightAfter(uint8_t* byte);
    // Drops the rest of a burst that is out of step.
    void drainBurst();
    // A byte, or an upload, that makes no sense here.
    void heardStray();
    // A frame taken or an upload decoded: whatever talks is a controller.
    void exchangeWorked();

    vX10EventSource& events;
    LocalTimeSource localTime = &vX10Port::systemLocalTime;
    vReopenSchedule schedule; // its period is the port's reopen period
    // The current run of stray bytes, and whether the host heard of it.
    bool strayRun = false;
    bool strayTold = false;
    uint32_t strayStart = 0;
    uint32_t strayLast = 0;
};
