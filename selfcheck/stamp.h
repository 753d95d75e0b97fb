// Stamping: appending the integrity trailer that selfcheck_run verifies to a built program.
// Used by the build's post-link step; the programs themselves never stamp.
#pragma once

// Outcomes of stamping one file.
enum stamp_status {
    STAMP_ADDED = 0,      // the file had no trailer and now has one
    STAMP_UNCHANGED = 1,  // the file already carried a trailer that matches its bytes
    STAMP_REPLACED = 2,   // a trailer that did not match was replaced (only when asked to)
    STAMP_REFUSED = 3,    // the file carries a trailer that does not match: it was altered
    STAMP_UNWRITABLE = 4, // the file could not be opened, read or written
};

// Makes the file at path end with a trailer that records the digest of the bytes before it.
// A file without a trailer gets one appended; a matching trailer is left alone; a trailer that
// does not match is replaced when replace is nonzero and refused otherwise. Returns a
// stamp_status.
int stamp_file(const char* path, int replace);
