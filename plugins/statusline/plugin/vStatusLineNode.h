// vStatusLineNode: the Quillport tree node. Its worker thread polls the modem
// status lines of its port (COM3, or the one Quillport.ini beside the library
// names, read when the node is made) about once a millisecond and posts every
// change to the node's own invisible window; on the host's thread the window
// sets the matching button's `active` flag and fires the button when its line
// has just become active. When the port cannot be opened, or its status can no
// longer be read (an adapter pulled out), the poll loop opens it again every
// 2 s, and the host is told once per outage, through the window.
//
// A status read or an open can block in its driver for longer than any stop
// waits. Such a worker is left the node: `leaveToWorker` takes the node out of
// the tree and destroys its window, and the worker closes the port and frees
// the node when its call returns at last.
#pragma once

#include "descriptors/vButtonNode.h"
#include "descriptors/vGroupNode.h"
#include "platform/windows.h"
#include "runtime/vMessageWnd.h"
#include "runtime/vReopenSchedule.h"
#include "runtime/vThread.h"

#include <atomic>

// Window message posted for a line change: wParam = button index, lParam =
// the line's status flag when active, 0 when inactive.
constexpr uint32_t lineChanged = plat::kWmUser + 1;
// Window message posted when an outage of the port begins: wParam = what failed
// (vStatusLineNode::PortFailure).
constexpr uint32_t portFailed = plat::kWmUser + 2;

class vStatusLineNode : public vTreeNode, public vMessageWnd, public vThread {
public:
    static constexpr int kButtons = 4;
    static constexpr const char* kDefaultPort = "COM3";

    // What began an outage, and what the host is told of it (error report 1,304).
    enum PortFailure : uintptr_t { kOpenFailed = 0, kStatusFailed = 1 };
    static constexpr const char* kOpenFailedText = "vStatusLineNode:openComPort()";
    static constexpr int32_t kOpenFailedCode = -3; // absent, or held by another program
    static constexpr const char* kStatusFailedText = "vStatusLineNode:run()";
    static constexpr int32_t kStatusFailedCode = -4; // the modem status cannot be read
    // Told at build when Quillport.ini names no port it can use; COM3 is opened.
    static constexpr const char* kBadSettingText = "vStatusLineNode:readPortSetting()";
    static constexpr int32_t kBadSettingCode = -6;

    explicit vStatusLineNode(const char* name);
    ~vStatusLineNode() override;

    uint32_t run() override;
    intptr_t windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // For an owner whose stop of the worker returned false: what is the host's
    // goes now (the node leaves the tree, its buttons are destroyed, the window
    // too), and the worker is left the rest (the node's memory, the pacer and
    // the port), which it frees when it ends. Destroys the node at once when
    // the worker has ended meanwhile. The node is not used afterwards.
    void leaveToWorker();

    // The modem status flag each button follows, in button order.
    static uint32_t lineFlag(int index);
    vAssignmentButton* button(int index) const { return buttons[index]; }
    bool portOpen() const { return portHandle != nullptr; }

private:
    // On the worker: an outage begins with this failure, unless one is going on.
    void noteFailure(PortFailure failure);
    // On the worker: posts to the window only while the worker runs, so that
    // nothing is posted once `stop` has begun (the window is destroyed next,
    // and its handle's value may then name another window).
    bool post(plat::Window target, uint32_t message, uintptr_t wParam, intptr_t lParam);
    // On the worker, when its loop has ended: closes the port, and frees the
    // node when its owner left it to the worker.
    uint32_t finish(uint32_t result);

    // Who frees the node: its owner, unless it left the node to a worker that
    // had not ended; the one of the two that comes second does it.
    enum Fate : int { kPolling, kRunEnded, kLeftToWorker };

    vAssignmentButton* buttons[kButtons];
    char portName[16]; // what is opened, at build and at every reopen
    // Opened by the constructor; from then on the worker's, which closes a
    // failed device and opens it again.
    plat::Handle portHandle;
    plat::Handle pacer = nullptr; // the poll's, from build until the worker has ended
    vReopenSchedule schedule;     // the worker's, once it runs
    int unreported = -1;          // the worker's: a failure still to be posted to the window
    std::atomic<int> fate{kPolling};
};

// Opens the port `name` ("COM3", "\\.\COM7") exclusively for overlapped use
// with an inheritable handle (with a null DACL on the NT family); null when it
// cannot be opened.
plat::Handle openComPort(const char* name);
