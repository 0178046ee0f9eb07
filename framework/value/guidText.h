// GUID text: the GUID record of values and node operations, and its 38-character
// text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case digits). Reading
// follows a scanf pattern of hex fields, so it takes either case and white space
// before each part; `isGuidText` is the strict test `parse` uses to decide that a
// text is a GUID.
#pragma once

#include <cstdint>

struct vGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(vGuid) == 16, "GUID layout");

// Writes the 38-character text form (39 bytes with the terminator); null buffer: null.
char* guidToText(const vGuid& guid, char* buffer);
// Reads the fields of a GUID text; fields after the first that does not match stay 0.
vGuid textToGuid(const char* text);
// 1 when the first 38 characters are a GUID text in the exact form (either case), else 0.
int isGuidText(const char* text, int32_t length);
