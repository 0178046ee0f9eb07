// One line of diagnostics for a debugger or a debug-output viewer: what a
// plug-in found of the system (its version, the kind of window it made, how
// its poll is paced). The host never needs them; a user whose plug-in
// misbehaves on some Windows can read them there, and kvq-host prints them.
#pragma once

#if defined(__GNUC__)
#define KVQ_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define KVQ_PRINTF_LIKE(f, a)
#endif

// printf-style; the line is cut at 255 characters.
void tellDebugger(const char* format, ...) KVQ_PRINTF_LIKE(1, 2);
