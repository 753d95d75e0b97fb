// The files in flight. Every thread of a run follows one flow: look at files ahead (stat), take
// one for each free lane of its MD5 lane set (open, ask for its first piece), give each lane its
// piece once read and ask for the next one at once, let the lanes compress, and hand each
// finished result to the one thread that writes them all in command-line order. The stats,
// opens and reads go through the thread's reader (reader.h), which keeps them in flight
// together where the kernel allows. A lane owns two reused buffers, one compressed while the
// other is read into, and at most one descriptor, which it closes as soon as the file's last
// piece is read.
#include "sumwell/in_flight.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "md5/md5.h"
#include "sumwell/file_steps.h"
#include "sumwell/reader.h"
#include "sumwell/sync.h"

namespace {

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
// The buffers of the writing thread's one lane when no memory can be had for lanes.
VT_LARGE_BUFFER alignas(buffer_alignment) uint8_t
    fallback_buffer[lane_buffers * (largest_piece + lane_stagger)];

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
    bool taken;
    bool filled;
};

struct worker;

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
    sync_mutex lock;
    sync_condition changed; // a result, a moved window, a waiting file or a closed descriptor
};

// A file in a lane: its place in the list, its descriptor (-1 once its last piece is read), the
// bytes not yet asked for, and its piece on the way.
struct lane_file {
    uint64_t index;
    int fd;
    uint64_t unasked;
    uint64_t offset; // where the next piece asked for begins
    bool early;      // started before the files ahead of it for its size
    bool in_use;     // the lane has a file
    bool ready;      // its next piece is read and not yet given to the lane
    uint8_t next;    // the buffer its next piece is read into
    size_t length;   // that piece's bytes
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
    size_t busy;                   // lanes that are not free
    uint64_t held[md5_lane_limit]; // files taken for lanes and not yet started, in order
    bool held_early[md5_lane_limit];
    size_t held_first, held_count;
    int early;            // files started early in flight, guarded by run->lock
    size_t open_batch;    // files opened in one go: 1 after one had to wait for a descriptor
    bool held_wait;       // the first held file waits for a descriptor to close,
    uint64_t held_closes; // and the run's count of closes was this when its open began
    handover done[handover_size];
    size_t done_count;
};

const char* path_of(const file_list& list, uint64_t i) {
    return list.repeated_path != nullptr ? list.repeated_path : list.paths[i];
}

const char* name_of(const file_list& list, uint64_t i) {
    return list.repeated_path != nullptr ? list.repeated_name : list.paths[i];
}

// Stores the results in their slots and wakes whoever waits, with run->lock held.
void hand_over_locked(run_state* run, const handover* done, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        slot& s = run->slots[done[i].index % window];
        s.outcome = done[i].outcome;
        s.done = true;
    }
    run->finished += count;
    run->handed.store(run->finished);
    if (count > 0) sync_notify_all(run->changed);
}

// Hands the thread's finished results to the writer.
void hand_over(worker* w) {
    if (w->done_count == 0) return;
    sync_hold held(w->run->lock);
    hand_over_locked(w->run, w->done, w->done_count);
    w->done_count = 0;
}

// True when w's results go to the writer now: always from the writer itself; from another
// thread a few at a time, each a lock fewer, but at once when the writer needs one of them next.
bool hands_over_now(const worker* w) {
    if (w->writer || w->done_count >= handover_batch) return true;
    uint64_t next = w->run->writing.load();
    for (size_t i = 0; i < w->done_count; ++i) {
        if (w->done[i].index == next) return true;
    }
    return false;
}

// Notes file index's result for the writer; hands the results over when the list is full.
void finish_file(worker* w, uint64_t index, const file_outcome& outcome) {
    if (w->done_count == handover_size) hand_over(w);
    w->done[w->done_count++] = {index, outcome};
}

// True when waiting entry n has been taken (the entries before wait_head all have: their
// places may hold newer entries by now).
bool entry_taken(const run_state* run, uint64_t n) {
    return n < run->wait_head || run->waiting[n % window].taken;
}

