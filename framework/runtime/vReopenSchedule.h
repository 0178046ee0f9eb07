// vReopenSchedule: how the owner of a device that can go away (an adapter
// pulled out, a port held by another program, a controller without power)
// gets it back, and what the host hears meanwhile. A device that could not be
// opened, or that failed, is opened again every 2 s until it opens, and the
// host is told once when an outage begins, not at every failed attempt. An
// outage ends only when the device has worked again (its owner says what that
// means); the next failure then begins a new one.
//
// An owner that looks after its device on the host's thread makes its
// attempts from a timer of period `kPeriodMs` (vSerialPort::setReopenPeriod);
// one that polls its device on a worker asks `due` in its loop. A schedule is
// used on one thread at a time: the one that handles the device.
#pragma once

#include <cstdint>

class vReopenSchedule {
public:
    static constexpr uint32_t kPeriodMs = 2000;

    // A failure: true when it begins an outage, which the caller then reports.
    bool failed() {
        if (active) return false;
        active = true;
        return true;
    }
    // The device has worked again: the outage, if any, is over.
    void worked() { active = false; }
    bool inOutage() const { return active; }

    // For a polling owner: the next attempt is due a period after tick `now`
    // (the last attempt, or the failure of an open device).
    void wait(uint32_t now) { lastTry = now; }
    bool due(uint32_t now) const { return now - lastTry >= kPeriodMs; }

private:
    bool active = false;
    uint32_t lastTry = 0;
};
