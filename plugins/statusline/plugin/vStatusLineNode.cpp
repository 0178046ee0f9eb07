#include "plugin/vStatusLineNode.h"

#include "entry/hostRequests.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/windows.h"
#include "runtime/diagnostics.h"
#include "runtime/osVersion.h"
#include "runtime/portSetting.h"
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

plat::Handle openComPort(const char* name) {
    plat::SerialOpenOptions options;
    options.inheritable = true;
    options.nullDacl = osPlatformId() == 2;
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
    PortSetting setting = readPortSetting(kDefaultPort);
    std::snprintf(portName, sizeof portName, "%s", setting.name);
    if (setting.bad) reportError(kBadSettingText, kBadSettingCode);
    portHandle = openComPort(portName);
    if (portHandle == nullptr && schedule.failed()) reportError(kOpenFailedText, kOpenFailedCode);
    // A pass a millisecond, as long as the node lives: otherwise Windows would
    // poll at its 15.6 ms tick and miss shorter pulses. Asked for here and given
    // back by the destructor once the worker has ended: on the host's thread,
    // or on the worker's when the node was left to it.
    plat::PaceKind kind = plat::kPaceBySleep;
    pacer = plat::openPacer(&kind);
    tellDebugger("%s: the poll is paced by %s", name,
                 kind == plat::kPaceByHighResolutionTimer ? "a high-resolution waitable timer"
                                                          : "1 ms sleeps under timeBeginPeriod(1)");
}

vStatusLineNode::~vStatusLineNode() {
    // The worker reads the port and pauses on the pacer: both are released
    // only once it has ended. A stop that returns false here was reached by a
    // host that destroyed the node itself while the worker was blocked in a
    // driver call: the pacer and the port are then left to the worker.
    const bool ended = vThread::stop() || fate.load() == kRunEnded;
    if (!ended) return;
    plat::closePacer(pacer);
    if (portHandle != nullptr) {
        plat::serialClose(portHandle);
        portHandle = nullptr;
    }
}

// What is left behind while the worker is blocked: the node's memory with its
// thread and mutex handles, the pacer (a waitable timer or a fine-timer
// request) and the open port, once per teardown that met such a worker. They
// are not lost: the worker releases them when its driver call returns, and
// until then the port stays taken, as the driver holds it anyway.
void vStatusLineNode::leaveToWorker() {
    closeWindow();
    dismantle();
    if (fate.exchange(kLeftToWorker) == kRunEnded) delete this;
}

void vStatusLineNode::noteFailure(PortFailure failure) {
    if (schedule.failed()) unreported = static_cast<int>(failure);
}

uint32_t vStatusLineNode::run() {
    // Without a window nothing could reach the buttons; its failed creation was
    // reported to the host once, by init.
    plat::Window target = window();
    if (target == nullptr) return finish(vThread::run());
    // The line states the host's thread has been told of. A line's change is
    // recorded only once it was posted: a post fails when the thread's queue is
    // full (the host busy elsewhere), and the change is posted again on the
    // next pass, against the state the buttons still show. So after an outage
    // each button takes its line's state again, and a line that became active
    // meanwhile fires once.
    uint32_t posted = 0;
    schedule.wait(plat::tickCount());
    while (isRunning()) {
        plat::pace(pacer, 1);
        if (unreported >= 0 && post(target, portFailed, static_cast<uintptr_t>(unreported), 0))
            unreported = -1;
        if (portHandle == nullptr) {
            const uint32_t now = plat::tickCount();
            if (!schedule.due(now)) continue;
            schedule.wait(now);
            portHandle = openComPort(portName);
            if (portHandle == nullptr) {
                noteFailure(kOpenFailed);
                continue;
            }
        }
        uint32_t status = 0;
        if (!plat::serialModemStatus(portHandle, &status)) {
            // The device has gone (an adapter pulled out): its handle is given
            // up, so that the device can be opened again when it is back.
            noteFailure(kStatusFailed);
            plat::serialClose(portHandle);
            portHandle = nullptr;
            schedule.wait(plat::tickCount());
            continue;
        }
        schedule.worked();
        for (int i = 0; i < kButtons; ++i) {
            uint32_t flag = kButtonLines[i];
            if (((posted ^ status) & flag) == 0) continue;
            if (post(target, lineChanged, static_cast<uintptr_t>(i),
                     static_cast<intptr_t>(status & flag)))
                posted = (posted & ~flag) | (status & flag);
        }
    }
    return finish(vThread::run());
}

bool vStatusLineNode::post(plat::Window target, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
    lock();
    const bool posted = isRunning() && plat::postMessage(target, message, wParam, lParam);
    unlock();
    return posted;
}

uint32_t vStatusLineNode::finish(uint32_t result) {
    // From the constructor on the port is the worker's, which may have opened
    // it again late (an open of a Bluetooth port can take more than 10 s).
    if (portHandle != nullptr) {
        plat::serialClose(portHandle);
        portHandle = nullptr;
    }
    if (fate.exchange(kRunEnded) == kLeftToWorker) delete this;
    return result;
}

intptr_t vStatusLineNode::windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == portFailed) {
        if (wParam == kOpenFailed) reportError(kOpenFailedText, kOpenFailedCode);
        if (wParam == kStatusFailed) reportError(kStatusFailedText, kStatusFailedCode);
        return 0;
    }
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