// Adds the waiting file at entry n to the list of large ones, largest first (among equals, the
// first on the command line first), dropping the entries taken meanwhile; with the lock held.
void list_large(run_state* run, uint64_t n) {
    size_t kept = 0;
    for (size_t i = 0; i < run->large_count; ++i) {
        if (!entry_taken(run, run->large[i])) run->large[kept++] = run->large[i];
    }
    run->large_count = kept;
    uint64_t size = run->waiting[n % window].size;
    size_t at = run->large_count;
    if (at == large_list_size) {
        if (run->waiting[run->large[at - 1] % window].size >= size) return;
        --at;
    } else {
        ++run->large_count;
    }
    while (at > 0 && run->waiting[run->large[at - 1] % window].size < size) {
        run->large[at] = run->large[at - 1];
        --at;
    }
    run->large[at] = n;
}

// Looks at the next files nobody has looked at, with the lock held on entry and exit but not
// meanwhile: those that fail are finished, the others wait for a lane. Each file has its entry
// set aside before the look, so the files wait in command-line order even when two threads'
// looks end in the other order: appended as each look ended, the first files once waited
// behind a hundred larger ones, and the writer, which needs the first file's result first,
// waited for hours for a lane to free.
void look_ahead(worker* w, sync_hold& held) {
    run_state* run = w->run;
    uint64_t first = run->next_look;
    uint64_t end = first + look_batch;
    if (end > run->list->count) end = run->list->count;
    if (end > run->next_write + window) end = run->next_write + window;
    run->next_look = end;
    uint64_t entry = run->look_end;
    run->look_end += end - first;
    for (uint64_t n = entry; n < run->look_end; ++n) run->waiting[n % window].filled = false;
    handover failed[look_batch];
    waiting_file looked[look_batch];
    size_t failures = 0;
    pthread_mutex_unlock(held.locked);
    const char* paths[look_batch];
    int errors[look_batch];
    uint64_t sizes[look_batch];
    for (uint64_t i = first; i < end; ++i) paths[i - first] = path_of(*run->list, i);
    reader_look(&w->reader, paths, size_t(end - first), errors, sizes);
    for (uint64_t i = first; i < end; ++i) {
        file_outcome outcome;
        uint64_t size = 0;
        size_t k = size_t(i - first);
        bool ok = looked_at(paths[k], errors[k], sizes[k], run->tail, &size, &outcome);
        if (!ok) failed[failures++] = {i, outcome};
        looked[k] = {i, ok ? size : 0, !ok, true};
    }
    pthread_mutex_lock(held.locked);
    hand_over_locked(run, failed, failures);
    for (uint64_t i = first; i < end; ++i, ++entry) {
        const waiting_file& f = looked[i - first];
        run->waiting[entry % window] = f;
        run->waiting_bytes += f.size;
        if (!f.taken && f.size >= large_file) list_large(run, entry);
    }
    while (run->wait_end < run->look_end && run->waiting[run->wait_end % window].filled) {
        ++run->wait_end;
    }
    while (run->wait_head < run->wait_end && run->waiting[run->wait_head % window].taken) {
        ++run->wait_head;
    }
    sync_notify_all(run->changed);
}

// Takes waiting entry n for the caller, with the lock held; returns its file.
uint64_t take_entry(run_state* run, uint64_t n) {
    waiting_file& f = run->waiting[n % window];
    f.taken = true;
    run->waiting_bytes -= f.size;
    while (run->wait_head < run->wait_end && run->waiting[run->wait_head % window].taken) {
        ++run->wait_head;
    }
    return f.index;
}

// The waiting entry for w to start next, with the lock held: the first one, unless the
// largest is so large that it would be left to finish last in a lane of its own. Every lane
// advances at the same pace, so a file larger than a lane's share of the waiting bytes starts
// now, on a thread that has no more of such files than any other: two of them on one thread
// would be left to finish there one after the other. Sets *early when it is such a file.
uint64_t next_entry(run_state* run, const worker* w, bool* early) {
    *early = false;
    while (run->large_count > 0 && entry_taken(run, run->large[0])) {
        --run->large_count;
        std::memmove(run->large, run->large + 1, run->large_count * sizeof run->large[0]);
    }
    if (run->large_count == 0) return run->wait_head;
    uint64_t n = run->large[0];
    if (run->waiting[n % window].size <= run->waiting_bytes / run->lanes_in_all) {
        return run->wait_head;
    }
    for (int t = 0; t < run->threads; ++t) {
        if (run->workers[t].early < w->early) return run->wait_head;
    }
    *early = true;
    return n;
}

