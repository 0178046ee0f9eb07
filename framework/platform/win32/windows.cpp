// Window classes, invisible windows, posted messages and timers on the
// Windows user-interface services.
#include "platform/windows.h"

#include <windows.h>

#include <cstring>

namespace plat {

static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA layout");

void* createParamOf(intptr_t wmCreateLParam) {
    if (!wmCreateLParam) return nullptr;
    return reinterpret_cast<const CREATESTRUCTA*>(wmCreateLParam)->lpCreateParams;
}

bool classRegistered(Instance instance, const char* className) {
    if (!className) return false;
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    return GetClassInfoExA(static_cast<HINSTANCE>(instance), className, &wc) != 0;
}

WindowProc classProcedure(Instance instance, const char* className) {
    if (!className) return nullptr;
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExA(static_cast<HINSTANCE>(instance), className, &wc)) return nullptr;
    return reinterpret_cast<WindowProc>(wc.lpfnWndProc);
}

bool unregisterClass(Instance instance, const char* className) {
    if (!className) return false;
    return UnregisterClassA(className, static_cast<HINSTANCE>(instance)) != 0;
}

bool registerClass(Instance instance, const char* className, WindowProc proc) {
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.hInstance = static_cast<HINSTANCE>(instance);
    wc.lpszClassName = className;
    // Same convention and argument sizes as the system's window procedure.
    wc.lpfnWndProc = reinterpret_cast<WNDPROC>(proc);
    return RegisterClassExA(&wc) != 0;
}

Window createWindow(const char* className, const char* title, Window parent, Instance instance,
                    void* createParam) {
    return CreateWindowExA(0, className, title, 0, 0, 0, 0, 0, static_cast<HWND>(parent), nullptr,
                           static_cast<HINSTANCE>(instance), createParam);
}

bool destroyWindow(Window window) {
    return DestroyWindow(static_cast<HWND>(window)) != 0;
}

intptr_t defWindowProc(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam);
}

void setWindowUserData(Window window, intptr_t value) {
    SetWindowLongA(static_cast<HWND>(window), GWL_USERDATA, value);
}

intptr_t windowUserData(Window window) {
    return GetWindowLongA(static_cast<HWND>(window), GWL_USERDATA);
}

Window windowParent(Window window) {
    return GetParent(static_cast<HWND>(window));
}

bool postMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return PostMessageA(static_cast<HWND>(window), message, wParam, lParam) != 0;
}

bool setTimer(Window window, uintptr_t id, uint32_t milliseconds) {
    return SetTimer(static_cast<HWND>(window), id, milliseconds, nullptr) != 0;
}

bool killTimer(Window window, uintptr_t id) {
    return KillTimer(static_cast<HWND>(window), id) != 0;
}

} // namespace plat
