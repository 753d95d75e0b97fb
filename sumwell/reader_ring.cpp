#include "sumwell/reader_ring.h"

#if VT_HAVE_URING

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>

#include "sumwell/file_steps.h"

// Memcheck does not see the kernel write through a ring: where its header is at hand, the
// bytes a completed stat or read wrote are marked as written (a no-op outside it).
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define KERNEL_WROTE(address, length) (void)VALGRIND_MAKE_MEM_DEFINED(address, length)
#else
#define KERNEL_WROTE(address, length) (void)(address)
#endif

namespace {

// Entries of a ring: more than the slots, so that a slot never waits for a free entry, and
// room for a batch of whole reads once the requests before them are handed over.
constexpr unsigned ring_entries = 128;
static_assert(ring_entries >= reader_slots);
// A whole read's three requests, and where their tags begin: a request slot's tag is its index.
enum whole_step { WHOLE_OPEN = 0, WHOLE_READ, WHOLE_CLOSE, WHOLE_STEPS };
constexpr uint64_t whole_tags = uint64_t{1} << 16;
static_assert(reader_slots < whole_tags && ring_entries >= WHOLE_STEPS * reader_whole_batch);

io_uring* ring_of(piece_reader* reader) {
    return static_cast<io_uring*>(reader->ring);
}

} // namespace

void ring_ask(piece_reader* reader, size_t slot) {
    reader_request& r = reader->requests[slot];
    io_uring_sqe* sqe = io_uring_get_sqe(ring_of(reader));
    io_uring_prep_read(sqe, r.fd, r.buffer + r.got, static_cast<unsigned>(r.length - r.got),
                       r.offset + r.got);
    io_uring_sqe_set_data64(sqe, slot);
    ++reader->unsubmitted;
}

