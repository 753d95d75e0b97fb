// Exact reads and the error number of a failed call: the self-check reads its executable with
// them, and sumwell reads the files it sums with them.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

// errno after a failed call, or EIO where the call left errno at 0.
inline int errno_or_eio() {
    return errno != 0 ? errno : EIO;
}

// What read_exactly_at returns when the file ends before length bytes.
constexpr int READ_ENDED_EARLY = -1;

// Reads exactly length bytes of fd into buffer: from offset (pread) when offset is 0 or more,
// else from the descriptor's position (read); a read interrupted by a signal is tried again.
// Returns 0, errno_or_eio() of a failed read, or READ_ENDED_EARLY.
int read_exactly_at(int fd, void* buffer, size_t length, int64_t offset);

// read_exactly_at from the descriptor's position.
inline int read_exactly(int fd, uint8_t* buffer, size_t length) {
    return read_exactly_at(fd, buffer, length, -1);
}
