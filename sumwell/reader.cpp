#include "sumwell/reader.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include "selfcheck/file_io.h"
#include "sumwell/file_steps.h"

#if VT_HAVE_URING
#include <liburing.h>
#endif

// Memcheck does not see the kernel write through a ring: where its header is at hand, the
// bytes a completed stat or read wrote are marked as written (a no-op outside it).
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define KERNEL_WROTE(address, length) (void)VALGRIND_MAKE_MEM_DEFINED(address, length)
#else
#define KERNEL_WROTE(address, length) (void)(address)
#endif

bool sumwell_reader_plain_only = false;
bool sumwell_reader_pool_only = false;
bool sumwell_reader_memory_every_other = false;

namespace {

// The tag of a request that is a stat or an open, whose result its caller waits for; every
// other request is a read, answered through the answers.
constexpr uint64_t call_tag = UINT64_MAX;

// Answers a read: hands its ending to the asker and frees its slot.
void answer(piece_reader* reader, reader_request* r, int status) {
    reader->answers[reader->answer_count++] = {r->tag, status};
    r->busy = false;
}

// Stats count paths one after another on this thread.
void stat_each(const char* const* paths, size_t count, int* errors, uint64_t* sizes) {
    for (size_t i = 0; i < count; ++i) {
        struct stat info {};
        errors[i] = stat(paths[i], &info) == 0 ? 0 : errno;
        sizes[i] = static_cast<uint64_t>(info.st_size);
    }
}

// A free request slot (there is always one: a lane has one read at a time, a batch no more
// than reader_batch calls).
size_t free_slot(piece_reader* reader) {
    size_t i = 0;
    while (reader->requests[i].busy) ++i;
    reader->requests[i].busy = true;
    return i;
}

// A look per file that took less than warm_look_ns on the ring or the pool found the tree in
// memory; one that took more than cold_look_ns on this thread waited for the storage.
constexpr uint64_t warm_look_ns = 8000;
constexpr uint64_t cold_look_ns = 20000;

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
    return r.got == r.length;
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
        answer(reader, &reader->requests[slot], reader->jobs[slot].status);
        --reader->in_flight;
    }
    reader->posted_count = 0;
}

// Stats count paths together on the pool.
void stat_on_pool(piece_reader* reader, const char* const* paths, size_t count, int* errors,
                  uint64_t* sizes) {
    {
        sync_hold held(reader->ended_lock);
        reader->stats_ended = 0;
    }
    size_t slots[reader_batch];
    for (size_t i = 0; i < count; ++i) {
        slots[i] = free_slot(reader);
        reader->requests[slots[i]].tag = call_tag;
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
        reader->requests[slots[i]].busy = false;
    }
}

#if VT_HAVE_URING
// Entries of a ring: more than the slots, so that a slot never waits for a free entry.
constexpr unsigned ring_entries = 128;
static_assert(ring_entries >= reader_slots);

io_uring* ring_of(piece_reader* reader) {
    return static_cast<io_uring*>(reader->ring);
}

// Sends a read's bytes still missing.
void prepare_read(piece_reader* reader, size_t slot) {
    reader_request& r = reader->requests[slot];
    io_uring_sqe* sqe = io_uring_get_sqe(ring_of(reader));
    io_uring_prep_read(sqe, r.fd, r.buffer + r.got, static_cast<unsigned>(r.length - r.got),
                       r.offset + r.got);
    io_uring_sqe_set_data64(sqe, slot);
    ++reader->unsubmitted;
}

