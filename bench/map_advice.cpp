// Measures how advice about a file mapping changes the time to digest a file the way sumwell
// does (read-only shared mapping of whole pages plus one, one md5_update over the bytes).
// Usage: map_advice MODE FILE, MODE one of none, sequential, willneed, sequential+willneed,
// populate, populate+sequential. Prints "MODE wall-seconds cpu-seconds digest"; the processor
// time (user and system) is less disturbed than the wall time when other work shares the
// machine.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "md5/md5.h"

namespace {

// One way of mapping: extra mmap flags and the advice given after mapping (0: none).
struct mode {
    const char* name;
    int map_flags;
    int advice[2];
};

constexpr mode modes[] = {
    {"none", 0, {0, 0}},
    {"sequential", 0, {MADV_SEQUENTIAL, 0}},
    {"willneed", 0, {MADV_WILLNEED, 0}},
    {"sequential+willneed", 0, {MADV_SEQUENTIAL, MADV_WILLNEED}},
    {"populate", MAP_POPULATE, {0, 0}},
    {"populate+sequential", MAP_POPULATE, {MADV_SEQUENTIAL, 0}},
};

// Seconds on the monotonic clock.
double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Seconds of processor time (user and system) this process has used.
double cpu_time() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Maps, advises, digests and unmaps path; prints one result line. Returns 0, or 1 on failure.
int run(const mode& m, const char* path) {
    double start = now();
    double cpu_start = cpu_time();
    int fd = open(path, O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        std::perror(path);
        return 1;
    }
    size_t size = size_t(info.st_size);
    size_t page = size_t(getpagesize());
    size_t length = (size / page + 1) * page;
    void* address = mmap(nullptr, length, PROT_READ, MAP_SHARED | m.map_flags, fd, 0);
    close(fd);
    if (address == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    for (int advice : m.advice) {
        if (advice != 0 && madvise(address, length, advice) != 0) std::perror("madvise");
    }
    uint8_t digest[16];
    md5_digest(static_cast<const uint8_t*>(address), uint32_t(size), digest);
    munmap(address, length);
    double seconds = now() - start;
    double cpu_seconds = cpu_time() - cpu_start;
    std::printf("%s %.4f %.4f ", m.name, seconds, cpu_seconds);
    for (uint8_t b : digest) std::printf("%02x", b);
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODE FILE\n", argv[0]);
        return 2;
    }
    for (const mode& m : modes) {
        if (std::strcmp(m.name, argv[1]) == 0) return run(m, argv[2]);
    }
    std::fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 2;
}
