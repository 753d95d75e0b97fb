// Summing a whole command line with many files in flight: each processor the process may use
// digests a file in each lane of its MD5 lane set, reading it piece by piece, while one thread
// writes every line and message in command-line order, byte for byte what one run per file
// would print.
#pragma once

#include <cstdint>
#include <cstdio>

#include "sumwell/file_steps.h"

// Writes file index's result in place of its line or message (see file_list::report); returns
// as write_outcome does.
typedef int (*report_outcome)(void* context, uint64_t index, const file_outcome& outcome, FILE* out,
                              FILE* err);

// The files of one run: paths[i] named as written, for i below count; or, when repeated_path is
// set, that one file count times, each line naming it repeated_name (the benchmark mode).
// When report is set, the thread that writes calls it with context for each file's result, in
// list order, instead of writing the file's line or message (the check mode writes its own).
struct file_list {
    uint64_t count;
    char* const* paths;
    const char* repeated_path;
    const char* repeated_name;
    report_outcome report = nullptr;
    void* context = nullptr;
};

// The processors this process may run on (sched_getaffinity), at least 1.
int usable_processors();

// Sums every file of list less its tail with at most threads threads in all (this one
// included), writing each file's line to out or message to err in list order. Stops after a
// failed write to out. Returns 0, or the errno value of the first failed write to out.
int sum_in_flight(const file_list& list, uint32_t tail, int threads, FILE* out, FILE* err);