// What take_files found.
enum take_result {
    TAKE_FILES,   // some files are the caller's
    TAKE_WRITE,   // the writer has a result to write first
    TAKE_LATER,   // nothing more for this thread now; there may be later
    TAKE_NOTHING, // nothing is left to take, or the run stops
};

// Takes up to wanted files for w's free lanes into w->held, with the lock held.
take_result take_files(worker* w, sync_hold& held, size_t wanted) {
    run_state* run = w->run;
    if (run->stop) return TAKE_NOTHING;
    if (w->writer && run->next_write < run->list->count &&
        run->slots[run->next_write % window].done) {
        return TAKE_WRITE;
    }
    // Threads share the files left: none takes more than its part while others could.
    uint64_t left = run->list->count - run->finished;
    uint64_t share = (left + uint64_t(run->threads) - 1) / uint64_t(run->threads);
    w->held_first = 0;
    w->held_count = 0;
    while (w->held_count < wanted && w->busy + w->held_count < share) {
        // Look further ahead while the window has room, so that large files are seen early.
        if (run->next_look < run->list->count && run->next_look < run->next_write + window &&
            run->look_end - run->wait_head <= window - look_batch) {
            look_ahead(w, held);
            if (run->stop) return TAKE_NOTHING;
            continue;
        }
        if (run->wait_head == run->wait_end) break;
        bool early;
        uint64_t n = next_entry(run, w, &early);
        w->held_early[w->held_count] = early;
        w->early += early;
        w->held[w->held_count++] = take_entry(run, n);
    }
    if (w->held_count > 0) return TAKE_FILES;
    if (run->next_look >= run->list->count && run->wait_head == run->wait_end) {
        return TAKE_NOTHING;
    }
    return TAKE_LATER;
}

// True when the held files wait for a descriptor: none of the run's files has closed since the
// first one's open began, and some are open or being opened, or rings asked for are still to be
// given back.
bool held_waits(const worker* w) {
    const run_state* run = w->run;
    return w->held_wait && run->closes.load() == w->held_closes &&
           (run->descriptors.load() > 0 || (run->drop_rings.load() && run->rings.load() > 0));
}

// Wakes the threads asleep until a descriptor closes.
void wake_descriptor_waiters(run_state* run) {
    // A waiter counts itself before it looks at the counts: either it sees the change, or this
    // sees it and wakes it (under the lock, so not before it sleeps).
    if (run->descriptor_waiters.load() > 0) {
        sync_hold held(run->lock);
        sync_notify_all(run->changed);
    }
}

// Gives w's ring back once the run's files lack descriptors, counted as a close so that a file
// waiting for a descriptor tries again; the reads in flight end first, and w reads plainly on.
void drop_ring(worker* w) {
    run_state* run = w->run;
    if (!run->drop_rings.load() || !reader_go_plain(&w->reader)) return;
    run->rings.fetch_sub(1);
    run->closes.fetch_add(1);
    wake_descriptor_waiters(run);
}

// Gives back a descriptor counted in run->descriptors: closed, or never had (its open
// failed). Either way a thread waiting for a descriptor looks again.
void drop_descriptor(run_state* run, bool closed) {
    // The close is counted before the descriptor is given back: a thread whose open failed
    // while this file held its descriptor then sees at least one of the two changes. The
    // other order left a moment where it saw neither and reported the file as unopenable.
    if (closed) run->closes.fetch_add(1);
    run->descriptors.fetch_sub(1);
    wake_descriptor_waiters(run);
}

// Closes lane l's file, whose last piece is read or whose read failed.
void close_lane_file(worker* w, size_t l) {
    close(w->files[l].fd);
    w->files[l].fd = -1;
    drop_descriptor(w->run, true);
}

// Counts a file started early as no longer in flight.
void end_early(worker* w, bool early) {
    if (!early) return;
    sync_hold held(w->run->lock);
    --w->early;
}

