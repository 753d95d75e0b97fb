#include "selfcheck/selfcheck.h"

#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "md5/md5.h"
#include "selfcheck/file_io.h"

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

// The name the kernel executed (the path given to execve), or null when the kernel gave none.
const char* executed_name() {
    auto name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    return name != nullptr && name[0] != '\0' ? name : nullptr;
}

// The signals that end a guarded check: the time limit, and those by which the check's own code
// fails: the processor's faults, SIGTRAP (a breakpoint byte, or the trap flag set by an altered
// popf), SIGSYS (a system call that a seccomp filter traps) and SIGABRT (raised by the C
// library's checked copies when a length would overrun their buffer).
constexpr int guarded_signals[] = {SIGSEGV, SIGBUS, SIGILL,  SIGFPE,
                                   SIGTRAP, SIGSYS, SIGABRT, SIGALRM};
constexpr size_t guarded_count = sizeof guarded_signals / sizeof guarded_signals[0];

// What the guard replaced, put back when it ends, and the verdict of the check it guards. The
// programs run the check once, on their only thread, before anything else.
struct fault_guard {
    bool active;
    const char* refusal;
    size_t refusal_length;
    // Nonzero unless the last digest compared equal to its trailer's: a second verdict, kept
    // apart from the status that selfcheck_verify_fd returns, so that one altered branch on the
    // way cannot turn a failed check into a passed one.
    int difference;
    struct sigaction saved_actions[guarded_count];
    sigset_t saved_mask;
    stack_t saved_stack;
    unsigned saved_alarm;
};
fault_guard guard;

// The handlers run here, so that a fault that overran the stack can still be reported.
VT_LARGE_BUFFER alignas(16) char guard_stack[32 * 1024];

// The refusal's system calls are made directly where the processor is known, not through the
// dynamic linker's tables, which an altered program may have damaged.
#if defined(__x86_64__)
void raw_write(int fd, const void* data, size_t length) {
    long result;
    asm volatile("syscall"
                 : "=a"(result)
                 : "0"(static_cast<long>(SYS_write)), "D"(fd), "S"(data), "d"(length)
                 : "rcx", "r11", "memory");
}
[[noreturn]] void raw_exit(int status) {
    for (;;) {
        asm volatile("syscall"
                     :
                     : "a"(static_cast<long>(SYS_exit_group)), "D"(status)
                     : "rcx", "r11", "memory");
    }
}
#elif defined(__i386__)
void raw_write(int fd, const void* data, size_t length) {
    long result;
    asm volatile("int $0x80"
                 : "=a"(result)
                 : "0"(static_cast<long>(SYS_write)), "b"(fd), "c"(data), "d"(length)
                 : "memory");
}
[[noreturn]] void raw_exit(int status) {
    for (;;) {
        asm volatile("int $0x80"
                     :
                     : "a"(static_cast<long>(SYS_exit_group)), "b"(status)
                     : "memory");
    }
}
#else
void raw_write(int fd, const void* data, size_t length) {
    ssize_t written = write(fd, data, length);
    (void)written;
}
[[noreturn]] void raw_exit(int status) {
    _exit(status);
}
#endif

// Writes the refusal and ends the process: only async-signal-safe calls, and no exit handlers,
// which run code of the program that has just been found altered.
[[noreturn]] void refuse_from_signal(int) {
    if (guard.refusal_length > 0) raw_write(STDERR_FILENO, guard.refusal, guard.refusal_length);
    raw_exit(SELFCHECK_REFUSAL_STATUS);
}

// Refuses unless the second verdict says the digests compared equal. Kept out of line, so that
// its branch is not the one that decides the first verdict.
[[gnu::noinline]] void confirm_intact() {
    if (guard.difference != 0) refuse_from_signal(0);
}

// Opens the running executable and checks it against its trailer; a selfcheck_status.
int check_running_executable() {
    int fd = selfcheck_open_executable(SELFCHECK_OWN_EXECUTABLE, executed_name());
    if (fd < 0) return SELFCHECK_UNREADABLE;
    int status = selfcheck_verify_fd(fd);
    close(fd);
    return status;
}

} // namespace

void selfcheck_guard_begin(const char* refusal, unsigned seconds) {
    guard.refusal = refusal;
    guard.refusal_length = refusal != nullptr ? strlen(refusal) : 0;
    if (guard.active) {
        // Started already, from the program's start: only the time limit starts again.
        alarm(seconds);
        return;
    }
    guard.active = true;
    stack_t stack = {};
    stack.ss_sp = guard_stack;
    stack.ss_size = sizeof guard_stack;
    sigaltstack(&stack, &guard.saved_stack);

    struct sigaction action = {};
    action.sa_handler = refuse_from_signal;
    action.sa_flags = SA_ONSTACK;
    sigfillset(&action.sa_mask);
    sigset_t unblock;
    sigemptyset(&unblock);
    for (size_t i = 0; i < guarded_count; ++i) {
        sigaction(guarded_signals[i], &action, &guard.saved_actions[i]);
        sigaddset(&unblock, guarded_signals[i]);
    }
    // A fault signal that arrives blocked would kill the process without the refusal.
    sigprocmask(SIG_UNBLOCK, &unblock, &guard.saved_mask);
    guard.saved_alarm = alarm(seconds);
}

void selfcheck_guard_end() {
    if (!guard.active) return;
    guard.active = false;
    // The alarm is stopped before its handler goes, and an alarm the program inherited is set
    // again only once the old handler is back.
    alarm(0);
    for (size_t i = 0; i < guarded_count; ++i) {
        sigaction(guarded_signals[i], &guard.saved_actions[i], nullptr);
    }
    sigprocmask(SIG_SETMASK, &guard.saved_mask, nullptr);
    sigaltstack(&guard.saved_stack, nullptr);
    if (guard.saved_alarm != 0) alarm(guard.saved_alarm);
}

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
    guard.difference = 0;
    for (size_t i = 0; i < sizeof actual; ++i) guard.difference |= recorded[i] ^ actual[i];
    return memcmp(recorded, actual, sizeof actual) == 0 ? SELFCHECK_OK : SELFCHECK_MISMATCH;
}

int selfcheck_verify_file(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SELFCHECK_UNREADABLE;
    int status = selfcheck_verify_fd(fd);
    close(fd);
    return status;
}

int selfcheck_open_executable(const char* self_path, const char* execfn) {
    int fd = self_path != nullptr ? open(self_path, O_RDONLY | O_CLOEXEC) : -1;
    // Without /proc, or when the program may be executed but not read, only the name the kernel
    // executed can still reach the same file; argv[0] would let the caller name another one.
    if (fd < 0 && execfn != nullptr && execfn[0] != '\0') fd = open(execfn, O_RDONLY | O_CLOEXEC);
    return fd;
}

const char* selfcheck_executable_path() {
    const char* candidates[] = {SELFCHECK_OWN_EXECUTABLE, executed_name()};
    for (const char* path : candidates) {
        if (path == nullptr) continue;
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        close(fd);
        return path;
    }
    return nullptr;
}

int selfcheck_run(const char* refusal) {
    selfcheck_guard_begin(refusal, SELFCHECK_TIME_LIMIT);
    int status = check_running_executable();
    selfcheck_guard_end();
    return status;
}

void selfcheck_require(const char* refusal) {
    selfcheck_guard_begin(refusal, SELFCHECK_TIME_LIMIT);
    guard.difference = 1;
    if (check_running_executable() != SELFCHECK_OK) refuse_from_signal(0);
    confirm_intact();
    selfcheck_guard_end();
}