// Takes one completion: ends a call, or a read (asked again for its missing bytes after a short
// read or an interruption).
void complete(piece_reader* reader, const io_uring_cqe* cqe) {
    size_t slot = static_cast<size_t>(io_uring_cqe_get_data64(cqe));
    reader_request& r = reader->requests[slot];
    --reader->in_flight;
    int result = cqe->res;
    if (r.tag == call_tag) {
        r.status = result;
        r.busy = false;
        return;
    }
    if (result == -EINTR || result == -EAGAIN) {
        prepare_read(reader, slot);
    } else if (result < 0) {
        answer(reader, &r, -result);
    } else if (result == 0) {
        answer(reader, &r, READ_ENDED_EARLY);
    } else {
        KERNEL_WROTE(r.buffer + r.got, static_cast<size_t>(result));
        r.got += static_cast<size_t>(result);
        if (r.got < r.length) {
            prepare_read(reader, slot);
        } else {
            answer(reader, &r, 0);
        }
    }
}

// Hands the prepared requests to the kernel, sleeping until one ends when sleep is set, and
// takes every completion there is.
void pump(piece_reader* reader, bool sleep) {
    io_uring* ring = ring_of(reader);
    if (reader->unsubmitted > 0 || sleep) {
        int sent = io_uring_submit_and_wait(ring, sleep ? 1 : 0);
        if (sent > 0) {
            reader->in_flight += static_cast<size_t>(sent);
            reader->unsubmitted -= static_cast<size_t>(sent);
        }
    }
    io_uring_cqe* cqe;
    while (io_uring_peek_cqe(ring, &cqe) == 0) {
        complete(reader, cqe);
        io_uring_cqe_seen(ring, cqe);
    }
}

// Prepares a call in a slot of its own; returns its submission entry.
io_uring_sqe* prepare_call(piece_reader* reader, size_t* slot) {
    *slot = free_slot(reader);
    reader->requests[*slot].tag = call_tag;
    io_uring_sqe* sqe = io_uring_get_sqe(ring_of(reader));
    io_uring_sqe_set_data64(sqe, *slot);
    ++reader->unsubmitted;
    return sqe;
}

void wait_calls(piece_reader* reader, const size_t* slots, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        while (reader->requests[slots[i]].busy) pump(reader, true);
    }
}

// Stats count paths together on the ring.
void stat_on_ring(piece_reader* reader, const char* const* paths, size_t count, int* errors,
                  uint64_t* sizes) {
    struct statx looks[reader_batch];
    size_t slots[reader_batch];
    for (size_t i = 0; i < count; ++i) {
        io_uring_sqe* sqe = prepare_call(reader, &slots[i]);
        io_uring_prep_statx(sqe, AT_FDCWD, paths[i], 0, STATX_SIZE, &looks[i]);
    }
    wait_calls(reader, slots, count);
    for (size_t i = 0; i < count; ++i) {
        int result = reader->requests[slots[i]].status;
        if (result == 0) KERNEL_WROTE(&looks[i], sizeof looks[i]);
        errors[i] = result < 0 ? -result : 0;
        sizes[i] = result < 0 ? 0 : looks[i].stx_size;
    }
}

// True when the kernel offers every operation the ring engine sends.
bool ring_offers_all(io_uring* ring) {
    io_uring_probe* probe = io_uring_get_probe_ring(ring);
    if (probe == nullptr) return false;
    bool all = io_uring_opcode_supported(probe, IORING_OP_STATX) &&
               io_uring_opcode_supported(probe, IORING_OP_OPENAT) &&
               io_uring_opcode_supported(probe, IORING_OP_READ);
    io_uring_free_probe(probe);
    return all;
}
#endif

} // namespace

