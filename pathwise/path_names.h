// The vocabulary of -p path names and the resolver that prints the path of a named item. A -p
// argument is "name" or "name:argument"; only the first ":" splits, and the argument may be empty.
// The resolver prints what the path store composes from the current layout and never consults
// the file system.
#pragma once

#include "pathstore/pathstore.h"

// Size of the path-name buffer: at most 1023 characters and a NUL.
constexpr int PATH_PART_SIZE = 1024;
// Size of the path-argument buffer: one character more than a composed path keeps, so that an
// argument cut there makes a path too long to keep, which the resolver refuses.
constexpr int PATH_ARGUMENT_SIZE = PATHSTORE_COMPOSED_MAX + 2;
// Number of rows of the path-name table.
constexpr int PATH_NAME_COUNT = 70;

// One row of the path-name table: the name (matched exactly, with case) and the path store
// accessor that forms its path. A row that needs a path argument has with_argument set and
// plain null; every other row has plain set and with_argument null.
struct path_name_row {
    const char* name;
    const char* (*plain)();
    const char* (*with_argument)(const char* argument);
};

// True for a row that needs a path argument.
inline bool path_needs_argument(const path_name_row& row) {
    return row.with_argument != nullptr;
}

// The path-name table.
extern const path_name_row path_name_rows[PATH_NAME_COUNT];

// The text before the first ":" of argument (all of it when there is none), cut to 1023
// characters, in a static buffer that the next call overwrites. A null argument reads as empty.
const char* path_name_of(const char* argument);
// The text after the first ":" of argument, cut to 1151 characters, in a static buffer that the
// next call overwrites; null when argument holds no ":" (or is null).
const char* path_argument_of(const char* argument);
// The row named path_name exactly, or null when there is none.
const path_name_row* find_path_name(const char* path_name);
// Forms the path of the named item into *path (the path store's buffer) and returns 0; or
// returns PW_ERR_UNKNOWN_PATH_NAME, PW_ERR_NO_PATH_ARGUMENT, or PW_ERR_PATH_TOO_LONG when the
// store had to cut the path, and leaves *path alone. A path argument given to a row that needs
// none is ignored.
int resolve_path(const char* path_name, const char* path_argument, const char** path);
// Prints the path of the named item on standard output, after "name:" when labelled is nonzero,
// and returns 0; or prints nothing and returns the code of resolve_path.
int print_path(const char* path_name, const char* path_argument, int labelled);
