// The reader: the system calls that bring a file's bytes to the lanes, one small interface with
// three engines behind it. The ring engine puts a thread's stats, opens and reads in flight
// together on an io_uring, so that the storage has many requests to answer whatever the number
// of processors. The pool engine, for kernels and sandboxes that refuse io_uring and for builds
// without it, reads what is in memory on the thread and hands the rest, and the stats of a cold
// tree, to the run's read pool. The plain engine makes every call one at a time on the thread.
// A run chooses its engine once. The ring engine lives in reader_ring.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "md5/md5.h"
#include "sumwell/read_pool.h"
#include "sumwell/sync.h"

enum reader_engine { READER_PLAIN = 0, READER_RING, READER_POOL };

// Test seams: when set, every run reads through the plain engine, or through the pool engine.
extern bool sumwell_reader_plain_only;
extern bool sumwell_reader_pool_only;
// Test seam: when set, the ring and the pool engines leave every other read to the storage
// engine even when the page cache holds its bytes.
extern bool sumwell_reader_memory_every_other;
// Test seam: when set, the ring engine reads small files whole however cold the tree looks.
extern bool sumwell_reader_whole_always;

// Files a thread looks at (stats) or opens in one go: on a cold tree of many small files, 64
// stats in flight took 10 to 20% less time than 16.
constexpr size_t reader_batch = 64;
// Requests one reader keeps track of: a read for each lane and a batch of looks or opens.
constexpr size_t reader_slots = md5_lane_limit + reader_batch;
// Small files read whole in one go at most: three requests each (open, read, close) fit the
// ring beside a read for every lane.
constexpr size_t reader_whole_batch = 24;

// A read asked for and not yet answered in full.
struct reader_request {
    uint64_t tag; // the asker's
    int fd;
    uint8_t* buffer;
    size_t length; // bytes asked for, of which got are read
    size_t got;
    uint64_t offset; // where the read began in the file
    int status;      // 0, an errno value or READ_ENDED_EARLY once answered
    bool busy;
};

// A small file to read whole: its open, read and close go to the kernel together, a batch of
// them in one system call, where the calls one at a time cost each file four.
struct whole_read {
    const char* path;
    uint8_t* buffer;
    size_t length;            // bytes asked for from the file's start
    int result = 0;           // the bytes read, or minus the errno value of the failed open or read
    bool open_failed = false; // result is the open's
};

// A read answered: the asker's tag and how it ended (0, an errno value or READ_ENDED_EARLY).
struct read_answer {
    uint64_t tag;
    int status;
};

// One thread's reader. Reads are answered through answers, in the order they end.
struct piece_reader {
    int engine;
    void* ring;             // the ring engine's io_uring
    size_t in_flight;       // requests handed to the kernel and not yet ended
    size_t unsubmitted;     // requests prepared but not yet handed to the kernel
    bool plain_looks;       // the ring or pool engine stats on this thread: the tree looked warm
    bool whole_files;       // the ring has a table of its own descriptors for whole reads
    uint32_t memory_streak; // files in a row whose first piece the page cache alone held
    whole_read* whole;      // the whole reads in flight, and their completions still to come
    size_t whole_left;
    reader_request requests[reader_slots];
    read_answer answers[reader_slots];
    size_t answer_count;
    // The pool engine's: the run's pool, a job per request, and what the pool threads post
    // under ended_lock (the slots of reads ended, the count of stats ended).
    read_pool* pool;
    bool no_wait_refused; // the kernel cannot read from memory only: every read goes to the engine
    uint64_t memory_asks; // reads asked for, for the test seam
    pool_job jobs[reader_slots];
    sync_mutex ended_lock;
    sync_condition ended_change;
    size_t posted[reader_slots];
    size_t posted_count;
    size_t stats_ended;
};

// The engine a run should read with: the ring where this build has it (reader_begin then learns
// whether the kernel offers it), else the pool.
int reader_engine_for_run();

// Makes reader ready to read with engine (the pool engine through pool, started). Returns false
// (nothing kept) when the kernel refuses.
bool reader_begin(piece_reader* reader, int engine, read_pool* pool);
// Waits for every read in flight to end, then lets the engine go.
void reader_end(piece_reader* reader);
// Turns a ring reader into a plain one, giving back the ring's descriptor: waits for the reads
// in flight, whose answers stay to be collected. Returns true when there was a ring.
bool reader_go_plain(piece_reader* reader);

// Asks for length bytes of fd from offset into buffer; answered later through reader_collect
// with tag (the plain engine reads at once).
void reader_ask(piece_reader* reader, uint64_t tag, int fd, uint8_t* buffer, size_t length,
                uint64_t offset);
// Hands the requests asked for to the kernel and moves the reads that ended to the answers;
// with wait, sleeps first until at least one has ended when none has and some are in flight.
void reader_collect(piece_reader* reader, bool wait);
// True while reads asked for are not answered yet.
bool reader_busy(const piece_reader* reader);

// Stats count (at most reader_batch) paths: errors[i] is 0 with sizes[i] and regular[i] set, or
// stat's errno value.
void reader_look(piece_reader* reader, const char* const* paths, size_t count, int* errors,
                 uint64_t* sizes, bool* regular);
// Opens count (at most reader_batch) paths as summing opens them: fds[i] is the descriptor or
// minus open's errno value.
void reader_open(piece_reader* reader, const char* const* paths, size_t count, int* fds);
// True when reader_read_whole pays: the ring engine on a tree whose files, looks and bytes, the
// page cache holds.
bool reader_reads_whole(const piece_reader* reader);
// Opens, reads from the start and closes each of count (at most reader_whole_batch) files, as
// summing opens and reads them, and sets each one's result.
void reader_read_whole(piece_reader* reader, whole_read* reads, size_t count);
