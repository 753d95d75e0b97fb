#include "sumwell/file_steps.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "md5/md5.h"
#include "sumwell/stream_reader.h"

void (*sumwell_step_hook)(int point, const char* path) = nullptr;

namespace {

// The reason given when a file ends before the bytes to sum.
constexpr char ended_early_reason[] = "file shrank while it was read";

// The step each failing outcome names in "Error! <step> FILE: REASON"; scripts match these
// words, so they stay exactly as they are. Indexed by outcome_kind; the too-small message has
// a text of its own.
constexpr const char* step_names[] = {
    nullptr, "stat", nullptr, "open", "couldn't mmap", "read", "read",
};
static_assert(sizeof step_names / sizeof step_names[0] == OUTCOME_ENDED_EARLY + 1);

void run_hook(int point, const char* path) {
    if (sumwell_step_hook != nullptr) sumwell_step_hook(point, path);
}

// Sets outcome to a failure of kind with error; returns false for the caller to pass on.
bool fail(file_outcome* outcome, int kind, int error) {
    outcome->kind = kind;
    outcome->error = error;
    return false;
}

// True when a file of size bytes has nothing left to sum once the tail is left out. The tail is
// the option's 32-bit number: one that is negative read as signed exceeds every size, so that a
// file of 4 GiB or more is not summed short by the tail's unsigned reading.
bool too_small(uint64_t size, uint32_t tail) {
    return static_cast<int32_t>(tail) < 0 || size <= tail;
}

} // namespace

bool stat_for_summing(const char* path, uint32_t tail, uint64_t* size, file_outcome* outcome) {
    struct stat info {};
    int error = stat(path, &info) == 0 ? 0 : errno;
    return check_stat_result(path, error, static_cast<uint64_t>(info.st_size), tail, size, outcome);
}

bool check_stat_result(const char* path, int stat_error, uint64_t stat_size, uint32_t tail,
                       uint64_t* size, file_outcome* outcome) {
    outcome->kind = OUTCOME_DIGEST;
    outcome->error = 0;
    if (stat_error != 0) return fail(outcome, OUTCOME_STAT, stat_error);
    if (too_small(stat_size, tail)) return fail(outcome, OUTCOME_TOO_SMALL, 0);
    *size = stat_size;
    run_hook(HOOK_AFTER_STAT, path);
    return true;
}

bool open_for_digest(const char* path, uint32_t tail, opened_file* file, file_outcome* outcome) {
    int fd = open(path, summing_open_flags);
    return check_open_result(path, fd >= 0 ? fd : -errno, tail, file, outcome);
}

bool check_open_result(const char* path, int fd, uint32_t tail, opened_file* file,
                       file_outcome* outcome) {
    outcome->kind = OUTCOME_DIGEST;
    outcome->error = 0;
    if (fd < 0) return fail(outcome, OUTCOME_OPEN, -fd);
    // The file opened may not be the one looked at (replaced or cut in between): its own size
    // decides what is summed, so no byte past its end is asked for.
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return fail(outcome, OUTCOME_STAT, error);
    }
    if (too_small(static_cast<uint64_t>(info.st_size), tail)) {
        close(fd);
        return fail(outcome, OUTCOME_TOO_SMALL, 0);
    }
    file->fd = fd;
    file->size = static_cast<uint64_t>(info.st_size);
    file->regular = S_ISREG(info.st_mode);
    run_hook(HOOK_AFTER_FSTAT, path);
    return true;
}

bool open_for_summing(const char* path, uint32_t tail, opened_file* file, file_outcome* outcome) {
    uint64_t size;
    return stat_for_summing(path, tail, &size, outcome) &&
           open_for_digest(path, tail, file, outcome);
}

void sum_mapped(opened_file* file, uint32_t tail, file_outcome* outcome) {
    uint64_t page = static_cast<uint64_t>(getpagesize());
    uint64_t pages = file->size / page + 1;
    outcome->kind = OUTCOME_DIGEST;
    // A 32-bit build cannot map a file this large: refuse rather than map a wrapped length.
    if (pages > SIZE_MAX / page) {
        close(file->fd);
        fail(outcome, OUTCOME_MMAP, EOVERFLOW);
        return;
    }
    size_t length = static_cast<size_t>(pages * page);
    void* address = mmap(nullptr, length, PROT_READ, MAP_SHARED, file->fd, 0);
    int error = errno;
    close(file->fd);
    if (address == MAP_FAILED) {
        fail(outcome, OUTCOME_MMAP, error != 0 ? error : ENOMEM);
        return;
    }
    md5_message message = {static_cast<const uint8_t*>(address), file->size - tail, {}};
    md5_digest_batch(&message, 1);
    memcpy(outcome->digest, message.digest, sizeof message.digest);
    munmap(address, length);
}

void set_read_outcome(int read_status, file_outcome* outcome) {
    if (read_status == READ_ENDED_EARLY) {
        fail(outcome, OUTCOME_ENDED_EARLY, 0);
    } else if (read_status != 0) {
        fail(outcome, OUTCOME_READ, read_status);
    }
}

int write_outcome(const file_outcome& outcome, const char* name, FILE* out, FILE* err) {
    if (outcome.kind == OUTCOME_DIGEST) {
        char hex[33];
        format_hex_digest(outcome.digest, hex);
        if (fprintf(out, "%s *%s\n", hex, name) < 0) return errno_or_eio();
        return 0;
    }
    int error = fflush(out) == 0 ? 0 : errno_or_eio();
    if (outcome.kind == OUTCOME_TOO_SMALL) {
        fputs("Error! file size is too small\n", err);
    } else {
        const char* reason =
            outcome.kind == OUTCOME_ENDED_EARLY ? ended_early_reason : strerror(outcome.error);
        fprintf(err, "Error! %s %s: %s\n", step_names[outcome.kind], name, reason);
    }
    return error;
}

void sum_one(const char* path, uint32_t tail, bool reader_thread, file_outcome* outcome) {
    opened_file file;
    if (!open_for_summing(path, tail, &file, outcome)) return;
    if (file.regular) {
        int status = digest_stream(file.fd, file.size - tail, reader_thread, outcome->digest);
        close(file.fd);
        set_read_outcome(status, outcome);
    } else {
        sum_mapped(&file, tail, outcome);
    }
}
