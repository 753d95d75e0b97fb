#include "sumwell/checksum.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "md5/md5.h"

namespace {

// The largest piece handed to one md5_update when a span exceeds 32 bits: a whole number of
// 64-byte blocks, so every piece after the first is compressed straight from the mapping.
constexpr uint64_t large_piece = uint64_t{1} << 31;

// A file mapped for reading: its address and mapped length.
struct mapping {
    const uint8_t* bytes;
    size_t length;
};

// Writes "Error! <what> <name>: <strerror(error)>\n" to err. Returns SUM_FAILED.
int report(FILE* err, const char* what, const char* name, int error) {
    fprintf(err, "Error! %s %s: %s\n", what, name, strerror(error));
    return SUM_FAILED;
}

// Writes the too-small message to err. Returns SUM_FAILED.
int report_too_small(FILE* err) {
    fputs("Error! file size is too small\n", err);
    return SUM_FAILED;
}

// Maps size bytes of fd read-only and shared from offset 0, with whole pages plus one page.
// Returns 0 and fills map, or an errno value.
int map_file(int fd, uint64_t size, mapping* map) {
    uint64_t page = static_cast<uint64_t>(getpagesize());
    uint64_t pages = size / page + 1;
    // A 32-bit build cannot map a file this large: refuse rather than map a wrapped length.
    if (pages > SIZE_MAX / page) return EOVERFLOW;
    size_t length = static_cast<size_t>(pages * page);
    void* address = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return errno != 0 ? errno : ENOMEM;
    if (address == nullptr) {
        munmap(address, length);
        return ENOMEM;
    }
    map->bytes = static_cast<const uint8_t*>(address);
    map->length = length;
    return 0;
}

} // namespace

void digest_span(const uint8_t* bytes, uint64_t length, uint8_t digest[16]) {
    md5_context context;
    md5_init(&context);
    while (length > UINT32_MAX) {
        md5_update(&context, bytes, static_cast<uint32_t>(large_piece));
        bytes += large_piece;
        length -= large_piece;
    }
    md5_update(&context, bytes, static_cast<uint32_t>(length));
    md5_final(digest, &context);
}

int sum_file(const char* path, const char* shown_name, uint32_t tail, FILE* out, FILE* err) {
    struct stat info;
    if (stat(path, &info) != 0) return report(err, "stat", shown_name, errno);
    if (static_cast<uint64_t>(info.st_size) <= tail) return report_too_small(err);

    int fd = open(path, O_RDONLY);
    if (fd < 0) return report(err, "open", shown_name, errno);
    // The file opened may not be the one looked at (replaced or cut in between): its own size
    // decides what is mapped, so no byte past its end is read.
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return report(err, "stat", shown_name, error);
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size <= tail) {
        close(fd);
        return report_too_small(err);
    }

    mapping map{nullptr, 0};
    int error = map_file(fd, size, &map);
    close(fd);
    if (error != 0) return report(err, "couldn't mmap", shown_name, error);

    uint8_t digest[16];
    digest_span(map.bytes, size - tail, digest);
    char hex[33];
    format_hex_digest(digest, hex);
    fprintf(out, "%s *%s\n", hex, shown_name);
    munmap(const_cast<uint8_t*>(map.bytes), map.length);
    return SUM_PRINTED;
}
