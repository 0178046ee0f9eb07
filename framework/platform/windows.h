// Invisible windows, posted messages and timers: how the framework runs on the
// host's thread.
//
// Windows belong to the host's thread, and every call here is made on it,
// except postMessage, which any thread may call. Calls that create return null
// on failure; the others return false when the window or class is not there.
#pragma once

#include "platform/seam.h"

namespace plat {

constexpr uint32_t kWmCreate = 0x0001;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmNcCreate = 0x0081;
constexpr uint32_t kWmNcDestroy = 0x0082;
constexpr uint32_t kWmInitDialog = 0x0110;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmUser = 0x0400;
constexpr uint32_t kUserTimerMinimum = 10; // ms; shorter periods are raised to it

inline Window messageOnlyParent() {
    return reinterpret_cast<Window>(static_cast<intptr_t>(-3));
}

using WindowProc = intptr_t(KVQ_CALLBACK*)(Window window, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam);

// The creation parameter that WM_CREATE carries in the structure lParam points to.
KVQ_PLATFORM_API void* createParamOf(intptr_t wmCreateLParam);

KVQ_PLATFORM_API bool classRegistered(Instance instance, const char* className);
// The window procedure of the class that a window of `className` created with
// `instance` would get (a class of that instance, else a global class of that
// name); null when there is none.
KVQ_PLATFORM_API WindowProc classProcedure(Instance instance, const char* className);
// Registers a class with nothing but the instance, the name and the procedure.
KVQ_PLATFORM_API bool registerClass(Instance instance, const char* className, WindowProc proc);
// Takes the class away; refused (false) while a window of it exists. The system
// never does this itself, not even when the library whose procedure it names
// is unloaded.
KVQ_PLATFORM_API bool unregisterClass(Instance instance, const char* className);
// An invisible window (style 0, position and size 0); null on failure.
KVQ_PLATFORM_API Window createWindow(const char* className, const char* title, Window parent,
                                     Instance instance, void* createParam);
KVQ_PLATFORM_API bool destroyWindow(Window window);
KVQ_PLATFORM_API intptr_t defWindowProc(Window window, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam);
KVQ_PLATFORM_API void setWindowUserData(Window window, intptr_t value);
KVQ_PLATFORM_API intptr_t windowUserData(Window window);
KVQ_PLATFORM_API Window windowParent(Window window);
// Thread-safe; messages to one window keep their order. False when the window
// is gone or the queue of the thread that owns it is full (10,000 posts).
KVQ_PLATFORM_API bool postMessage(Window window, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam);
// Periodic WM_TIMER with wParam = id; a second call with the same id re-arms it.
KVQ_PLATFORM_API bool setTimer(Window window, uintptr_t id, uint32_t milliseconds);
KVQ_PLATFORM_API bool killTimer(Window window, uintptr_t id);

} // namespace plat