int reader_engine_for_run() {
    if (sumwell_reader_plain_only) return READER_PLAIN;
    if (sumwell_reader_pool_only) return READER_POOL;
#if VT_HAVE_URING
    return READER_RING;
#else
    return READER_POOL;
#endif
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
    for (reader_request& r : reader->requests) r.busy = false;
#if VT_HAVE_URING
    if (engine == READER_RING) {
        io_uring* ring = static_cast<io_uring*>(malloc(sizeof(io_uring)));
        if (ring == nullptr) return false;
        if (io_uring_queue_init(ring_entries, ring, 0) != 0) {
            free(ring);
            return false;
        }
        if (!ring_offers_all(ring)) {
            io_uring_queue_exit(ring);
            free(ring);
            return false;
        }
        reader->ring = ring;
        reader->engine = READER_RING;
    }
#else
    if (engine == READER_RING) return false;
#endif
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
#if VT_HAVE_URING
    if (reader->engine != READER_RING) return false;
    while (reader->in_flight + reader->unsubmitted > 0) pump(reader, true);
    io_uring_queue_exit(ring_of(reader));
    free(reader->ring);
    reader->ring = nullptr;
    reader->engine = READER_PLAIN;
    return true;
#else
    (void)reader;
    return false;
#endif
}

void reader_ask(piece_reader* reader, uint64_t tag, int fd, uint8_t* buffer, size_t length,
                uint64_t offset) {
    size_t slot = free_slot(reader);
    reader_request& r = reader->requests[slot];
    r = {tag, fd, buffer, length, 0, offset, 0, true};
    if (reader->engine != READER_PLAIN && read_from_memory(reader, r)) {
        answer(reader, &r, 0);
        return;
    }
    if (reader->engine == READER_POOL) {
        ask_pool(reader, slot);
        return;
    }
#if VT_HAVE_URING
    if (reader->engine == READER_RING) {
        prepare_read(reader, slot);
        return;
    }
#endif
    answer(reader, &r, read_exactly_at(fd, buffer, length, static_cast<int64_t>(offset)));
}

void reader_collect(piece_reader* reader, bool wait) {
    if (reader->engine == READER_POOL) {
        collect_pool(reader, wait);
        return;
    }
#if VT_HAVE_URING
    if (reader->engine != READER_RING) return;
    pump(reader, false);
    while (wait && reader->answer_count == 0 && reader->in_flight + reader->unsubmitted > 0) {
        pump(reader, true);
    }
#else
    (void)reader;
    (void)wait;
#endif
}

bool reader_busy(const piece_reader* reader) {
    return reader->in_flight + reader->unsubmitted > 0;
}

void reader_look(piece_reader* reader, const char* const* paths, size_t count, int* errors,
                 uint64_t* sizes) {
    // A stat on a ring or the pool runs on another thread, which costs a warm tree more than
    // the stat itself: they look only while looks take long enough to be waits for the
    // storage, timed batch by batch.
    if ((reader->engine == READER_RING || reader->engine == READER_POOL) && count > 0) {
        uint64_t began = monotonic_ns();
        if (reader->plain_looks) {
            stat_each(paths, count, errors, sizes);
            reader->plain_looks = monotonic_ns() - began < count * cold_look_ns;
            return;
        }
        if (reader->engine == READER_POOL) {
            stat_on_pool(reader, paths, count, errors, sizes);
        } else {
#if VT_HAVE_URING
            stat_on_ring(reader, paths, count, errors, sizes);
#endif
        }
        reader->plain_looks = monotonic_ns() - began < count * warm_look_ns;
        return;
    }
    stat_each(paths, count, errors, sizes);
}

void reader_open(piece_reader* reader, const char* const* paths, size_t count, int* fds) {
#if VT_HAVE_URING
    if (reader->engine == READER_RING) {
        size_t slots[reader_batch];
        for (size_t i = 0; i < count; ++i) {
            io_uring_sqe* sqe = prepare_call(reader, &slots[i]);
            io_uring_prep_openat(sqe, AT_FDCWD, paths[i], summing_open_flags, 0);
        }
        wait_calls(reader, slots, count);
        for (size_t i = 0; i < count; ++i) fds[i] = reader->requests[slots[i]].status;
        return;
    }
#endif
    (void)reader;
    for (size_t i = 0; i < count; ++i) {
        int fd = open(paths[i], summing_open_flags);
        fds[i] = fd >= 0 ? fd : -errno;
    }
}
