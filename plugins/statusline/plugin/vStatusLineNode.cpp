#include "plugin/vStatusLineNode.h"

#include "runtime/osVersion.h"
#include "tree/vNodeAlive.h"
#include "tree/vNodeWatch.h"

#include <cstdio>

namespace {
const char* const kButtonNames[vStatusLineNode::kButtons] = {"Button 1 (CTS)", "Button 2 (DSR)",
                                                             "Button 3 (RLSD)", "Button 4 (RING)"};
// Each button follows the line its label names.
const uint32_t kButtonLines[vStatusLineNode::kButtons] = {plat::kModemCts, plat::kModemDsr,
                                                          plat::kModemRlsd, plat::kModemRing};
} // namespace

plat::Handle openComPort(int number) {
    plat::SerialOpenOptions options;
    options.inheritable = true;
    options.nullDacl = osPlatformId() == 2;
    char name[8] = {};
    std::snprintf(name, sizeof name, "COM%d", number);
    return plat::serialOpen(name, &options);
}

uint32_t vStatusLineNode::lineFlag(int index) {
    return kButtonLines[index];
}

vStatusLineNode::vStatusLineNode(const char* name)
    : vTreeNode(name, nullptr, nullptr, nullptr), vMessageWnd(name, nullptr), vThread(0) {
    for (int i = 0; i < kButtons; ++i) {
        buttons[i] = new vAssignmentButton(kButtonNames[i], this, nullptr, nullptr);
        watchNode(buttons[i]);
    }
    portHandle = openComPort(kComPort);
}

vStatusLineNode::~vStatusLineNode() {
    // The worker reads the port: it stops before the port closes, whoever
    // destroys the node.
    vThread::stop();
    if (portHandle != nullptr) {
        plat::serialClose(portHandle);
        portHandle = nullptr;
    }
}

uint32_t vStatusLineNode::run() {
    // Without a window nothing could reach the buttons; its failed creation was
    // reported to the host once, by init.
    plat::Window target = window();
    if (target == nullptr) return vThread::run();
    // The line states the host's thread has been told of. A line's change is
    // recorded only once it was posted: a post fails when the thread's queue is
    // full (the host busy elsewhere), and the change is posted again on the
    // next pass, against the state the buttons still show.
    uint32_t posted = 0;
    // A pass a millisecond, as long as the loop runs: otherwise Windows would
    // poll at its 15.6 ms tick and miss shorter pulses.
    plat::requestFineTimer();
    while (isRunning()) {
        plat::sleep(1);
        uint32_t status = 0;
        if (!plat::serialModemStatus(portHandle, &status)) continue;
        for (int i = 0; i < kButtons; ++i) {
            uint32_t flag = kButtonLines[i];
            if (((posted ^ status) & flag) == 0) continue;
            if (plat::postMessage(target, lineChanged, static_cast<uintptr_t>(i),
                                  static_cast<intptr_t>(status & flag)))
                posted = (posted & ~flag) | (status & flag);
        }
    }
    plat::releaseFineTimer();
    return vThread::run();
}

intptr_t vStatusLineNode::windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == lineChanged && wParam < kButtons && buttons[wParam] != nullptr) {
        // The host hears of both steps (an observer event, then the event) and
        // may destroy the button, or this node with its window, meanwhile.
        vNodeAlive self(this);
        buttons[wParam]->setActive(lParam != 0);
        if (self.alive() && lParam != 0 && buttons[wParam] != nullptr) buttons[wParam]->fireEvent();
        if (!self.alive()) return 0;
    }
    return vMessageWnd::windowProc(message, wParam, lParam);
}
