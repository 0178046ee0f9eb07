// The one reader of settings files, the same on every system: the text of a
// file read whole, in the encodings Windows users save it in, and one key of
// it in the format of Windows' profile functions.
//
// Encodings: UTF-8 with or without its byte-order mark (and so ASCII, and the
// ANSI code pages as far as the names looked for go), and UTF-16 LE with its
// mark, Notepad's "Unicode". A UTF-16 BE mark is refused: its text would hold
// nothing the reader could find. Format: "[Section]" lines, "Key=Value" lines,
// section and key names compared without regard to case, ";" comment lines,
// blanks around names and values trimmed, a value in quotes taken without them;
// the first section of the name that has the key gives it, and there the first
// line with the key.
#pragma once

#include <cstddef>

enum IniLookup : int {
    kIniFound = 0,       // *value holds the key's value (cut to `size`); it may be empty
    kIniNotFound = 1,    // no such key in such a section
    kIniUndecodable = 2, // the text is in an encoding the reader does not take
};
// One key of the settings file text `bytes` (`length` bytes, nul not needed).
IniLookup iniValue(const char* bytes, size_t length, const char* section, const char* key,
                   char* value, size_t size);
