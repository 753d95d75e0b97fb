// The steps of summing one file for sumwell: look at it, open it, read or map the bytes to sum,
// and write its line or its message. The files in flight (in_flight.h) run the same steps on
// several threads; only the writing step touches the output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fcntl.h>

#include "selfcheck/file_io.h"

// What became of one file. The kinds that fail name the step whose message is written.
enum outcome_kind {
    OUTCOME_DIGEST = 0,  // summed: the digest line
    OUTCOME_STAT,        // stat or fstat failed: "Error! stat FILE: REASON"
    OUTCOME_TOO_SMALL,   // not longer than the tail: "Error! file size is too small"
    OUTCOME_OPEN,        // open failed: "Error! open FILE: REASON"
    OUTCOME_MMAP,        // a file that is not regular could not be mapped
    OUTCOME_READ,        // read failed: "Error! read FILE: REASON"
    OUTCOME_ENDED_EARLY, // the file ended before the bytes to sum: "Error! read FILE: ..."
};

// One file's result: its kind, the errno value of a failed step, and the digest when summed.
struct file_outcome {
    int kind;
    int error;
    uint8_t digest[16];
};

// A file opened for summing: its descriptor, the size fstat gave and whether it is regular.
struct opened_file {
    int fd;
    uint64_t size;
    bool regular;
};

// Test seam: when set, called with the path after stat (before open) and after fstat (before the
// first read), so a test can swap, cut or grow the file at exactly that point.
enum step_hook_point { HOOK_AFTER_STAT, HOOK_AFTER_FSTAT };
extern void (*sumwell_step_hook)(int point, const char* path);

// How a file is opened for summing: without blocking, so that a FIFO put in its place cannot
// hang the program.
constexpr int summing_open_flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

// Stats path, refuses a file not longer than tail, opens it with summing_open_flags and takes
// its size and type from the descriptor. tail is the -t number as 32 bits: one whose signed
// reading is negative makes every file too small, however large. Returns true with *file open,
// or false with *outcome set and nothing left open.
bool open_for_summing(const char* path, uint32_t tail, opened_file* file, file_outcome* outcome);
// The two halves of open_for_summing, for callers that stat a file well before they open it.
// stat_for_summing stats path and refuses a file too small for tail: true with *size the size it
// has now, or false with *outcome set. open_for_digest opens it and takes its size and type from
// the descriptor: true with *file open, or false with *outcome set and nothing left open.
bool stat_for_summing(const char* path, uint32_t tail, uint64_t* size, file_outcome* outcome);
bool open_for_digest(const char* path, uint32_t tail, opened_file* file, file_outcome* outcome);
// The second steps of those halves, for callers whose stat or open ran elsewhere (a batch of them
// on an io_uring): check_stat_result takes stat's errno value (0 when it succeeded) and the size
// it gave; check_open_result takes open's descriptor, or minus its errno value.
bool check_stat_result(const char* path, int stat_error, uint64_t stat_size, uint32_t tail,
                       uint64_t* size, file_outcome* outcome);
bool check_open_result(const char* path, int fd, uint32_t tail, opened_file* file,
                       file_outcome* outcome);

// Sums a file that is not regular as it always was: through a read-only mapping of its size
// plus one page. Closes file->fd and fills *outcome.
void sum_mapped(opened_file* file, uint32_t tail, file_outcome* outcome);

// Sets outcome from the result of reading a regular file: 0 keeps OUTCOME_DIGEST, anything else
// becomes the matching read failure.
void set_read_outcome(int read_status, file_outcome* outcome);

// Writes one file's result as a one-file run would: the digest line "<hex> *<name>\n" to out, or
// the message to err after flushing out, so that lines and messages keep their order even when
// both streams go to the same file. name is the file as written on the command line. Returns 0,
// or the errno value of a failed write to out.
int write_outcome(const file_outcome& outcome, const char* name, FILE* out, FILE* err);

// Sums the file at path less its tail into *outcome. reader_thread lets a regular file's reads
// run on a second thread while this one digests.
void sum_one(const char* path, uint32_t tail, bool reader_thread, file_outcome* outcome);
