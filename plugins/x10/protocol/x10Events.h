// The narrow interface through which the X10 port raises events: it asks its
// event source for the event node of a module and an event kind, and fires
// that node. The plug-in's vX10EventTree implements it over the event tree, and
// the plug-in hands it to the port it makes.
#pragma once

#include <cstdint>

class vAssignmentButton;

// Event kinds, from the function that was received.
constexpr int kX10EventNone = 0;
constexpr int kX10EventOn = 1;  // "Powered On"
constexpr int kX10EventOff = 2; // "Powered Off"

class vX10EventSource {
public:
    virtual ~vX10EventSource() = default;
    // The event node of the module `code` (code byte) for `kind`, or null.
    virtual vAssignmentButton* findEvent(uint8_t code, int kind) = 0;
};
