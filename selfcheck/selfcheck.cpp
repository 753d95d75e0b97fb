// The check of the running program: finding its executable without trusting the name it was
// started by, and running the check under the fault guard.
#include "selfcheck/selfcheck.h"

#include <fcntl.h>
#include <sys/auxv.h>
#include <unistd.h>

#include "selfcheck/selfcheck_internal.h"

namespace {

// The name the kernel executed (the path given to execve), or null when the kernel gave none.
const char* executed_name() {
    auto name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    return name != nullptr && name[0] != '\0' ? name : nullptr;
}

// Refuses unless the second verdict says the digests compared equal. Kept out of line, so that
// its branch is not the one that decides the first verdict.
[[gnu::noinline]] void confirm_intact() {
    if (selfcheck_difference != 0) selfcheck_refuse();
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
    selfcheck_difference = 1;
    if (check_running_executable() != SELFCHECK_OK) selfcheck_refuse();
    confirm_intact();
    selfcheck_guard_end();
}