// Notes the result of lane l's file and frees the lane.
void finish_lane(worker* w, size_t l, const file_outcome& outcome) {
    md5_lanes_free(w->set, l);
    finish_file(w, w->files[l].index, outcome);
    end_early(w, w->files[l].early);
    w->files[l].in_use = false;
    --w->busy;
}

// Lane l's buffer b.
uint8_t* lane_buffer(const worker* w, size_t l, size_t b) {
    return w->buffers + (l * lane_buffers + b) * (w->piece + lane_stagger);
}

// Asks the reader for lane l's file's next piece, into the buffer the lane does not hold.
void ask_piece(worker* w, size_t l) {
    lane_file& f = w->files[l];
    f.length = f.unasked < w->piece ? size_t(f.unasked) : w->piece;
    reader_ask(&w->reader, l, f.fd, lane_buffer(w, l, f.next), f.length, f.offset);
    f.offset += f.length;
    f.unasked -= f.length;
}

// Takes the reader's answers: a piece read waits for its lane; the file is closed after its
// last piece, and finished at a failed read.
void take_answers(worker* w) {
    piece_reader& reader = w->reader;
    for (size_t i = 0; i < reader.answer_count; ++i) {
        size_t l = size_t(reader.answers[i].tag);
        int status = reader.answers[i].status;
        if (status != 0 || w->files[l].unasked == 0) close_lane_file(w, l);
        if (status != 0) {
            file_outcome outcome = {OUTCOME_DIGEST, 0, {}};
            set_read_outcome(status, &outcome);
            finish_lane(w, l, outcome);
        } else {
            w->files[l].ready = true;
        }
    }
    reader.answer_count = 0;
}

// Gives each lane that can take one its piece read (the first one starts the lane), and asks
// for the piece after it.
void give_pieces(worker* w) {
    for (size_t l = 0; l < w->set->count; ++l) {
        lane_file& f = w->files[l];
        if (!f.in_use || !f.ready) continue;
        uint8_t status = w->set->status[l];
        const uint8_t* piece = lane_buffer(w, l, f.next);
        bool last = f.unasked == 0;
        if (status == MD5_LANE_FREE) {
            md5_lanes_start(w->set, l, piece, f.length, last);
        } else if (status == MD5_LANE_HUNGRY) {
            md5_lanes_feed(w->set, l, piece, f.length, last);
        } else {
            continue;
        }
        f.ready = false;
        f.next ^= 1;
        if (!last) ask_piece(w, l);
    }
}

// Starts file index, opened as fd (or minus open's errno value), in the free lane l; a file
// that fails, or that is not regular (summed through a mapping), is finished at once. closes is
// the run's count of closes when its open began. Returns false when the file must wait for a
// descriptor to close: the process has none left, but other files of the run hold some.
bool start_file(worker* w, size_t l, uint64_t index, bool early, int fd, uint64_t closes) {
    run_state* run = w->run;
    const char* path = path_of(*run->list, index);
    opened_file file;
    file_outcome outcome;
    if (!opened(path, fd, run->tail, &file, &outcome)) {
        bool was_opened = outcome.kind != OUTCOME_OPEN;
        drop_descriptor(run, was_opened);
        bool no_descriptor = !was_opened && (outcome.error == EMFILE || outcome.error == ENFILE);
        // Wait while another file holds a descriptor; try again at once if one closed since
        // this open began.
        bool may_free = run->descriptors.load() > 0 || run->closes.load() != closes;
        if (no_descriptor && !may_free && run->rings.load() > 0) {
            // Only the rings hold descriptors: every thread gives its own back, this one now.
            run->drop_rings.store(true);
            {
                sync_hold held(run->lock);
                sync_notify_all(run->changed);
            }
            drop_ring(w);
            may_free = true;
        }
        if (no_descriptor && may_free) {
            w->held_wait = true;
            w->held_closes = closes;
            return false;
        }
        finish_file(w, index, outcome);
        end_early(w, early);
        return true;
    }
    if (!file.regular) {
        sum_mapped(&file, run->tail, &outcome);
        drop_descriptor(run, true);
        finish_file(w, index, outcome);
        end_early(w, early);
        return true;
    }
    ++w->busy;
    w->files[l] = {index, file.fd, file.size - run->tail, 0, early, true, false, 0, 0};
    ask_piece(w, l);
    return true;
}

