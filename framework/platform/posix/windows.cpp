// Invisible windows, posted messages and timers, and the host's message loop
// that runs them (host/messageLoop.cpp gives it to the host).
//
// Window classes are registered per (instance, name), names compared without
// regard to case as the system does, and stay registered until unregistered,
// also when the library whose procedure they name is unloaded, as on Windows. A window is a number,
// never an address, so a message posted to a window that has gone away finds nothing and is
// dropped. Posted messages wait in one process-wide queue in posting order,
// at most 10,000 of them as in a Windows thread's queue;
// timers are kept per (window, id) with their next due time. pumpMessages,
// called by the host on its thread, sleeps on a condition variable until a
// message is posted or a timer falls due, then runs the window procedures
// with no lock held, so a procedure may post, arm timers or create and destroy
// windows itself.
#include "platform/windows.h"

#include "platform/posix/handles.h"
#include "platform/posix/testing.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>
#include <utility>
#include <vector>

namespace plat {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kTimerMaximum = 0x7FFFFFFFu;
// A Windows thread's message queue holds at most this many posted messages;
// a post beyond it fails.
constexpr size_t kPostedMessageLimit = 10000;

// What WM_NCCREATE and WM_CREATE point to; the creation parameter comes first.
struct CreateStruct {
    void* createParams;
    Instance instance;
    void* menu;
    Window parent;
    int32_t cy, cx, y, x;
    int32_t style;
    const char* name;
    const char* className;
    uint32_t exStyle;
};

struct WindowClass {
    Instance instance;
    std::string name;
    WindowProc proc;
};

struct WindowRecord {
    const WindowClass* windowClass = nullptr; // for unregistering; never followed
    WindowProc proc = nullptr;
    Window parent = nullptr;
    intptr_t userData = 0;
    bool destroying = false;
};

struct Posted {
    Window window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

struct TimerRecord {
    uint32_t period;
    Clock::time_point due;
};

using TimerKey = std::pair<uintptr_t, uintptr_t>; // (window, id)

struct MessageState {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<std::unique_ptr<WindowClass>> classes;
    std::map<uintptr_t, WindowRecord> windows;
    std::deque<Posted> queue;
    std::map<TimerKey, TimerRecord> timers;
    uintptr_t nextWindow = 0x10000;
    int refusedPosts = 0;
    bool failRegistration = false;
    bool failCreation = false;
};

MessageState& state() {
    static auto* s = new MessageState;
    return *s;
}

uintptr_t key(Window window) {
    return reinterpret_cast<uintptr_t>(window);
}
Window toWindow(uintptr_t value) {
    return reinterpret_cast<Window>(value);
}

WindowRecord* findWindow(MessageState& s, Window window) {
    auto it = s.windows.find(key(window));
    return it == s.windows.end() ? nullptr : &it->second;
}

const WindowClass* findClass(MessageState& s, Instance instance, const char* name) {
    for (const auto& c : s.classes)
        if (c->instance == instance && strcasecmp(c->name.c_str(), name) == 0) return c.get();
    return nullptr;
}

void dropWindowTraffic(MessageState& s, Window window) {
    s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(),
                                 [&](const Posted& p) { return p.window == window; }),
                  s.queue.end());
    for (auto it = s.timers.begin(); it != s.timers.end();) {
        if (it->first.first == key(window))
            it = s.timers.erase(it);
        else
            ++it;
    }
}

// Calls the window's procedure without holding the lock; nothing when the window is gone.
intptr_t send(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    MessageState& s = state();
    WindowProc proc;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        WindowRecord* record = findWindow(s, window);
        if (!record) return 0;
        proc = record->proc;
    }
    return proc(window, message, wParam, lParam);
}

bool windowAlive(Window window) {
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return findWindow(s, window) != nullptr;
}

void forget(Window window) {
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.windows.erase(key(window));
    dropWindowTraffic(s, window);
}

bool anythingDue(MessageState& s, Clock::time_point now) {
    if (!s.queue.empty()) return true;
    for (const auto& t : s.timers)
        if (t.second.due <= now) return true;
    return false;
}

Clock::time_point earliestDue(MessageState& s, Clock::time_point limit) {
    for (const auto& t : s.timers)
        limit = std::min(limit, t.second.due);
    return limit;
}

