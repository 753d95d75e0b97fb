// What the threads of a run share, and the rooms that work on it: the look-ahead queue
// (look_ahead.cpp), the lane worker (lane_worker.cpp) with its reader (reader.h), and the ordered
// writer (ordered_writer.cpp); in_flight.cpp starts and ends a run. Every thread of a run follows
// one flow: look at files ahead (stat), take one for each free lane of its MD5 lane set (open,
// ask for its first piece), give each lane its piece once read and ask for the next one at once,
// let the lanes compress, and hand each finished result to the one thread that writes them all
// in command-line order. A lane owns two reused buffers, one compressed while the other is read
// into, and at most one descriptor, which it closes as soon as the file's last piece is read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "md5/md5.h"
#include "sumwell/file_steps.h"
#include "sumwell/in_flight.h"
#include "sumwell/reader.h"
#include "sumwell/sync.h"

namespace flight {

// Results that may wait for the writer: no thread looks further ahead of it than this, which
// bounds memory whatever the number of files.
constexpr uint64_t window = 4096;
// Bytes read into a lane at a time: as many as lets a whole set's buffers stay in the
// second-level cache (1 MiB or more on the processors of today) while the lanes compress them,
// within bounds that keep system calls few and a piece's digest short.
constexpr size_t set_buffer_bytes = 768 * 1024;
constexpr size_t smallest_piece = 16 * 1024;
constexpr size_t largest_piece = 64 * 1024;
// Files one thread looks at (stats) in one go, outside the lock.
constexpr uint64_t look_batch = reader_batch;
// Waiting files at least this large are also listed by size, so that the largest can be
// started early; the list keeps the largest ones that fit.
constexpr uint64_t large_file = 1 << 20;
constexpr size_t large_list_size = 64;
// Results a thread other than the writer gathers before it hands them over, unless it waits.
constexpr size_t handover_batch = 16;
// Results one thread hands over in one go at most.
constexpr size_t handover_size = md5_lane_limit + look_batch;
// Buffers start on a page boundary: the kernel copies into them a page at a time.
constexpr size_t buffer_alignment = 4096;
// Lane l's buffer starts l * (piece + lane_stagger) bytes into the set's memory. Buffers a power
// of two apart would put every lane's next block in the same few sets of the first-level cache,
// which holds only 8 lines a set: 5 lines more spread them over its sets.
constexpr size_t lane_stagger = 5 * 64;
// A lane's buffers: one compressed while the next piece is read into the other.
constexpr size_t lane_buffers = 2;

// One file's place in the window: its result and whether the result is there.
struct slot {
    file_outcome outcome;
    bool done;
};

// A file looked at and waiting for a lane; taken once a lane has it. An entry is filled once
// its file has been looked at; one whose file failed is taken at once.
struct waiting_file {
    uint64_t index;
    uint64_t size;
    bool regular;
    bool taken;
    bool filled;
};

struct worker;

// What take_files found.
enum take_result {
    TAKE_FILES,   // some files are the caller's
    TAKE_WRITE,   // the writer has a result to write first
    TAKE_LATER,   // nothing more for this thread now; there may be later
    TAKE_NOTHING, // nothing is left to take, or the run stops
};

// What every thread of a run shares; everything from slots on is guarded by lock, except the
// atomics, which let a thread open and close files, and the writer and the others look at each
// other's progress, without taking it.
struct run_state {
    const file_list* list;
    uint32_t tail;
    int threads;
    size_t lanes_in_all;    // lanes of every thread's set
    slot* slots;            // file i's result in slots[i % window]
    waiting_file* waiting;  // files looked at, in order: entry n at waiting[n % window]
    uint64_t wait_head = 0; // the first entry not known to be taken
    uint64_t wait_end = 0;  // one past the last entry, every one before it filled
    uint64_t look_end = 0;  // one past the last entry set aside for files being looked at
    uint64_t waiting_bytes = 0;
    uint64_t large[large_list_size];        // entries of waiting files of large_file bytes or more,
    size_t large_count = 0;                 // largest first
    uint64_t next_look = 0;                 // the first file nobody has looked at
    uint64_t next_write = 0;                // the first file whose result is not written yet
    uint64_t finished = 0;                  // results handed over
    std::atomic<uint64_t> handed{0};        // the same, for the writer to look at without the lock
    std::atomic<uint64_t> writing{0};       // next_write, for the other threads to look at likewise
    std::atomic<bool> stop{false};          // the writer stopped: take no more files
    std::atomic<int> descriptor_waiters{0}; // threads asleep until a descriptor closes
    worker* workers;                        // every thread's, for the files started early
    std::atomic<int> descriptors{0};        // files open in lanes, all threads together
    std::atomic<uint64_t> closes{0};        // files closed so far, rings given back included
    std::atomic<int> rings{0};              // threads that read through a ring
    std::atomic<bool> drop_rings{false};    // files lack the rings' descriptors: give them back
    read_pool pool;                         // the pool engine's threads, started only for it
    sync_mutex lock;
    sync_condition changed; // a result, a moved window, a waiting file or a closed descriptor
};

// A file in a lane: its place in the list, its descriptor (-1 once its last piece is read), the
// bytes not yet asked for, and its piece on the way.
struct lane_file {
    uint64_t index;
    int fd;
    uint64_t unasked;
    uint64_t offset;  // where the next piece asked for begins
    bool out_of_turn; // started before the files ahead of it for its size
    bool in_use;      // the lane has a file
    bool ready;       // its next piece is read and not yet given to the lane
    uint8_t next;     // the buffer its next piece is read into
    size_t length;    // that piece's bytes
};

// A finished result not yet handed to the writer.
struct handover {
    uint64_t index;
    file_outcome outcome;
};

// One thread's lanes, their buffers and files, and its results on their way to the writer.
struct worker {
    run_state* run;
    bool writer;
    md5_lanes* set;
    piece_reader reader;
    uint8_t* buffers; // lane_buffers buffers of piece bytes per lane
    size_t piece;
    lane_file files[md5_lane_limit];
    size_t busy;                        // lanes that are not free
    uint64_t held[md5_lane_limit];      // files taken for lanes and not yet started, in order,
    uint64_t held_size[md5_lane_limit]; // with the size their look found,
    bool held_whole[md5_lane_limit];    // and whether they may be read whole (regular files)
    bool held_out_of_turn[md5_lane_limit];
    size_t held_first, held_count;
    int out_of_turn;      // files started early in flight, guarded by run->lock
    size_t open_batch;    // files opened in one go: 1 after one had to wait for a descriptor
    bool gathering;       // small files are read whole: free lanes wait to be filled together
    bool held_wait;       // the first held file waits for a descriptor to close,
    uint64_t held_closes; // and the run's count of closes was this when its open began
    handover done[handover_size];
    size_t done_count;
};

// The path file i is read from, and the name its line gives it.
const char* path_of(const file_list& list, uint64_t i);
const char* name_of(const file_list& list, uint64_t i);
// Writes file i's result: through the list's report when it has one, else as its line or
// message. Returns as write_outcome does.
int write_result(const file_list& list, uint64_t i, const file_outcome& outcome, FILE* out,
                 FILE* err);

// The ordered writer (ordered_writer.cpp).
// Stores the results in their slots and wakes whoever waits, with run->lock held.
void hand_over_locked(run_state* run, const handover* done, size_t count);
// Hands the thread's finished results to the writer.
void hand_over(worker* w);
// True when w's results go to the writer now: always from the writer itself; from another
// thread a few at a time, each a lock fewer, but at once when the writer needs one of them next.
bool hands_over_now(const worker* w);
// Notes file index's result for the writer; hands the results over when the list is full.
void finish_file(worker* w, uint64_t index, const file_outcome& outcome);
// Writes the results that are ready, in order; *seen is the count of results handed over
// when the writer last found no more to write, and nothing is looked at while it is the same.
// Returns 0, or the errno value of a failed write to out (the run then stops).
int write_ready(run_state* run, uint64_t* seen, FILE* out, FILE* err);

// The look-ahead queue (look_ahead.cpp).
// Takes up to wanted files for w's free lanes into w->held, with the lock held.
take_result take_files(worker* w, sync_hold& held, size_t wanted);
// True when every file has been looked at and taken, with the lock held. Files whose look is
// still under way (another thread looks at them outside the lock) are not taken yet: a thread
// that ended at such a moment once left the other to sum every file of a short list alone.
bool nothing_left_to_take(const run_state* run);

// The lane worker (lane_worker.cpp).
// One thread's flow, the writer's included: write what is ready (the writer), fill the free
// lanes, compress, tend the lanes that ran out; until nothing is left or the writer stopped.
// Returns 0, or the errno value of the writer's first failed write to out.
int run_lanes(worker* w, FILE* out, FILE* err);

} // namespace flight
