#include "sumwell/reader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include "selfcheck/file_io.h"
#include "sumwell/file_steps.h"
#include "sumwell/reader_ring.h"

bool sumwell_reader_plain_only = false;
bool sumwell_reader_pool_only = false;
bool sumwell_reader_memory_every_other = false;
bool sumwell_reader_whole_always = false;

void reader_answer(piece_reader* reader, reader_request* r, int status) {
    reader->answers[reader->answer_count++] = {r->tag, status};
    r->busy = false;
}

size_t reader_take_slot(piece_reader* reader) {
    size_t i = 0;
    while (reader->requests[i].busy) ++i;
    reader->requests[i].busy = true;
    return i;
}

namespace {

// Stats count paths one after another on this thread.
void stat_each(const char* const* paths, size_t count, int* errors, uint64_t* sizes,
               bool* regular) {
    for (size_t i = 0; i < count; ++i) {
        struct stat info {};
        errors[i] = stat(paths[i], &info) == 0 ? 0 : errno;
        sizes[i] = static_cast<uint64_t>(info.st_size);
        regular[i] = S_ISREG(info.st_mode);
    }
}

// A look per file that took less than warm_look_ns on the ring or the pool found the tree in
// memory; one that took more than cold_look_ns on this thread waited for the storage.
constexpr uint64_t warm_look_ns = 8000;
constexpr uint64_t cold_look_ns = 20000;

// A batch of whole reads that took more than cold_whole_ns a file waited for the storage. Small
// files are read whole again once warm_streak files in a row had their first piece in the page
// cache. Only first pieces count: on a cold tree the later pieces of a large file are mostly
// read ahead, and a streak of them sent batch after batch of small files to wait for the
// storage.
constexpr uint64_t cold_whole_ns = 10000;
constexpr uint32_t warm_streak = 64;

uint64_t monotonic_ns() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

// Posts a stat or read the pool ended to the reader that asked for it (on a pool thread).
void pool_ended(pool_job* job) {
    piece_reader* reader = static_cast<piece_reader*>(job->asker);
    sync_hold held(reader->ended_lock);
    if (job->kind == POOL_STAT) {
        ++reader->stats_ended;
    } else {
        reader->posted[reader->posted_count++] = size_t(job - reader->jobs);
    }
    sync_notify_one(reader->ended_change);
}

// Reads what of r's bytes the page cache holds, on this thread and without waiting for the
// storage (RWF_NOWAIT), so that a warm tree pays for no hand-over to the ring or the pool. True
// when it held them all; an end of the file or a failure is left to the engine's own read, which
// tells it as one call would. A kernel that cannot read from memory only is asked no more. Under
// the test seam every other read skips this, so that both ways are taken whatever the page cache
// holds.
bool read_from_memory(piece_reader* reader, reader_request& r) {
    if (sumwell_reader_memory_every_other && (reader->memory_asks++ & 1) != 0) return false;
    while (!reader->no_wait_refused && r.got < r.length) {
        iovec part = {r.buffer + r.got, r.length - r.got};
        ssize_t n = preadv2(r.fd, &part, 1, static_cast<off_t>(r.offset + r.got), RWF_NOWAIT);
        if (n <= 0) {
            if (n < 0 && (errno == EOPNOTSUPP || errno == EINVAL)) reader->no_wait_refused = true;
            break;
        }
        r.got += static_cast<size_t>(n);
    }
    bool whole = r.got == r.length;
    if (r.offset == 0) reader->memory_streak = whole ? reader->memory_streak + 1 : 0;
    return whole;
}

// Hands the bytes of the request in slot that memory did not hold to the pool.
void ask_pool(piece_reader* reader, size_t slot) {
    reader_request& r = reader->requests[slot];
    pool_job& job = reader->jobs[slot];
    job = {.kind = POOL_READ,
           .fd = r.fd,
           .buffer = r.buffer + r.got,
           .length = r.length - r.got,
           .offset = r.offset + r.got,
           .ended = pool_ended,
           .asker = reader};
    ++reader->in_flight;
    pool_hand(reader->pool, &job);
}

// Moves the reads the pool ended to the answers; with wait, sleeps first until one has ended
// when none has and some are in flight.
void collect_pool(piece_reader* reader, bool wait) {
    sync_hold held(reader->ended_lock);
    while (wait && reader->posted_count == 0 && reader->answer_count == 0 &&
           reader->in_flight > 0) {
        sync_wait(reader->ended_change, held);
    }
    for (size_t i = 0; i < reader->posted_count; ++i) {
        size_t slot = reader->posted[i];
        reader_answer(reader, &reader->requests[slot], reader->jobs[slot].status);
        --reader->in_flight;
    }
    reader->posted_count = 0;
}

// Stats count paths together on the pool.
void stat_on_pool(piece_reader* reader, const char* const* paths, size_t count, int* errors,
                  uint64_t* sizes, bool* regular) {
    {
        sync_hold held(reader->ended_lock);
        reader->stats_ended = 0;
    }
    size_t slots[reader_batch];
    for (size_t i = 0; i < count; ++i) {
        slots[i] = reader_take_slot(reader);
        reader->requests[slots[i]].tag = reader_call_tag;
        pool_job& job = reader->jobs[slots[i]];
        job = {.kind = POOL_STAT, .path = paths[i], .ended = pool_ended, .asker = reader};
        pool_hand(reader->pool, &job);
    }
    {
        sync_hold held(reader->ended_lock);
        while (reader->stats_ended < count) sync_wait(reader->ended_change, held);
    }
    for (size_t i = 0; i < count; ++i) {
        errors[i] = reader->jobs[slots[i]].status;
        sizes[i] = reader->jobs[slots[i]].size;
        regular[i] = reader->jobs[slots[i]].regular;
        reader->requests[slots[i]].busy = false;
    }
}

} // namespace

