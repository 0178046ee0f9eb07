// vMessageWnd: an invisible window on the host's thread, through which work
// is brought onto that thread: a worker posts messages to it, or a system
// timer fires there. The window's messages reach the object's `windowProc`
// through `frameworkWndProc`, the one procedure of every framework window
// class. The vString base holds the window title.
#pragma once

#include "base/vString.h"
#include "platform/windows.h"

class vMessageWnd : public vString {
public:
    vMessageWnd(const char* className, vMessageWnd* owner);
    ~vMessageWnd() override;

    virtual plat::Window onCreateWindow();
    virtual void onWindowCreated();
    virtual void onWindowReady();
    virtual intptr_t windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // Creates the window once; null when one exists already or creation failed.
    plat::Window init();
    plat::Window window() const { return hwnd; }
    // Destroys the window before the object goes, as the destructor would;
    // nothing reaches `windowProc` any more.
    void closeWindow();

    static intptr_t KVQ_CALLBACK frameworkWndProc(plat::Window window, uint32_t message,
                                                  uintptr_t wParam, intptr_t lParam);

private:
    void forgetClass(); // unregisters the class unless another window of it exists

    vMessageWnd* owner;
    plat::Window hwnd = nullptr;
    plat::Window parentHwnd;
    vString className;
};
