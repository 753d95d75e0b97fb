// What both programs share and no other folder owns: the version lines, the reading of a decimal
// argument, and standard output's buffer. It uses nothing of ours, so every folder may use it.
#pragma once

#include <cstdint>

// The version lines as the programs have always printed them, the old build date and the
// builder's name included: scripts match them word for word.
inline constexpr const char* program_version_lines[] = {
    "Velmar Version 3.0.0 [0284]",
    "VOR30/Release version, built at Jun 27 2008, 12:24:22 by quelm",
};

// The decimal integer at the start of text (strtol, base 10, no validation), held to the 32-bit
// range as strtol holds it where long has 32 bits, so that 4294967296 reads the same in a 64-bit
// build and not as 0; 0 for null or a text that does not begin with a number.
int32_t decimal_int32(const char* text);

// Gives standard output a static buffer of 4 KiB, the size the C library picks for a pipe or a
// file, line-buffered on a terminal as the library's own is. A static buffer keeps a short run
// off the heap, whose first page costs page-table work that is dear in a virtual machine.
void buffer_standard_output();
