// Stamping: appending the trailer that the self-check verifies to a built program, for the
// build's post-link step (vt_stamp) and the tests; the programs never stamp.
#include "selfcheck/stamp.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "selfcheck/selfcheck.h"

namespace {

// Writes the trailer for the first body bytes of fd at offset body, over an old trailer there or
// at the end of the file. Returns 0, or -1 when the file cannot be read or written.
int write_trailer(int fd, uint64_t body) {
    uint8_t digest[16];
    if (selfcheck_digest_prefix(fd, body, digest) != 0) return -1;
    char trailer[SELFCHECK_TRAILER_SIZE];
    selfcheck_format_trailer(digest, trailer);
    size_t done = 0;
    while (done < sizeof trailer) {
        ssize_t n =
            pwrite(fd, trailer + done, sizeof trailer - done, static_cast<off_t>(body + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Stamps the open file fd; see stamp_file.
int stamp_fd(int fd, int replace) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return STAMP_UNWRITABLE;
    auto size = static_cast<uint64_t>(info.st_size);
    int status = selfcheck_verify_fd(fd);
    if (status == SELFCHECK_OK) return STAMP_UNCHANGED;
    if (status == SELFCHECK_UNREADABLE) return STAMP_UNWRITABLE;
    if (status == SELFCHECK_NO_TRAILER) {
        return write_trailer(fd, size) == 0 ? STAMP_ADDED : STAMP_UNWRITABLE;
    }
    if (!replace) return STAMP_REFUSED;
    return write_trailer(fd, size - SELFCHECK_TRAILER_SIZE) == 0 ? STAMP_REPLACED
                                                                 : STAMP_UNWRITABLE;
}

} // namespace

int stamp_file(const char* path, int replace) {
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return STAMP_UNWRITABLE;
    int status = stamp_fd(fd, replace);
    if (close(fd) != 0 && status != STAMP_UNCHANGED && status != STAMP_REFUSED) {
        status = STAMP_UNWRITABLE;
    }
    return status;
}
