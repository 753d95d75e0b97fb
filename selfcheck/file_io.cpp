// The exact read of file_io.h.
#include "selfcheck/file_io.h"

#include <unistd.h>

int read_exactly_at(int fd, void* buffer, size_t length, int64_t offset) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        ssize_t n =
            offset < 0 ? read(fd, out, length) : pread(fd, out, length, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno_or_eio();
        }
        if (n == 0) return READ_ENDED_EARLY;
        out += n;
        length -= static_cast<size_t>(n);
        if (offset >= 0) offset += n;
    }
    return 0;
}
