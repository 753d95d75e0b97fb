// The check mode: reads lists of MD5 sums ("HEX  NAME", "HEX *NAME", "MD5 (NAME) = HEX", the
// lines md5sum -c reads), sums the files they name through the files in flight, a chunk of
// lines at a time so that memory stays bounded whatever the list's length, and writes for each
// file in list order the line md5sum -c writes ("NAME: OK", "NAME: FAILED",
// "NAME: FAILED open or read"), with sumwell's own messages on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The longest line read as a line of a list, its line end left out: room for a name of the
// longest path the system opens (4,095 bytes), every byte of it escaped, and the digest and
// marks around it. A longer line cannot name a file that opens: it is a malformed line, and
// only this much of it is ever held.
constexpr size_t check_line_limit = 16 * 1024;

// What one line of a list is.
enum check_line_kind {
    CHECK_LINE_SKIPPED = 0, // empty, or a comment ("#" first)
    CHECK_LINE_MALFORMED,   // none of the forms read: counted and, with --warn, reported
    CHECK_LINE_FILE,        // names a file and its digest
};

// What lines read so far tell the parser: whether the text form's digest and name are split by
// one blank ("HEX NAME", the reversed form) or by a blank or "*" and a blank ("HEX  NAME").
// The first text line decides for the whole run, every list included, so that a name that
// begins with a blank or "*" is never read two ways.
struct check_parser {
    int reversed = -1; // -1: no text line yet; 0: "HEX  NAME"; 1: "HEX NAME"
};

// A line that names a file: the name (unescaped, ending at the first NUL byte) and the digest.
struct check_line {
    const char* name;
    uint8_t digest[16];
};

// Reads one line of a list: line holds length bytes without the line feed, and one more byte
// that the parser may overwrite. Rewrites the line in place (name points into it). from_stdin:
// the list is standard input, so a name "-" is malformed. Returns a check_line_kind; *line_out
// is set for CHECK_LINE_FILE.
int parse_check_line(check_parser* parser, char* line, size_t length, bool from_stdin,
                     check_line* line_out);

// How the files are checked: the long options of the check mode and the -t number.
struct check_settings {
    bool quiet = false;          // no line for a file that matches
    bool status = false;         // no line at all, no counts: the exit status tells
    bool strict = false;         // a malformed line fails the list
    bool warn = false;           // a message for each malformed line
    bool ignore_missing = false; // a file that does not exist is passed over
    uint32_t tail = 0;           // bytes left out of each file's sum
    int threads = 1;             // threads to sum with, this one included
};

// Checks each of the count lists in turn ("-" is standard input), writing the files' lines to
// out and the messages to err. Returns 0 when every list was read and every file it names
// matched, else 1; *write_error is 0, or the errno value of a failed write to out (the check
// then stops).
int check_lists(int count, char* const* lists, const check_settings& settings, FILE* out, FILE* err,
                int* write_error);
