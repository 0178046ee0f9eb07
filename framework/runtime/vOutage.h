// vOutage: whether a device is in an outage, so that its owner tells the host
// once when the outage begins and not again while it lasts. An outage ends
// only when the device has worked again (its owner says what that means); the
// next failure then begins a new one. Used on one thread at a time: the thread
// that watches the device.
#pragma once

class vOutage {
public:
    // A failure: true when it begins an outage, which the caller then reports.
    bool begin() {
        if (active) return false;
        active = true;
        return true;
    }
    // The device has worked again.
    void end() { active = false; }
    bool isActive() const { return active; }

private:
    bool active = false;
};
