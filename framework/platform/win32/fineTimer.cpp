// The system's timer resolution, through the multimedia timer's winmm.
//
// winmm is found or loaded when a finer timer is first asked for, and stays
// loaded for the rest of the process: a plug-in that imported it would load
// and unload it with every load of its own, and Wine (at least) leaves 13
// handles behind at each of those. The plug-in that never asks never loads it.
#include "platform/platform.h"

#include <windows.h>

namespace plat {
namespace {

using PeriodFunction = UINT(WINAPI*)(UINT);

// timeBeginPeriod or timeEndPeriod; null when winmm cannot be had.
PeriodFunction winmmFunction(const char* name) {
    HMODULE winmm = GetModuleHandleA("winmm.dll");
    if (winmm == nullptr) winmm = LoadLibraryA("winmm.dll");
    if (winmm == nullptr) return nullptr;
    return reinterpret_cast<PeriodFunction>(reinterpret_cast<void*>(GetProcAddress(winmm, name)));
}

} // namespace

void requestFineTimer() {
    if (PeriodFunction begin = winmmFunction("timeBeginPeriod")) begin(1);
}

void releaseFineTimer() {
    if (PeriodFunction end = winmmFunction("timeEndPeriod")) end(1);
}

} // namespace plat
