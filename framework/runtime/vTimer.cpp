#include "runtime/vTimer.h"
#include "platform/clock.h"
#include "platform/windows.h"

namespace {
// The module-wide timer service; null while no timer exists.
vTimerManager* timerManager = nullptr;

uintptr_t timerId(vTimer* timer) {
    return reinterpret_cast<uintptr_t>(timer);
}
} // namespace

vTimer::vTimer(uint32_t period_, int32_t startNow) {
    if (timerManager == nullptr) new vTimerManager();
    if (timerManager != nullptr) timerManager->timers().insert(this, nullptr);
    setPeriod(period_);
    if (startNow != 0) start();
}

vTimer::~vTimer() {
    stop();
    if (timerManager == nullptr) return;
    timerManager->timers().remove(this);
    if (timerManager->timers().count() == 0) delete timerManager;
}

void vTimer::onTimer(uint32_t) {}

void vTimer::setPeriod(uint32_t milliseconds) {
    period = milliseconds;
    if (started != 0 && timerManager != nullptr && timerManager->window() != nullptr)
        plat::setTimer(timerManager->window(), timerId(this), period);
}

// Without a manager window there is nothing to arm: the timer never fires.
void vTimer::start() {
    if (started != 0) return;
    started = 1;
    if (timerManager != nullptr && timerManager->window() != nullptr)
        plat::setTimer(timerManager->window(), timerId(this), period);
}

void vTimer::stop() {
    if (timerManager != nullptr && timerManager->window() != nullptr)
        plat::killTimer(timerManager->window(), timerId(this));
    started = 0;
}

vTimerManager::vTimerManager() : timerWindow(this) {
    timerWindow.init();
    timerManager = this;
}

vTimerManager::~vTimerManager() {
    while (vTimer* timer = list.first()) {
        if (window() != nullptr) plat::killTimer(window(), timerId(timer));
        list.remove(timer);
    }
    if (timerManager == this) timerManager = nullptr;
}

vTimerManager* vTimerManager::current() {
    return timerManager;
}

intptr_t vTimerManager::vTimerWindow::windowProc(uint32_t message, uintptr_t wParam,
                                                 intptr_t lParam) {
    if (message != plat::kWmTimer) return vMessageWnd::windowProc(message, wParam, lParam);
    auto* timer = reinterpret_cast<vTimer*>(wParam);
    if (manager->list.find(timer) != nullptr) timer->onTimer(plat::tickCount());
    return 0;
}
