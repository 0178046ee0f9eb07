// The module's record of the operating-system version, filled on first use
// and kept for the life of the module.
#pragma once

#include <cstdint>

uint32_t osMajorVersion();
uint32_t osPlatformId();
// Message-only windows exist outside the Windows 95 family from version 5 on.
bool messageOnlySupported();
// Tells a debugger what was read and which kind of window the module makes,
// once per reading, at the first window (class `className`).
void tellWindowKind(const char* className);
// Makes the next query read the version again (tests that change it).
void forgetOsVersion();
