// The trailer: its text, and the verification of a file against the digest it records.
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "md5/md5.h"
#include "selfcheck/file_io.h"
#include "selfcheck/selfcheck.h"
#include "selfcheck/selfcheck_internal.h"

int selfcheck_difference = 0;

namespace {

// The file is read in chunks of this size into a buffer on the stack. Every page of the buffer
// that a read touches costs a page fault at each start, which is dearer than the few more reads
// that a one-page buffer takes for an executable of tens of kilobytes; the stack's pages this
// deep have mostly been touched already, by the dynamic loader, where a static buffer's have not.
constexpr size_t read_chunk = 4096;

// The value of a lower-case hexadecimal digit, or -1 for any other character.
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Feeds the first length bytes of fd into context with reads of read_chunk bytes. Returns 0, or
// -1 on a read error or when the file ends early.
int feed_read(int fd, uint64_t length, md5_context* context) {
    alignas(64) uint8_t read_buffer[read_chunk];
    uint64_t offset = 0;
    while (offset < length) {
        uint64_t left = length - offset;
        size_t chunk = left < read_chunk ? static_cast<size_t>(left) : read_chunk;
        if (read_exactly_at(fd, read_buffer, chunk, int64_t(offset)) != 0) return -1;
        md5_update_scalar(context, read_buffer, chunk);
        offset += chunk;
    }
    return 0;
}

} // namespace

int selfcheck_digest_prefix(int fd, uint64_t length, uint8_t digest[16]) {
    md5_context context;
    md5_init(&context);
    int status = feed_read(fd, length, &context) == 0 ? SELFCHECK_OK : SELFCHECK_UNREADABLE;
    md5_final_scalar(digest, &context);
    return status;
}

void selfcheck_format_trailer(const uint8_t digest[16], char out[SELFCHECK_TRAILER_SIZE]) {
    memcpy(out, SELFCHECK_TRAILER_MAGIC, SELFCHECK_MAGIC_SIZE);
    char hex[33];
    format_hex_digest(digest, hex);
    memcpy(out + SELFCHECK_MAGIC_SIZE, hex, 32);
    out[SELFCHECK_TRAILER_SIZE - 1] = '\n';
}

int selfcheck_parse_trailer(const char* tail, uint8_t digest[16]) {
    static_assert(SELFCHECK_MAGIC_SIZE + 32 + 1 == SELFCHECK_TRAILER_SIZE);
    if (memcmp(tail, SELFCHECK_TRAILER_MAGIC, SELFCHECK_MAGIC_SIZE) != 0) {
        return SELFCHECK_NO_TRAILER;
    }
    if (tail[SELFCHECK_TRAILER_SIZE - 1] != '\n') return SELFCHECK_NO_TRAILER;
    const char* hex = tail + SELFCHECK_MAGIC_SIZE;
    for (int i = 0; i < 16; ++i) {
        int high = hex_value(hex[2 * i]);
        int low = hex_value(hex[2 * i + 1]);
        if (high < 0 || low < 0) return SELFCHECK_NO_TRAILER;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return SELFCHECK_OK;
}

int selfcheck_verify_fd(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return SELFCHECK_UNREADABLE;
    auto size = static_cast<uint64_t>(info.st_size);
    if (size < SELFCHECK_TRAILER_SIZE) return SELFCHECK_NO_TRAILER;
    uint64_t body = size - SELFCHECK_TRAILER_SIZE;

    char tail[SELFCHECK_TRAILER_SIZE];
    if (read_exactly_at(fd, tail, sizeof tail, int64_t(body)) != 0) return SELFCHECK_UNREADABLE;
    uint8_t recorded[16];
    if (selfcheck_parse_trailer(tail, recorded) != 0) return SELFCHECK_NO_TRAILER;

    uint8_t actual[16];
    if (selfcheck_digest_prefix(fd, body, actual) != 0) return SELFCHECK_UNREADABLE;
    selfcheck_difference = 0;
    for (size_t i = 0; i < sizeof actual; ++i) selfcheck_difference |= recorded[i] ^ actual[i];
    return memcmp(recorded, actual, sizeof actual) == 0 ? SELFCHECK_OK : SELFCHECK_MISMATCH;
}

int selfcheck_verify_file(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SELFCHECK_UNREADABLE;
    int status = selfcheck_verify_fd(fd);
    close(fd);
    return status;
}