// Dispatches the messages queued now and the timers due now; returns how many ran.
int dispatchBatch(MessageState& s, std::unique_lock<std::mutex>& guard) {
    int dispatched = 0;
    // Messages posted while the batch runs wait for the next call, so a procedure
    // that posts to itself can't keep this call going forever.
    size_t budget = s.queue.size();
    while (budget-- > 0 && !s.queue.empty()) {
        Posted p = s.queue.front();
        s.queue.pop_front();
        WindowRecord* record = findWindow(s, p.window);
        if (!record) continue;
        WindowProc proc = record->proc;
        guard.unlock();
        proc(p.window, p.message, p.wParam, p.lParam);
        guard.lock();
        ++dispatched;
    }

    Clock::time_point now = Clock::now();
    std::vector<std::pair<Clock::time_point, TimerKey>> due;
    for (const auto& t : s.timers)
        if (t.second.due <= now) due.emplace_back(t.second.due, t.first);
    std::sort(due.begin(), due.end());
    for (const auto& d : due) {
        auto it = s.timers.find(d.second);
        // Killed or re-armed by an earlier procedure of this batch.
        if (it == s.timers.end() || it->second.due > now) continue;
        WindowRecord* record = findWindow(s, toWindow(d.second.first));
        if (!record || record->destroying) {
            s.timers.erase(it);
            continue;
        }
        // One WM_TIMER however many periods passed; the next one a full period on.
        it->second.due = Clock::now() + std::chrono::milliseconds(it->second.period);
        WindowProc proc = record->proc;
        guard.unlock();
        proc(toWindow(d.second.first), kWmTimer, d.second.second, 0);
        guard.lock();
        ++dispatched;
    }
    return dispatched;
}

} // namespace

void* createParamOf(intptr_t wmCreateLParam) {
    if (!wmCreateLParam) return nullptr;
    return reinterpret_cast<const CreateStruct*>(wmCreateLParam)->createParams;
}

bool classRegistered(Instance instance, const char* className) {
    if (!className) return false;
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return findClass(s, instance, className) != nullptr;
}

WindowProc classProcedure(Instance instance, const char* className) {
    if (!className) return nullptr;
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const WindowClass* found = findClass(s, instance, className);
    return found != nullptr ? found->proc : nullptr;
}

bool registerClass(Instance instance, const char* className, WindowProc proc) {
    if (!className || !*className || !proc) return false;
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.failRegistration || findClass(s, instance, className)) return false;
    s.classes.push_back(std::make_unique<WindowClass>(WindowClass{instance, className, proc}));
    return true;
}

bool unregisterClass(Instance instance, const char* className) {
    if (!className) return false;
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const WindowClass* c = findClass(s, instance, className);
    if (!c) return false;
    for (const auto& w : s.windows)
        if (w.second.windowClass == c) return false;
    s.classes.erase(
        std::find_if(s.classes.begin(), s.classes.end(),
                     [c](const std::unique_ptr<WindowClass>& k) { return k.get() == c; }));
    return true;
}

Window createWindow(const char* className, const char* title, Window parent, Instance instance,
                    void* createParam) {
    if (!className) return nullptr;
    MessageState& s = state();
    Window window;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.failCreation) return nullptr;
        const WindowClass* c = findClass(s, instance, className);
        if (!c) return nullptr;
        if (parent && parent != messageOnlyParent()) {
            WindowRecord* p = findWindow(s, parent);
            if (!p || p->destroying) return nullptr;
        }
        // Window numbers are not reused while the process runs, so a stale number
        // never reaches a newer window.
        do {
            s.nextWindow += 4;
            if (s.nextWindow >= 0xFFFF0000u) s.nextWindow = 0x10000;
        } while (s.windows.count(s.nextWindow));
        window = toWindow(s.nextWindow);
        WindowRecord record;
        record.windowClass = c;
        record.proc = c->proc;
        record.parent = parent;
        s.windows.emplace(s.nextWindow, record);
    }

    CreateStruct cs{};
    cs.createParams = createParam;
    cs.instance = instance;
    cs.parent = parent;
    cs.name = title;
    cs.className = className;
    intptr_t lParam = reinterpret_cast<intptr_t>(&cs);

    if (send(window, kWmNcCreate, 0, lParam) == 0) {
        send(window, kWmNcDestroy, 0, 0);
        forget(window);
        return nullptr;
    }
    if (!windowAlive(window)) return nullptr;
    if (send(window, kWmCreate, 0, lParam) == -1) {
        destroyWindow(window);
        return nullptr;
    }
    return windowAlive(window) ? window : nullptr;
}

