// The executable integrity self-check that both programs run before anything else.
//
// A stamped program ends with a fixed-length text trailer that records the MD5 digest of every
// byte before it:
//
//     "\nintegrity-md5:" + 32 lower-case hexadecimal digits + "\n"   (48 bytes)
//
// Because the trailer has a fixed length, `sumwell -t 48 PROGRAM` prints the digest that the
// trailer of PROGRAM must hold, and `tail -c 47 PROGRAM` shows the trailer itself.
#pragma once

#include <cstddef>
#include <cstdint>

// Length of the trailer in bytes.
constexpr size_t SELFCHECK_TRAILER_SIZE = 48;
// The text that opens the trailer; the 32 digest digits and a line end follow it.
constexpr char SELFCHECK_TRAILER_MAGIC[] = "\nintegrity-md5:";
constexpr size_t SELFCHECK_MAGIC_SIZE = sizeof SELFCHECK_TRAILER_MAGIC - 1;

// Outcomes of a check, 0 when the file is intact.
enum selfcheck_status {
    SELFCHECK_OK = 0,
    SELFCHECK_UNREADABLE = 1, // the file could not be opened, examined or read
    SELFCHECK_NO_TRAILER = 2, // the file is shorter than a trailer, or its tail is no trailer
    SELFCHECK_MISMATCH = 3,   // the trailer records another digest than the bytes before it have
};

// Exit status of a program that refuses to run because its check failed.
constexpr int SELFCHECK_REFUSAL_STATUS = 126;
// Longest time in seconds that a check may take before it counts as failed.
constexpr unsigned SELFCHECK_TIME_LIMIT = 3;

// Checks that the running program's executable is unaltered. The check runs under the fault
// guard below, so an altered program whose fault lies in the code that computes the digest still
// stops with refusal and SELFCHECK_REFUSAL_STATUS instead of crashing or hanging. Returns 0 when
// the check passes, nonzero when the program must stop (the caller then reports refusal).
int selfcheck_run(const char* refusal);

// The check the programs run first: selfcheck_run, except that a failed check writes refusal to
// standard error and ends the process with SELFCHECK_REFUSAL_STATUS while still guarded, so that
// no altered code between the check and the exit runs. Returns only when the check passes.
void selfcheck_require(const char* refusal);

// Where the kernel lets a process read its own executable, whatever name it was started by.
constexpr char SELFCHECK_OWN_EXECUTABLE[] = "/proc/self/exe";

// Opens the running executable read-only: self_path (normally "/proc/self/exe") when it opens,
// else execfn, the name the kernel executed (never a name the caller of the program chose, such
// as argv[0]). Either may be null. Returns the descriptor, or -1 when neither opens.
int selfcheck_open_executable(const char* self_path, const char* execfn);

// The path by which the running executable can be read: "/proc/self/exe" when it opens, else
// the name the kernel executed; null when neither opens.
const char* selfcheck_executable_path();

// Starts the fault guard: until selfcheck_guard_end, a fault signal (SIGSEGV, SIGBUS, SIGILL,
// SIGFPE, SIGTRAP, SIGSYS, SIGABRT) or the end of `seconds` seconds (SIGALRM) writes refusal to
// standard error and ends the process with SELFCHECK_REFUSAL_STATUS. Saves the handlers, signal
// mask, alternate signal stack and pending alarm that it replaces. refusal must live until the
// guard ends.
void selfcheck_guard_begin(const char* refusal, unsigned seconds);
// Ends the fault guard: puts back what selfcheck_guard_begin saved. A guard already running
// (see SELFCHECK_GUARD_FROM_START) is kept by selfcheck_guard_begin, which then only changes
// the refusal and starts the time limit again.
void selfcheck_guard_end();

// Starts the fault guard at the program's very start, from .preinit_array, before any
// constructor runs: the compiler's processor detection, say, whose code an alteration may
// have hit too. selfcheck_require takes the guard over and ends it. Written once, at namespace
// scope, in the file that holds the program's main; refusal is a constant text.
#define SELFCHECK_GUARD_FROM_START(refusal)                                                        \
    [[gnu::used, gnu::section(".preinit_array")]] void (*selfcheck_start_guard)(int, char**,       \
                                                                                char**) =          \
        [](int, char**, char**) { selfcheck_guard_begin(refusal, SELFCHECK_TIME_LIMIT); }

// Checks the open file fd (from its start, whatever its offset) against its trailer. Returns a
// selfcheck_status; the descriptor stays open.
int selfcheck_verify_fd(int fd);

// Checks the file at path against its trailer. Returns a selfcheck_status.
int selfcheck_verify_file(const char* path);

// Writes the trailer that records digest into out (exactly SELFCHECK_TRAILER_SIZE bytes, no NUL).
void selfcheck_format_trailer(const uint8_t digest[16], char out[SELFCHECK_TRAILER_SIZE]);

// Reads the digest out of the SELFCHECK_TRAILER_SIZE bytes at tail. Returns 0 and fills digest
// when they form a well-made trailer (magic, 32 lower-case hexadecimal digits, line end), else
// SELFCHECK_NO_TRAILER.
int selfcheck_parse_trailer(const char* tail, uint8_t digest[16]);

// Digests the first length bytes of the open file fd (read from offset 0) into digest.
// Returns 0, or SELFCHECK_UNREADABLE when the bytes cannot be read.
int selfcheck_digest_prefix(int fd, uint64_t length, uint8_t digest[16]);
