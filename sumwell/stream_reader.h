// Digesting a regular file as it is read: read() into a few reused buffers that stay in the
// second-level cache, never a mapping, so a file that shrinks meanwhile ends the read instead of
// the process, and memory stays the same whatever the file's size.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes read by one read() call: large enough that system calls cost little, small enough that
// a ring of them stays in the second-level cache while it is digested.
constexpr size_t stream_buffer_size = 64 * 1024;
// Buffers in the ring a reader thread fills ahead of the digesting thread.
constexpr size_t stream_ring_buffers = 4;

// Digests length bytes read from fd from its current offset into digest. With reader_thread, a
// second thread reads ahead into a ring of buffers while this one digests (read on this thread
// alone when the thread cannot be started). Returns 0, an errno value of a failed read, or
// READ_ENDED_EARLY (file_steps.h) when the file ends first. Called by one thread at a time: what
// it reads on this thread alone goes through one static buffer.
int digest_stream(int fd, uint64_t length, bool reader_thread, uint8_t digest[16]);