namespace {

// Takes one step of a whole read: a failed open fails the file (its read and close are then
// cancelled), a read gives it its result.
void complete_whole(piece_reader* reader, uint64_t tag, int result) {
    whole_read& w = reader->whole[(tag - whole_tags) / WHOLE_STEPS];
    uint64_t step = (tag - whole_tags) % WHOLE_STEPS;
    if (step == WHOLE_OPEN && result < 0) {
        w.result = result;
        w.open_failed = true;
    } else if (step == WHOLE_READ && !w.open_failed) {
        w.result = result;
        if (result > 0) KERNEL_WROTE(w.buffer, static_cast<size_t>(result));
    }
    --reader->whole_left;
}

// Takes one completion: ends a call, a step of a whole read, or a read (asked again for its
// missing bytes after a short read or an interruption).
void complete(piece_reader* reader, const io_uring_cqe* cqe) {
    uint64_t tag = io_uring_cqe_get_data64(cqe);
    int result = cqe->res;
    --reader->in_flight;
    if (tag >= whole_tags) {
        complete_whole(reader, tag, result);
        return;
    }
    size_t slot = static_cast<size_t>(tag);
    reader_request& r = reader->requests[slot];
    if (r.tag == reader_call_tag) {
        r.status = result;
        r.busy = false;
        return;
    }
    if (result == -EINTR || result == -EAGAIN) {
        ring_ask(reader, slot);
    } else if (result < 0) {
        reader_answer(reader, &r, -result);
    } else if (result == 0) {
        reader_answer(reader, &r, READ_ENDED_EARLY);
    } else {
        KERNEL_WROTE(r.buffer + r.got, static_cast<size_t>(result));
        r.got += static_cast<size_t>(result);
        if (r.got < r.length) {
            ring_ask(reader, slot);
        } else {
            reader_answer(reader, &r, 0);
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
    *slot = reader_take_slot(reader);
    reader->requests[*slot].tag = reader_call_tag;
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

// True when the kernel offers every operation the ring engine sends.
bool ring_offers_all(io_uring* ring) {
    io_uring_probe* probe = io_uring_get_probe_ring(ring);
    if (probe == nullptr) return false;
    bool all = io_uring_opcode_supported(probe, IORING_OP_STATX) &&
               io_uring_opcode_supported(probe, IORING_OP_OPENAT) &&
               io_uring_opcode_supported(probe, IORING_OP_READ) &&
               io_uring_opcode_supported(probe, IORING_OP_CLOSE);
    io_uring_free_probe(probe);
    return all;
}
} // namespace

bool ring_begin(piece_reader* reader) {
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
    // A kernel too old for a sparse table, or a descriptor limit below its size, leaves the
    // small files to the lanes' reads.
    reader->whole_files = io_uring_register_files_sparse(ring, reader_whole_batch) == 0;
    return true;
}

void ring_end(piece_reader* reader) {
    while (reader->in_flight + reader->unsubmitted > 0) pump(reader, true);
    io_uring_queue_exit(ring_of(reader));
    free(reader->ring);
    reader->ring = nullptr;
}

void ring_collect(piece_reader* reader, bool wait) {
    pump(reader, false);
    while (wait && reader->answer_count == 0 && reader->in_flight + reader->unsubmitted > 0) {
        pump(reader, true);
    }
}

void ring_look(piece_reader* reader, const char* const* paths, size_t count, int* errors,
               uint64_t* sizes, bool* regular) {
    struct statx looks[reader_batch];
    size_t slots[reader_batch];
    for (size_t i = 0; i < count; ++i) {
        io_uring_sqe* sqe = prepare_call(reader, &slots[i]);
        io_uring_prep_statx(sqe, AT_FDCWD, paths[i], 0, STATX_SIZE | STATX_TYPE, &looks[i]);
    }
    wait_calls(reader, slots, count);
    for (size_t i = 0; i < count; ++i) {
        int result = reader->requests[slots[i]].status;
        if (result == 0) KERNEL_WROTE(&looks[i], sizeof looks[i]);
        errors[i] = result < 0 ? -result : 0;
        sizes[i] = result < 0 ? 0 : looks[i].stx_size;
        regular[i] = result == 0 && S_ISREG(looks[i].stx_mode);
    }
}

void ring_open(piece_reader* reader, const char* const* paths, size_t count, int* fds) {
    size_t slots[reader_batch];
    for (size_t i = 0; i < count; ++i) {
        io_uring_sqe* sqe = prepare_call(reader, &slots[i]);
        io_uring_prep_openat(sqe, AT_FDCWD, paths[i], summing_open_flags, 0);
    }
    wait_calls(reader, slots, count);
    for (size_t i = 0; i < count; ++i) fds[i] = reader->requests[slots[i]].status;
}

void ring_read_whole(piece_reader* reader, whole_read* reads, size_t count) {
    io_uring* ring = ring_of(reader);
    // The requests prepared before go first, so that the batch finds room in the ring.
    if (reader->unsubmitted > 0) pump(reader, false);
    for (size_t i = 0; i < count; ++i) {
        whole_read& w = reads[i];
        w.result = 0;
        w.open_failed = false;
        uint64_t tag = whole_tags + WHOLE_STEPS * i;
        unsigned index = static_cast<unsigned>(i);
        io_uring_sqe* sqe = io_uring_get_sqe(ring);
        // The ring's own descriptors are never inherited: the kernel refuses O_CLOEXEC on them.
        io_uring_prep_openat_direct(sqe, AT_FDCWD, w.path, summing_open_flags & ~O_CLOEXEC, 0,
                                    index);
        io_uring_sqe_set_data64(sqe, tag + WHOLE_OPEN);
        sqe->flags |= IOSQE_IO_LINK;
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_read(sqe, static_cast<int>(index), w.buffer, static_cast<unsigned>(w.length),
                           0);
        io_uring_sqe_set_data64(sqe, tag + WHOLE_READ);
        // A short read, the file's end, breaks a plain link: the close must come whatever the
        // read gave.
        sqe->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_close_direct(sqe, index);
        io_uring_sqe_set_data64(sqe, tag + WHOLE_CLOSE);
    }
    reader->unsubmitted += WHOLE_STEPS * count;
    reader->whole = reads;
    reader->whole_left = WHOLE_STEPS * count;
    while (reader->whole_left > 0) pump(reader, true);
    reader->whole = nullptr;
}

#else

// Without liburing there is no ring: the reader never asks for the others.
bool ring_begin(piece_reader*) {
    return false;
}
void ring_end(piece_reader*) {}
void ring_ask(piece_reader*, size_t) {}
void ring_collect(piece_reader*, bool) {}
void ring_look(piece_reader*, const char* const*, size_t, int*, uint64_t*, bool*) {}
void ring_open(piece_reader*, const char* const*, size_t, int*) {}
void ring_read_whole(piece_reader*, whole_read*, size_t) {}

#endif