// Opens the first held files, as many as there are free lanes (count of them) up to a batch,
// and starts them. Returns false when one must wait for a descriptor: it and the files after
// it stay held, those of them that opened closed again. The opens of a batch may end in any
// order, so a later file can take the last descriptor from an earlier one: after that, files
// are opened one at a time (as many again after each batch that all opened), or two threads
// could keep taking descriptors from each other's first files for ever.
bool start_held(worker* w, const size_t* lanes, size_t count) {
    run_state* run = w->run;
    if (count > w->held_count) count = w->held_count;
    if (count > w->open_batch) count = w->open_batch;
    const char* paths[reader_batch];
    int fds[reader_batch];
    for (size_t k = 0; k < count; ++k) paths[k] = path_of(*run->list, w->held[w->held_first + k]);
    uint64_t closes = run->closes.load();
    // The descriptors are counted before the opens: a thread whose open fails meanwhile then
    // knows that these may come free.
    run->descriptors.fetch_add(int(count));
    reader_open(&w->reader, paths, count, fds);
    size_t k = 0;
    for (; k < count; ++k) {
        size_t h = w->held_first;
        if (!start_file(w, lanes[k], w->held[h], w->held_early[h], fds[k], closes)) break;
        ++w->held_first;
        --w->held_count;
    }
    for (size_t after = k + 1; after < count; ++after) {
        if (fds[after] >= 0) close(fds[after]);
        drop_descriptor(run, fds[after] >= 0);
    }
    if (k < count) {
        w->open_batch = 1;
        return false;
    }
    if (w->open_batch < reader_batch) w->open_batch *= 2;
    return true;
}

// Finishes each lane whose digest is done.
void finish_done_lanes(worker* w) {
    for (size_t l = 0; l < w->set->count; ++l) {
        if (w->set->status[l] != MD5_LANE_DONE) continue;
        file_outcome outcome = {OUTCOME_DIGEST, 0, {}};
        std::memcpy(outcome.digest, w->set->digest[l], 16);
        finish_lane(w, l, outcome);
    }
}

// Frees every lane of w and closes the files still open in them (the run stopped), once the
// reads in flight into their buffers have ended.
void abandon_lanes(worker* w) {
    while (reader_busy(&w->reader)) reader_collect(&w->reader, true);
    w->reader.answer_count = 0;
    for (size_t l = 0; l < w->set->count; ++l) {
        if (!w->files[l].in_use) continue;
        md5_lanes_free(w->set, l);
        w->files[l].in_use = false;
        if (w->files[l].fd >= 0) close_lane_file(w, l);
    }
    w->busy = 0;
}

// Gives a file to each free lane of w while there is one for it. Returns what stopped it.
take_result fill_lanes(worker* w) {
    for (;;) {
        size_t free_lanes[md5_lane_limit];
        size_t wanted = 0;
        for (size_t l = 0; l < w->set->count; ++l) {
            if (!w->files[l].in_use) free_lanes[wanted++] = l;
        }
        if (wanted == 0) return TAKE_LATER;
        if (w->held_count == 0) {
            sync_hold held(w->run->lock);
            take_result got = take_files(w, held, wanted);
            if (got != TAKE_FILES) return got;
        }
        if (held_waits(w)) return TAKE_LATER;
        w->held_wait = false;
        if (!start_held(w, free_lanes, wanted)) return TAKE_LATER;
    }
}

// Writes the results that are ready, in order; *seen is the count of results handed over
// when the writer last found no more to write, and nothing is looked at while it is the same.
// Returns 0, or the errno value of a failed write to out (the run then stops).
int write_ready(run_state* run, uint64_t* seen, FILE* out, FILE* err) {
    const file_list& list = *run->list;
    constexpr size_t batch = 64;
    file_outcome ready[batch];
    size_t taken = 0;
    uint64_t at;
    uint64_t handed = run->handed.load();
    if (handed == *seen) return 0;
    {
        sync_hold held(run->lock);
        at = run->next_write;
        while (taken < batch && at + taken < list.count) {
            slot& s = run->slots[(at + taken) % window];
            if (!s.done) break;
            ready[taken++] = s.outcome;
            s.done = false;
        }
    }
    if (taken < batch) *seen = handed;
    if (taken == 0) return 0;
    int error = 0;
    for (size_t i = 0; i < taken && error == 0; ++i) {
        error = write_outcome(ready[i], name_of(list, at + i), out, err);
    }
    sync_hold held(run->lock);
    run->next_write = at + taken;
    run->writing.store(at + taken);
    if (error != 0) run->stop = true;
    sync_notify_all(run->changed);
    return error;
}

