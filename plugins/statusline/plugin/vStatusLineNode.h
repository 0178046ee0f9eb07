// vStatusLineNode: the Quillport tree node. Its worker thread polls the modem
// status lines of COM3 about once a millisecond and posts every change to the
// node's own invisible window; on the host's thread the window sets the
// matching button's `active` flag and fires the button when its line has just
// become active.
#pragma once

#include "descriptors/vButtonNode.h"
#include "descriptors/vGroupNode.h"
#include "runtime/vMessageWnd.h"
#include "runtime/vThread.h"

// Window message posted for a line change: wParam = button index, lParam =
// the line's status flag when active, 0 when inactive.
constexpr uint32_t lineChanged = plat::kWmUser + 1;

class vStatusLineNode : public vTreeNode, public vMessageWnd, public vThread {
public:
    static constexpr int kButtons = 4;
    static constexpr int kComPort = 3;

    explicit vStatusLineNode(const char* name);
    ~vStatusLineNode() override;

    uint32_t run() override;
    intptr_t windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // The modem status flag each button follows, in button order.
    static uint32_t lineFlag(int index);
    vAssignmentButton* button(int index) const { return buttons[index]; }
    bool portOpen() const { return portHandle != nullptr; }

private:
    vAssignmentButton* buttons[kButtons];
    plat::Handle portHandle;
};

// Opens "COM<number>" exclusively for overlapped use with an inheritable
// handle (with a null DACL on the NT family); null when it cannot be opened.
plat::Handle openComPort(int number);