int reader_engine_for_run() {
    if (sumwell_reader_plain_only) return READER_PLAIN;
    if (sumwell_reader_pool_only) return READER_POOL;
    return READER_RING;
}

bool reader_begin(piece_reader* reader, int engine, read_pool* pool) {
    reader->engine = READER_PLAIN;
    reader->pool = nullptr;
    reader->no_wait_refused = false;
    reader->memory_asks = 0;
    reader->posted_count = 0;
    reader->stats_ended = 0;
    reader->ended_lock = sync_mutex{};
    reader->ended_change = sync_condition{};
    if (engine == READER_POOL) {
        if (pool == nullptr) return false;
        reader->engine = READER_POOL;
        reader->pool = pool;
    }
    reader->ring = nullptr;
    reader->in_flight = 0;
    reader->unsubmitted = 0;
    reader->answer_count = 0;
    reader->plain_looks = false;
    reader->whole_files = false;
    reader->memory_streak = 0;
    reader->whole = nullptr;
    reader->whole_left = 0;
    for (reader_request& r : reader->requests) r.busy = false;
    if (engine == READER_RING) {
        if (!ring_begin(reader)) return false;
        reader->engine = READER_RING;
    }
    return true;
}

void reader_end(piece_reader* reader) {
    if (reader->engine == READER_POOL) {
        while (reader->in_flight > 0) collect_pool(reader, true);
    }
    reader_go_plain(reader);
    reader->answer_count = 0;
}

bool reader_go_plain(piece_reader* reader) {
    if (reader->engine != READER_RING) return false;
    ring_end(reader);
    reader->engine = READER_PLAIN;
    return true;
}

void reader_ask(piece_reader* reader, uint64_t tag, int fd, uint8_t* buffer, size_t length,
                uint64_t offset) {
    size_t slot = reader_take_slot(reader);
    reader_request& r = reader->requests[slot];
    r = {.tag = tag,
         .fd = fd,
         .buffer = buffer,
         .length = length,
         .got = 0,
         .offset = offset,
         .status = 0,
         .busy = true};
    if (reader->engine != READER_PLAIN && read_from_memory(reader, r)) {
        reader_answer(reader, &r, 0);
    } else if (reader->engine == READER_POOL) {
        ask_pool(reader, slot);
    } else if (reader->engine == READER_RING) {
        ring_ask(reader, slot);
    } else {
        reader_answer(reader, &r, read_exactly_at(fd, buffer, length, int64_t(offset)));
    }
}

void reader_collect(piece_reader* reader, bool wait) {
    if (reader->engine == READER_POOL) collect_pool(reader, wait);
    if (reader->engine == READER_RING) ring_collect(reader, wait);
}

bool reader_busy(const piece_reader* reader) {
    return reader->in_flight + reader->unsubmitted > 0;
}

void reader_look(piece_reader* reader, const char* const* paths, size_t count, int* errors,
                 uint64_t* sizes, bool* regular) {
    // A stat on a ring or the pool runs on another thread, which costs a warm tree more than
    // the stat itself: they look only while looks take long enough to be waits for the
    // storage, timed batch by batch.
    if ((reader->engine == READER_RING || reader->engine == READER_POOL) && count > 0) {
        uint64_t began = monotonic_ns();
        if (reader->plain_looks) {
            stat_each(paths, count, errors, sizes, regular);
            reader->plain_looks = monotonic_ns() - began < count * cold_look_ns;
            return;
        }
        if (reader->engine == READER_POOL) {
            stat_on_pool(reader, paths, count, errors, sizes, regular);
        } else {
            ring_look(reader, paths, count, errors, sizes, regular);
        }
        reader->plain_looks = monotonic_ns() - began < count * warm_look_ns;
        return;
    }
    stat_each(paths, count, errors, sizes, regular);
}

void reader_open(piece_reader* reader, const char* const* paths, size_t count, int* fds) {
    if (reader->engine == READER_RING) {
        ring_open(reader, paths, count, fds);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        int fd = open(paths[i], summing_open_flags);
        fds[i] = fd >= 0 ? fd : -errno;
    }
}

bool reader_reads_whole(const piece_reader* reader) {
    if (reader->engine != READER_RING || !reader->whole_files) return false;
    return sumwell_reader_whole_always ||
           (reader->plain_looks && reader->memory_streak >= warm_streak);
}

void reader_read_whole(piece_reader* reader, whole_read* reads, size_t count) {
    uint64_t began = monotonic_ns();
    ring_read_whole(reader, reads, count);
    // A batch that waited for the storage leaves the next files to the lanes' own reads, which
    // keep more of them in flight while the lanes compress.
    if (monotonic_ns() - began > count * cold_whole_ns) reader->memory_streak = 0;
}
