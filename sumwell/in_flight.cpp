// The files in flight. Every thread of a run follows one flow: look at files ahead (stat), take
// one for each free lane of its MD5 lane set (open, read its first piece), let the lanes
// compress, read the next piece into each lane that ran out, and hand each finished result to
// the one thread that writes them all in command-line order. A lane owns one reused buffer and
// at most one descriptor, which it closes as soon as the file's last piece is read.
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
constexpr uint64_t look_batch = 16;
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
// The buffer of the writing thread's one lane when no memory can be had for lanes.
VT_LARGE_BUFFER alignas(buffer_alignment) uint8_t fallback_buffer[largest_piece];

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
    std::atomic<uint64_t> closes{0};        // files closed so far
    sync_mutex lock;
    sync_condition changed; // a result, a moved window, a waiting file or a closed descriptor
};

// A file in a lane: its place in the list, its descriptor (-1 once its last piece is read) and
// the bytes still to read.
struct lane_file {
    uint64_t index;
    int fd;
    uint64_t unread;
    bool early; // started before the files ahead of it for its size
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
    uint8_t* buffers; // piece bytes per lane
    size_t piece;
    lane_file files[md5_lane_limit];
    size_t busy;                   // lanes that are not free
    uint64_t held[md5_lane_limit]; // files taken for lanes and not yet started, in order
    bool held_early[md5_lane_limit];
    size_t held_first, held_count;
    int early;            // files started early in flight, guarded by run->lock
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

// Writes file i's result: through the list's report when it has one, else as its line or
// message. Returns as write_outcome does.
int write_result(const file_list& list, uint64_t i, const file_outcome& outcome, FILE* out,
                 FILE* err) {
    if (list.report != nullptr) return list.report(list.context, i, outcome, out, err);
    return write_outcome(outcome, name_of(list, i), out, err);
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
void look_ahead(run_state* run, sync_hold& held) {
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
    for (uint64_t i = first; i < end; ++i) {
        file_outcome outcome;
        uint64_t size = 0;
        bool ok = look_at(path_of(*run->list, i), run->tail, &size, &outcome);
        if (!ok) failed[failures++] = {i, outcome};
        looked[i - first] = {i, ok ? size : 0, !ok, true};
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
            look_ahead(run, held);
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
// first one's open began, and some are open or being opened.
bool held_waits(const worker* w) {
    return w->held_wait && w->run->closes.load() == w->held_closes &&
           w->run->descriptors.load() > 0;
}

// Gives back a descriptor counted in run->descriptors: closed, or never had (its open
// failed). Either way a thread waiting for a descriptor looks again.
void drop_descriptor(run_state* run, bool closed) {
    // The close is counted before the descriptor is given back: a thread whose open failed
    // while this file held its descriptor then sees at least one of the two changes. The
    // other order left a moment where it saw neither and reported the file as unopenable.
    if (closed) run->closes.fetch_add(1);
    run->descriptors.fetch_sub(1);
    // A waiter counts itself before it looks at the counts: either it sees this change, or
    // this sees it and wakes it (under the lock, so not before it sleeps).
    if (run->descriptor_waiters.load() > 0) {
        sync_hold held(run->lock);
        sync_notify_all(run->changed);
    }
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
    --w->busy;
}

// Reads lane l's file's next piece into its buffer and gives it to the lane (first: starts
// the lane); closes the file after its last piece, and finishes it at a failed read.
void read_piece(worker* w, size_t l, bool first) {
    lane_file& f = w->files[l];
    uint8_t* buffer = w->buffers + l * (w->piece + lane_stagger);
    size_t n = f.unread < w->piece ? size_t(f.unread) : w->piece;
    int status = read_exactly(f.fd, buffer, n);
    f.unread -= n;
    if (status != 0 || f.unread == 0) close_lane_file(w, l);
    if (status != 0) {
        file_outcome outcome = {OUTCOME_DIGEST, 0, {}};
        set_read_outcome(status, &outcome);
        finish_lane(w, l, outcome);
    } else if (first) {
        md5_lanes_start(w->set, l, buffer, n, f.unread == 0);
    } else {
        md5_lanes_feed(w->set, l, buffer, n, f.unread == 0);
    }
}

// Opens file index and starts it in the free lane l; a file that fails, or that is not regular
// (summed through a mapping), is finished at once. Returns false when the file must wait for
// a descriptor to close: the process has none left, but other files of the run hold some.
bool start_file(worker* w, size_t l, uint64_t index, bool early) {
    run_state* run = w->run;
    const char* path = path_of(*run->list, index);
    opened_file file;
    file_outcome outcome;
    uint64_t closes = run->closes.load();
    // The descriptor is counted before the open: a thread whose open fails meanwhile then
    // knows that this one may come free.
    run->descriptors.fetch_add(1);
    if (!open_looked_at(path, run->tail, &file, &outcome)) {
        bool opened = outcome.kind != OUTCOME_OPEN;
        drop_descriptor(run, opened);
        bool no_descriptor = !opened && (outcome.error == EMFILE || outcome.error == ENFILE);
        // Wait while another file holds a descriptor; try again at once if one closed since
        // this open began.
        bool may_free = run->descriptors.load() > 0 || run->closes.load() != closes;
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
    w->files[l] = {index, file.fd, file.size - run->tail, early};
    read_piece(w, l, true);
    return true;
}

// Hands a done lane's digest to the writer and reads the next piece of each hungry lane.
void tend_lanes(worker* w) {
    for (size_t l = 0; l < w->set->count; ++l) {
        uint8_t status = w->set->status[l];
        if (status == MD5_LANE_DONE) {
            file_outcome outcome = {OUTCOME_DIGEST, 0, {}};
            std::memcpy(outcome.digest, w->set->digest[l], 16);
            finish_lane(w, l, outcome);
        } else if (status == MD5_LANE_HUNGRY) {
            read_piece(w, l, false);
        }
    }
}

// Frees every lane of w and closes the files still open in them (the run stopped).
void abandon_lanes(worker* w) {
    for (size_t l = 0; l < w->set->count; ++l) {
        if (w->set->status[l] == MD5_LANE_FREE) continue;
        md5_lanes_free(w->set, l);
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
            if (w->set->status[l] == MD5_LANE_FREE) free_lanes[wanted++] = l;
        }
        if (wanted == 0) return TAKE_LATER;
        if (w->held_count == 0) {
            sync_hold held(w->run->lock);
            take_result got = take_files(w, held, wanted);
            if (got != TAKE_FILES) return got;
        }
        if (held_waits(w)) return TAKE_LATER;
        w->held_wait = false;
        for (size_t k = 0; k < wanted && w->held_count > 0; ++k) {
            size_t h = w->held_first;
            if (!start_file(w, free_lanes[k], w->held[h], w->held_early[h])) return TAKE_LATER;
            ++w->held_first;
            --w->held_count;
        }
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
        error = write_result(list, at + i, ready[i], out, err);
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
        if (hands_over_now(w)) hand_over(w);
        if (w->writer && (error = write_ready(w->run, &seen, out, err)) != 0) break;
        take_result got = fill_lanes(w);
        if (got == TAKE_WRITE) {
            seen = UINT64_MAX; // a result is ready: look
            continue;
        }
        if (w->run->stop.load()) break;
        bool ran = md5_lanes_run(w->set);
        tend_lanes(w);
        if (ran || w->busy > 0) continue;
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
        size_t bytes = lanes * (piece + lane_stagger);
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

// Sums the files one after another on this thread alone.
int sum_in_turn(const file_list& list, uint32_t tail, bool reader_thread, FILE* out, FILE* err) {
    for (uint64_t i = 0; i < list.count; ++i) {
        file_outcome outcome;
        sum_one(path_of(list, i), tail, reader_thread, &outcome);
        int error = write_result(list, i, outcome, out, err);
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
        workers[0].piece = sizeof fallback_buffer;
        md5_lanes_init(&fallback_set, 1);
    }
    run.threads = equipped > 0 ? equipped : 1;
    run.lanes_in_all = 0;
    run.workers = workers;
    for (int t = 0; t < run.threads; ++t) {
        workers[t].run = &run;
        workers[t].writer = t == 0;
        run.lanes_in_all += workers[t].set->count;
    }
    // A thread that cannot be started leaves fewer, not a failure.
    int started = 1;
    while (started < run.threads &&
           pthread_create(&ids[started], nullptr, work, &workers[started]) == 0) {
        ++started;
    }
    {
        sync_hold held(run.lock);
        run.threads = started;
    }
    int error = run_lanes(&workers[0], out, err);
    for (int t = 1; t < started; ++t) pthread_join(ids[t], nullptr);
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