// Sleeps until there may be something for w, which has no lane busy: a result for the writer,
// a moved window, a waiting file, a closed descriptor. Returns false when nothing is left.
bool wait_for_work(worker* w) {
    run_state* run = w->run;
    sync_hold held(run->lock);
    for (;;) {
        if (run->stop) return false;
        if (run->drop_rings.load() && w->reader.engine == READER_RING) return true;
        if (w->writer) {
            if (run->next_write >= run->list->count) return false;
            if (run->slots[run->next_write % window].done) return true;
        }
        bool for_descriptor = w->held_count > 0;
        if (for_descriptor) {
            run->descriptor_waiters.fetch_add(1);
            if (!held_waits(w)) {
                run->descriptor_waiters.fetch_sub(1);
                return true;
            }
        } else {
            if (run->wait_head < run->wait_end) return true;
            bool unlooked = run->next_look < run->list->count;
            if (unlooked && run->next_look < run->next_write + window) return true;
            if (!unlooked && !w->writer) return false;
        }
        sync_wait(run->changed, held);
        if (for_descriptor) run->descriptor_waiters.fetch_sub(1);
    }
}

// One thread's flow, the writer's included: write what is ready (the writer), fill the free
// lanes, compress, tend the lanes that ran out; until nothing is left or the writer stopped.
// Returns 0, or the errno value of the writer's first failed write to out.
int run_lanes(worker* w, FILE* out, FILE* err) {
    int error = 0;
    uint64_t seen = 0;
    for (;;) {
        drop_ring(w);
        if (hands_over_now(w)) hand_over(w);
        if (w->writer && (error = write_ready(w->run, &seen, out, err)) != 0) break;
        take_result got = fill_lanes(w);
        if (got == TAKE_WRITE) {
            seen = UINT64_MAX; // a result is ready: look
            continue;
        }
        if (w->run->stop.load()) break;
        reader_collect(&w->reader, false);
        take_answers(w);
        give_pieces(w);
        bool ran = md5_lanes_run(w->set);
        finish_done_lanes(w);
        if (ran) continue;
        if (w->busy > 0) {
            // Every busy lane waits for its piece: let the writer have the results first.
            if (reader_busy(&w->reader)) {
                hand_over(w);
                reader_collect(&w->reader, true);
            }
            continue;
        }
        hand_over(w);
        if (got == TAKE_NOTHING && !w->writer) break;
        if (!wait_for_work(w)) break;
    }
    abandon_lanes(w);
    hand_over(w);
    return error;
}

void* work(void* argument) {
    run_lanes(static_cast<worker*>(argument), nullptr, nullptr);
    return nullptr;
}

// Gives w a lane set and its buffers: as many lanes as memory allows, at most lanes. Returns
// false when not even one lane's memory can be had.
bool equip(worker* w, size_t lanes) {
    w->set = static_cast<md5_lanes*>(malloc(sizeof(md5_lanes)));
    if (w->set == nullptr) return false;
    size_t piece = set_buffer_bytes / lanes;
    piece = piece < smallest_piece ? smallest_piece : piece > largest_piece ? largest_piece : piece;
    w->piece = piece;
    for (; lanes > 0; lanes /= 2) {
        size_t bytes = lanes * lane_buffers * (piece + lane_stagger);
        bytes = (bytes + buffer_alignment - 1) / buffer_alignment * buffer_alignment;
        w->buffers = static_cast<uint8_t*>(aligned_alloc(buffer_alignment, bytes));
        if (w->buffers != nullptr) break;
    }
    if (lanes == 0) {
        free(w->set);
        w->set = nullptr;
        return false;
    }
    md5_lanes_init(w->set, lanes);
    return true;
}

void unequip(worker* w) {
    free(w->buffers);
    free(w->set);
}

