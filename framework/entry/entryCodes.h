// The numbers of the entry record that both sides name: the categories, the
// plug-in operations, the requests a plug-in sends its host, the codes of its
// node notifications, the node commands the plug-ins answer, and the observer
// events with their names and what their arguments carry. The plug-ins' entry
// and call-outs and kvq-host take them from here, so that each number is
// written once. The node and value operation codes stay beside their dispatch
// (entry/nodeOperations.cpp, entry/valueOperations.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

// ---- categories (the record's 16-bit `category`)
constexpr uint16_t kCategoryPlugin = 1;    // the plug-in as a whole; also the host requests
constexpr uint16_t kCategoryNode = 2;      // a node of the tree; also node commands to the host
constexpr uint16_t kCategoryObserver = 3;  // an observer of a node, in both directions
constexpr uint16_t kCategoryValue = 4;     // one value, normally an attribute
constexpr uint16_t kCategoryShortName = 5; // the short-name report, plug-in to host only
constexpr uint16_t kCategoryExtension = 7; // forwarding to an extension object

// ---- plug-in operations (category 1, host to plug-in)
constexpr int32_t kPluginAttach = 1; // object = host entry, A0 = context, A2 = module instance
constexpr int32_t kPluginDetach = 2;
constexpr int32_t kPluginOperation6 = 6;
constexpr int32_t kPluginObject = 7;
constexpr int32_t kPluginName = 9;
constexpr int32_t kPluginBuild = 10;
constexpr int32_t kPluginRoot = 11;
constexpr int32_t kPluginIdentification = 12;
constexpr int32_t kPluginRecordSize = 30;
constexpr int32_t kPluginSetHostData = 300;
constexpr int32_t kPluginHostData = 301;

// ---- requests a plug-in sends the host
constexpr int32_t kRequestUnloadNotice = 2;  // (1,2): object = module instance
constexpr int32_t kRequestHostSource = 11;   // (1,11): object = H; result word S
constexpr int32_t kRequestHostTarget = 207;  // (1,207): result word H
constexpr int32_t kRequestReportError = 304; // (1,304): object = text, A0 = code
constexpr int32_t kRequestShortName = 112;   // (5,112): object = node, A0 = text, A2 = code

// ---- node and value operations: 1 to these counts (categories 2 and 4)
constexpr uint32_t kNodeOperationCount = 112;
constexpr uint32_t kValueOperationCount = 25;

// ---- the node operations that travel in both directions (category 2)
constexpr int32_t kNodeDestroy = 1;
// A0 = a handle, A2-A3 = the 64-bit command code, A4-A5 and A6-A7 = two 64-bit
// parameters; a 64-bit result.
constexpr int32_t kNodeCommand = 2;

// Codes of the node commands a plug-in sends the host about a button.
constexpr uint32_t kCodeFired = 321;    // its event happened
constexpr uint32_t kCodeAnnounce = 322; // it announces itself
constexpr uint32_t kCodeAnswer = 323;   // it answers the host's press (command 1)

// Codes of the host's node commands that the plug-ins answer.
constexpr uint32_t kCommandPress = 1;       // a button: answered with kCodeAnswer
constexpr uint32_t kCommandShortName = 288; // an X10 unit: the short-name report
constexpr uint32_t kCommandInvoke = 289;    // a function node: `invoke`
constexpr uint32_t kCommand290 = 290;       // a function node: `onCommand290`

// ---- observers (category 3)
constexpr int32_t kObserverCreate = -1; // host to plug-in: object = node, A0 = host observer
constexpr int32_t kObserverDestroy = 1; // host to plug-in

// The events, in both directions: the host's calls of a plug-in observer and
// the proxies' requests to the host observer.
constexpr int32_t kEventNodeDestroyed = 2;
constexpr int32_t kEventNameChanged = 3;
constexpr int32_t kEventLabelChanged = 4;
constexpr int32_t kEventValueChanged = 5;
constexpr int32_t kEventAttributeAdded = 6;
constexpr int32_t kEventAttributeRemoved = 7;
constexpr int32_t kEventAttributeChanged = 8;
constexpr int32_t kEventAttributeMoved = 9;
constexpr int32_t kEventChildAdded = 10;
constexpr int32_t kEventChildRemoved = 11;
constexpr int32_t kEventChildMoved = 12;
constexpr int32_t kEventFlag0Changed = 13;
constexpr int32_t kEventFlag1Changed = 14;
constexpr int32_t kEventFlag2Changed = 15;
constexpr int32_t kEventActiveChanged = 16;
constexpr int32_t kEventFlag24Changed = 17;
constexpr int32_t kEventFlag26Changed = 18;
constexpr int32_t kEventFlag25Changed = 19;
constexpr int32_t kEventLockedChanged = 20;

// What A0 of an event carries; `before` events carry the item before in A2.
enum class EventArgument { None, Text, Value, Attribute, Child, Bit };

struct ObserverEvent {
    int32_t operation;
    const char* name;
    EventArgument argument;
    bool before;
};

inline constexpr ObserverEvent kObserverEvents[] = {
    {kEventNodeDestroyed, "nodeDestroyed", EventArgument::None, false},
    {kEventNameChanged, "nameChanged", EventArgument::Text, false},
    {kEventLabelChanged, "labelChanged", EventArgument::Text, false},
    {kEventValueChanged, "valueChanged", EventArgument::Value, false},
    {kEventAttributeAdded, "attributeAdded", EventArgument::Attribute, true},
    {kEventAttributeRemoved, "attributeRemoved", EventArgument::Attribute, false},
    {kEventAttributeChanged, "attributeChanged", EventArgument::Attribute, false},
    {kEventAttributeMoved, "attributeMoved", EventArgument::Attribute, true},
    {kEventChildAdded, "childAdded", EventArgument::Child, true},
    {kEventChildRemoved, "childRemoved", EventArgument::Child, false},
    {kEventChildMoved, "childMoved", EventArgument::Child, true},
    {kEventFlag0Changed, "flag0Changed", EventArgument::Bit, false},
    {kEventFlag1Changed, "flag1Changed", EventArgument::Bit, false},
    {kEventFlag2Changed, "flag2Changed", EventArgument::Bit, false},
    {kEventActiveChanged, "activeChanged", EventArgument::Bit, false},
    {kEventFlag24Changed, "flag24Changed", EventArgument::Bit, false},
    {kEventFlag26Changed, "flag26Changed", EventArgument::Bit, false},
    {kEventFlag25Changed, "flag25Changed", EventArgument::Bit, false},
    {kEventLockedChanged, "lockedChanged", EventArgument::Bit, false},
};
constexpr size_t kObserverEventCount = sizeof kObserverEvents / sizeof kObserverEvents[0];

// The observer operations the entry knows: destroy, then the events.
constexpr int32_t kLastObserverOperation =
    kEventNodeDestroyed + static_cast<int32_t>(kObserverEventCount) - 1;

// The table runs through the operation numbers in order, without a gap.
constexpr bool observerEventsInOrder() {
    for (size_t i = 0; i < kObserverEventCount; ++i)
        if (kObserverEvents[i].operation != kEventNodeDestroyed + static_cast<int32_t>(i))
            return false;
    return kLastObserverOperation == kEventLockedChanged;
}
static_assert(observerEventsInOrder(), "kObserverEvents lists operations 2..20 in order");

// The event of an observer operation; null for anything but 2..20.
inline const ObserverEvent* observerEvent(int32_t operation) {
    if (operation < kEventNodeDestroyed || operation > kLastObserverOperation) return nullptr;
    return &kObserverEvents[operation - kEventNodeDestroyed];
}
