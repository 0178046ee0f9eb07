#include "runtime/vMessageWnd.h"

#include "entry/hostRequests.h"
#include "entry/library.h"
#include "platform/windows.h"
#include "runtime/osVersion.h"

vMessageWnd::vMessageWnd(const char* className_, vMessageWnd* owner)
    : owner(owner), parentHwnd(plat::messageOnlyParent()) {
    className.set(className_, false);
}

vMessageWnd::~vMessageWnd() {
    closeWindow();
}

void vMessageWnd::closeWindow() {
    if (hwnd != nullptr) {
        // No message may reach the object from here on.
        plat::setWindowUserData(hwnd, 0);
        plat::destroyWindow(hwnd);
        hwnd = nullptr;
        forgetClass();
    }
}

void vMessageWnd::forgetClass() {
    // The class names a procedure in this library, and the system keeps it
    // when the library is unloaded: a later load that found it would call
    // into code that is gone. It goes with the last window of the class (the
    // system refuses while another exists).
    plat::unregisterClass(moduleInstance, className.text());
}

plat::Window vMessageWnd::init() {
    if (hwnd != nullptr) return nullptr;
    hwnd = onCreateWindow();
    if (hwnd != nullptr) {
        onWindowCreated();
        onWindowReady();
        return hwnd;
    }
    reportError("vMessageWnd:init()", -2);
    return nullptr;
}

plat::Window vMessageWnd::onCreateWindow() {
    // A class of this name is used only when its procedure is this library's:
    // one left by an earlier load of the library at another address, or
    // another module's, would send the window's messages elsewhere, and no
    // timer would ever fire. Such a class of this instance is taken away (the
    // system refuses while a window of it exists); another module's global
    // class is shadowed by one of this instance.
    plat::WindowProc existing = plat::classProcedure(moduleInstance, className.text());
    if (existing != &vMessageWnd::frameworkWndProc) {
        if (existing != nullptr) plat::unregisterClass(moduleInstance, className.text());
        if (!plat::registerClass(moduleInstance, className.text(),
                                 &vMessageWnd::frameworkWndProc)) {
            reportError("vMessageWnd:onCreateWindow()", -2);
            return nullptr;
        }
    }
    if (owner != nullptr) parentHwnd = owner->hwnd;
    if (parentHwnd == plat::messageOnlyParent() && !messageOnlySupported()) parentHwnd = nullptr;
    tellWindowKind(className.text());
    plat::Window window =
        plat::createWindow(className.text(), text(), parentHwnd, moduleInstance, this);
    if (window == nullptr) forgetClass();
    return window;
}

void vMessageWnd::onWindowCreated() {}
void vMessageWnd::onWindowReady() {}

intptr_t vMessageWnd::windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return plat::defWindowProc(hwnd, message, wParam, lParam);
}

intptr_t KVQ_CALLBACK vMessageWnd::frameworkWndProc(plat::Window window, uint32_t message,
                                                    uintptr_t wParam, intptr_t lParam) {
    if (message == plat::kWmCreate)
        plat::setWindowUserData(window, reinterpret_cast<intptr_t>(plat::createParamOf(lParam)));
    else if (message == plat::kWmInitDialog)
        plat::setWindowUserData(window, lParam);
    auto* object = reinterpret_cast<vMessageWnd*>(plat::windowUserData(window));
    if (object != nullptr) return object->windowProc(message, wParam, lParam);
    return plat::defWindowProc(window, message, wParam, lParam);
}