// Gives each of run's count workers a reader, all with the engine chosen for the run; all read
// plainly when the kernel refuses a ring to any of them.
void begin_readers(run_state* run, worker* workers, int count) {
    int engine = reader_engine_for_run();
    int begun = 0;
    while (begun < count && reader_begin(&workers[begun].reader, engine)) ++begun;
    if (begun == count) {
        run->rings.store(engine == READER_RING ? count : 0);
        return;
    }
    for (int t = 0; t < begun; ++t) reader_end(&workers[t].reader);
    for (int t = 0; t < count; ++t) reader_begin(&workers[t].reader, READER_PLAIN);
}

// Sums the files one after another on this thread alone.
int sum_in_turn(const file_list& list, uint32_t tail, bool reader_thread, FILE* out, FILE* err) {
    for (uint64_t i = 0; i < list.count; ++i) {
        int error = sum_file(path_of(list, i), name_of(list, i), tail, reader_thread, out, err);
        if (error != 0) return error;
    }
    return 0;
}

// Sums the list on up to threads threads: this one writes, every one runs lanes.
int sum_with_lanes(const file_list& list, uint32_t tail, int threads, FILE* out, FILE* err) {
    run_state run;
    run.list = &list;
    run.tail = tail;
    run.slots = static_cast<slot*>(calloc(window, sizeof(slot)));
    run.waiting = static_cast<waiting_file*>(calloc(window, sizeof(waiting_file)));
    worker* workers = static_cast<worker*>(calloc(size_t(threads), sizeof(worker)));
    pthread_t* ids = static_cast<pthread_t*>(calloc(size_t(threads), sizeof(pthread_t)));
    if (run.slots == nullptr || run.waiting == nullptr || workers == nullptr || ids == nullptr) {
        free(run.slots);
        free(run.waiting);
        free(workers);
        free(ids);
        return sum_in_turn(list, tail, false, out, err);
    }
    size_t lanes = md5_lanes_capacity();
    int equipped = 0;
    for (int t = 0; t < threads && equip(&workers[t], lanes); ++t) equipped = t + 1;
    if (equipped == 0) {
        // Not even one lane's memory: the writer digests with one lane in a static buffer.
        VT_LARGE_BUFFER static md5_lanes fallback_set;
        workers[0].set = &fallback_set;
        workers[0].buffers = fallback_buffer;
        workers[0].piece = largest_piece;
        md5_lanes_init(&fallback_set, 1);
    }
    run.threads = equipped > 0 ? equipped : 1;
    begin_readers(&run, workers, run.threads);
    run.lanes_in_all = 0;
    run.workers = workers;
    for (int t = 0; t < run.threads; ++t) {
        workers[t].run = &run;
        workers[t].writer = t == 0;
        workers[t].open_batch = reader_batch;
        run.lanes_in_all += workers[t].set->count;
    }
    // A thread that cannot be started leaves fewer, not a failure.
    int started = 1;
    while (started < run.threads &&
           pthread_create(&ids[started], nullptr, work, &workers[started]) == 0) {
        ++started;
    }
    int run_threads = run.threads;
    // The rings of threads that did not start are given back: no file waits for them.
    for (int t = started; t < run_threads; ++t) {
        if (reader_go_plain(&workers[t].reader)) run.rings.fetch_sub(1);
    }
    {
        sync_hold held(run.lock);
        run.threads = started;
    }
    int error = run_lanes(&workers[0], out, err);
    for (int t = 1; t < started; ++t) pthread_join(ids[t], nullptr);
    for (int t = 0; t < run_threads; ++t) reader_end(&workers[t].reader);
    for (int t = 0; t < equipped; ++t) unequip(&workers[t]);
    free(run.slots);
    free(run.waiting);
    free(workers);
    free(ids);
    return error;
}

} // namespace

int usable_processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

int sum_in_flight(const file_list& list, uint32_t tail, int threads, FILE* out, FILE* err) {
    if (list.count == 0) return 0;
    // One file has nothing to share the processors with but its own reads.
    if (list.count == 1) return sum_in_turn(list, tail, threads > 1, out, err);
    if (static_cast<uint64_t>(threads) > list.count) threads = static_cast<int>(list.count);
    return sum_with_lanes(list, tail, threads, out, err);
}
