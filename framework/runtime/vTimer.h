// vTimer: a periodic timer whose `onTimer` runs on the host's thread. All
// timers of a module share one message window of class "vTimer", owned by the
// vTimerManager that the first timer creates and the last one destroys. A
// timer's address is its system timer id.
#pragma once

#include "platform/seam.h"
#include "runtime/vMessageWnd.h"
#include "tree/vList.h"

#include <cstdint>

class vTimer {
public:
    vTimer(uint32_t period, int32_t startNow);
    vTimer(const vTimer&) = delete;
    vTimer& operator=(const vTimer&) = delete;
    virtual ~vTimer();

    virtual void onTimer(uint32_t tickCount);

    void setPeriod(uint32_t milliseconds);
    void start();
    void stop();
    bool isStarted() const { return started != 0; }
    uint32_t getPeriod() const { return period; }

private:
    uint32_t period = 0;
    int32_t started = 0;
};

class vTimerManager {
public:
    vTimerManager();
    ~vTimerManager();

    // The module's manager, or null while no timer exists.
    static vTimerManager* current();
    plat::Window window() const { return timerWindow.window(); }
    vListOf<vTimer>& timers() { return list; }

private:
    class vTimerWindow : public vMessageWnd {
    public:
        explicit vTimerWindow(vTimerManager* manager)
            : vMessageWnd("vTimer", nullptr), manager(manager) {}
        intptr_t windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    private:
        vTimerManager* manager;
    };

    vListOf<vTimer> list;
    vTimerWindow timerWindow;
};
