#include "sumwell/stream_reader.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>

#include "md5/md5.h"
#include "sumwell/file_steps.h"
#include "sumwell/sync.h"

namespace {

// Buffers start on a page boundary: the kernel copies into them a page at a time.
constexpr size_t buffer_alignment = 4096;
// The buffer of a file read on this thread alone, also when no memory can be had for a ring: a
// file that one call can sum is summed whatever the memory left. A static buffer keeps a run
// that sums one small file off the heap: its first use costs page-table work that is dear in a
// virtual machine, more than the rest of such a run's reading. Only the one thread that sums
// files in turn reads through here.
VT_LARGE_BUFFER alignas(buffer_alignment) uint8_t single_buffer[stream_buffer_size];

// The ring shared by the reader thread (which fills buffers) and the digesting thread (which
// empties them in the same order). Counters only grow; buffer i % stream_ring_buffers holds
// piece i.
struct ring {
    int fd;
    uint64_t length;                    // bytes to read in all
    uint8_t* buffers;                   // stream_ring_buffers buffers, one after another
    size_t filled[stream_ring_buffers]; // bytes in each full buffer
    int status[stream_ring_buffers];    // read_exactly's result for each full buffer
    uint64_t produced = 0;              // pieces the reader has finished
    uint64_t consumed = 0;              // pieces the digester has finished
    bool reader_waits = false;          // the reader sleeps until half the ring is free
    bool digester_waits = false;        // the digester sleeps until a piece is full
    sync_mutex lock;
    sync_condition changed;
};

// The bytes of piece i of a stream of length bytes.
size_t piece_size(uint64_t length, uint64_t i) {
    uint64_t left = length - i * stream_buffer_size;
    return left < stream_buffer_size ? static_cast<size_t>(left) : stream_buffer_size;
}

uint64_t piece_count(uint64_t length) {
    return (length + stream_buffer_size - 1) / stream_buffer_size;
}

// The reader thread: fills the ring's buffers in order until every piece is read or a read
// fails.
void* fill_ring(void* argument) {
    ring* r = static_cast<ring*>(argument);
    uint64_t pieces = piece_count(r->length);
    for (uint64_t i = 0; i < pieces; ++i) {
        {
            // A full ring puts the reader to sleep until half of it is free, so that it wakes
            // once for several buffers rather than once for each.
            sync_hold held(r->lock);
            if (i - r->consumed >= stream_ring_buffers) {
                r->reader_waits = true;
                while (r->reader_waits) sync_wait(r->changed, held);
            }
        }
        size_t slot = i % stream_ring_buffers;
        size_t size = piece_size(r->length, i);
        int status = read_exactly(r->fd, r->buffers + slot * stream_buffer_size, size);
        bool wake;
        {
            sync_hold held(r->lock);
            r->filled[slot] = size;
            r->status[slot] = status;
            r->produced = i + 1;
            wake = r->digester_waits;
            r->digester_waits = false;
        }
        if (wake) sync_notify_one(r->changed);
        if (status != 0) return nullptr;
    }
    return nullptr;
}

// Digests the pieces the reader thread fills. Returns the first failed read's status, or 0.
int digest_ring(ring* r, md5_context* context) {
    uint64_t pieces = piece_count(r->length);
    for (uint64_t i = 0; i < pieces; ++i) {
        {
            sync_hold held(r->lock);
            while (r->produced <= i) {
                r->digester_waits = true;
                sync_wait(r->changed, held);
            }
        }
        size_t slot = i % stream_ring_buffers;
        if (r->status[slot] != 0) return r->status[slot];
        md5_update(context, r->buffers + slot * stream_buffer_size,
                   static_cast<uint32_t>(r->filled[slot]));
        bool wake = false;
        {
            sync_hold held(r->lock);
            r->consumed = i + 1;
            if (r->reader_waits && r->produced - r->consumed <= stream_ring_buffers / 2) {
                r->reader_waits = false;
                wake = true;
            }
        }
        if (wake) sync_notify_one(r->changed);
    }
    return 0;
}

// Reads and digests on this thread alone, one buffer at a time.
int digest_in_turn(int fd, uint64_t length, uint8_t* buffer, md5_context* context) {
    for (uint64_t i = 0; i < piece_count(length); ++i) {
        size_t size = piece_size(length, i);
        int status = read_exactly(fd, buffer, size);
        if (status != 0) return status;
        md5_update(context, buffer, static_cast<uint32_t>(size));
    }
    return 0;
}

} // namespace

int digest_stream(int fd, uint64_t length, bool reader_thread, uint8_t digest[16]) {
    // A file that fits in one buffer is read in one call: a thread to overlap that read with
    // nothing, or a read-ahead hint, would only add to its cost.
    bool several_pieces = length > stream_buffer_size;
    reader_thread = reader_thread && several_pieces;
    // Tells the kernel to read ahead generously; only a hint, so a failure changes nothing.
    if (several_pieces) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // The ring's memory, when a reader thread is to fill it; without it this thread reads alone.
    uint8_t* ring_memory = nullptr;
    if (reader_thread) {
        ring_memory = static_cast<uint8_t*>(
            aligned_alloc(buffer_alignment, stream_ring_buffers * stream_buffer_size));
    }
    reader_thread = ring_memory != nullptr;
    uint8_t* memory = reader_thread ? ring_memory : single_buffer;
    md5_context context;
    md5_init(&context);
    int status;
    ring r;
    r.fd = fd;
    r.length = length;
    r.buffers = memory;
    pthread_t reader;
    if (reader_thread && pthread_create(&reader, nullptr, fill_ring, &r) == 0) {
        // The digester stops early only at a failed piece, after which the reader has ended.
        status = digest_ring(&r, &context);
        pthread_join(reader, nullptr);
    } else {
        status = digest_in_turn(fd, length, memory, &context);
    }
    free(ring_memory);
    md5_final(digest, &context);
    return status;
}
