// vt_stamp: the build's post-link step. Appends the integrity trailer to each program named, or
// with -c only checks it.
//
//     vt_stamp [-c] [-f] FILE...
//
// Exit status: 0 when every file ends stamped (or, with -c, checks out), 1 when one does not,
// 2 for a usage error.
#include <cstdio>
#include <cstring>

#include "selfcheck/selfcheck.h"
#include "selfcheck/stamp.h"

namespace {

// What a failed check of a file means to the person who reads the line.
constexpr const char* check_texts[] = {
    "ok",
    "cannot be read",
    "carries no integrity trailer",
    "does not match its integrity trailer",
};

// What stamping a file did, or why it failed.
constexpr const char* stamp_texts[] = {
    "stamped",
    "already stamped",
    "trailer replaced",
    "carries a trailer that does not match its bytes (altered?); -f replaces it",
    "cannot be read or written",
};

// Prints the usage line to standard error and returns the usage status.
int usage(const char* program) {
    fprintf(stderr,
            "Usage: %s [-c] [-f] file...\n -c  check only\n -f  replace a trailer that "
            "does not match\n",
            program);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int check_only = 0;
    int replace = 0;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (strcmp(argv[first], "-c") == 0) {
            check_only = 1;
        } else if (strcmp(argv[first], "-f") == 0) {
            replace = 1;
        } else if (strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        } else {
            return usage(argv[0]);
        }
    }
    if (first >= argc) return usage(argv[0]);

    int failed = 0;
    for (int i = first; i < argc; ++i) {
        if (check_only) {
            int status = selfcheck_verify_file(argv[i]);
            printf("%s: %s\n", argv[i], check_texts[status]);
            failed |= status != SELFCHECK_OK;
        } else {
            int status = stamp_file(argv[i], replace);
            if (status == STAMP_REFUSED || status == STAMP_UNWRITABLE) {
                fprintf(stderr, "vt_stamp: %s: %s\n", argv[i], stamp_texts[status]);
                failed = 1;
            }
        }
    }
    return failed;
}
