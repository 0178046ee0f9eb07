// The host's view of the process's debug output. OutputDebugStringA raises
// DBG_PRINTEXCEPTION_C with the text, and a debugger or the system's viewer
// protocol takes it from there; a vectored handler sees the exception first,
// passes the text on and lets it go its way. Host side only: the handler's
// import never reaches the DLLs.
#include "platform/host.h"

#include <windows.h>

namespace plat {
namespace {

constexpr DWORD kDebugPrint = 0x40010006; // DBG_PRINTEXCEPTION_C

volatile DebugListener listener = nullptr;
PVOID handler = nullptr;

LONG CALLBACK onException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    DebugListener to = listener;
    if (to != nullptr && record->ExceptionCode == kDebugPrint && record->NumberParameters >= 2 &&
        record->ExceptionInformation[1] != 0)
        to(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void listenDebugOutput(DebugListener to) {
    listener = to;
    if (to != nullptr && handler == nullptr) handler = AddVectoredExceptionHandler(1, onException);
}

} // namespace plat
