// The fault guard: while the self-check runs, a fault signal or the time limit writes the refusal
// and ends the process, through system calls made directly, so that an altered program cannot
// crash or hang its way past the check.
#include <csignal>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

#include "selfcheck/selfcheck.h"
#include "selfcheck/selfcheck_internal.h"

namespace {

// The signals that end a guarded check: the time limit, and those by which the check's own code
// fails: the processor's faults, SIGTRAP (a breakpoint byte, or the trap flag set by an altered
// popf), SIGSYS (a system call that a seccomp filter traps) and SIGABRT (raised by the C
// library's checked copies when a length would overrun their buffer).
constexpr int guarded_signals[] = {SIGSEGV, SIGBUS, SIGILL,  SIGFPE,
                                   SIGTRAP, SIGSYS, SIGABRT, SIGALRM};
constexpr size_t guarded_count = sizeof guarded_signals / sizeof guarded_signals[0];

// What the guard replaced, put back when it ends. The programs run the check once, on their only
// thread, before anything else.
struct fault_guard {
    bool active;
    const char* refusal;
    size_t refusal_length;
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

} // namespace

void selfcheck_refuse() {
    refuse_from_signal(0);
}

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