bool destroyWindow(Window window) {
    MessageState& s = state();
    std::vector<Window> children;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        WindowRecord* record = findWindow(s, window);
        if (!record || record->destroying) return false;
        record->destroying = true;
        dropWindowTraffic(s, window);
        for (const auto& w : s.windows)
            if (w.second.parent == window) children.push_back(toWindow(w.first));
    }
    send(window, kWmDestroy, 0, 0);
    for (Window child : children)
        destroyWindow(child);
    send(window, kWmNcDestroy, 0, 0);
    // Whatever the procedure posted or armed while it was going goes with it.
    forget(window);
    return true;
}

intptr_t defWindowProc(Window, uint32_t message, uintptr_t, intptr_t) {
    // Creation goes ahead; everything else is simply consumed.
    return message == kWmNcCreate ? 1 : 0;
}

void setWindowUserData(Window window, intptr_t value) {
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (WindowRecord* record = findWindow(s, window)) record->userData = value;
}

intptr_t windowUserData(Window window) {
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    WindowRecord* record = findWindow(s, window);
    return record ? record->userData : 0;
}

Window windowParent(Window window) {
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    WindowRecord* record = findWindow(s, window);
    return record ? record->parent : nullptr;
}

bool postMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    MessageState& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        WindowRecord* record = findWindow(s, window);
        if (!record || record->destroying) return false;
        if (s.queue.size() >= kPostedMessageLimit) {
            ++s.refusedPosts;
            return false;
        }
        s.queue.push_back(Posted{window, message, wParam, lParam});
        // Under the lock, so that a thread checker sees the wake tied to the change.
        s.wake.notify_all();
    }
    return true;
}

bool setTimer(Window window, uintptr_t id, uint32_t milliseconds) {
    MessageState& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        WindowRecord* record = findWindow(s, window);
        if (!record || record->destroying) return false;
        uint32_t period = std::min(std::max(milliseconds, kUserTimerMinimum), kTimerMaximum);
        s.timers[TimerKey(key(window), id)] =
            TimerRecord{period, Clock::now() + std::chrono::milliseconds(period)};
        s.wake.notify_all();
    }
    return true;
}

bool killTimer(Window window, uintptr_t id) {
    MessageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.timers.erase(TimerKey(key(window), id)) > 0;
}

int detail::pumpMessages(uint32_t timeoutMs) {
    MessageState& s = state();
    Clock::time_point start = Clock::now();
    Clock::time_point deadline = timeoutMs == kInfinite
                                     ? Clock::time_point::max()
                                     : start + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> guard(s.lock);
    for (;;) {
        Clock::time_point now = Clock::now();
        if (anythingDue(s, now)) {
            int dispatched = dispatchBatch(s, guard);
            if (dispatched > 0) return dispatched;
            continue; // everything found belonged to windows that are gone
        }
        if (now >= deadline) return 0;
        Clock::time_point next = earliestDue(s, deadline);
        if (next == Clock::time_point::max())
            s.wake.wait(guard); // no timer armed and no limit: until something is posted
        else
            s.wake.wait_until(guard, next);
    }
}

namespace testing {

void failClassRegistration(bool fail) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().failRegistration = fail;
}

void failWindowCreation(bool fail) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().failCreation = fail;
}

void resetSeams() {
    failThreadCreation(false);
    uncapWaits();
    failWaitObjectCreation(false);
    stubbornEventWaits(false);
    lateCompletions(false);
    blockStatusReads(false);
    failEventWaitsAtOnce(false);
    pendingRequestsHoldTheirThread(false);
    hangStatusReads(false);
    offerHighResolutionTimers(true);
    restoreVersion();
    std::lock_guard<std::mutex> guard(state().lock);
    state().failRegistration = false;
    state().failCreation = false;
}

int liveWindows() {
    std::lock_guard<std::mutex> guard(state().lock);
    return static_cast<int>(state().windows.size());
}

int liveTimers() {
    std::lock_guard<std::mutex> guard(state().lock);
    return static_cast<int>(state().timers.size());
}

int queuedMessages() {
    std::lock_guard<std::mutex> guard(state().lock);
    return static_cast<int>(state().queue.size());
}

int refusedPosts() {
    std::lock_guard<std::mutex> guard(state().lock);
    return state().refusedPosts;
}

} // namespace testing

} // namespace plat
