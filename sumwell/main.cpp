// sumwell: prints the MD5 digest of each file named on the command line, or of its own
// executable in benchmark mode, as "<digest> *<name>" lines; with --check, checks the files that
// lists of such lines name.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/common.h"
#include "selfcheck/file_io.h"
#include "selfcheck/selfcheck.h"
#include "sumwell/check_list.h"
#include "sumwell/in_flight.h"

namespace {

// The usage text as the program has always printed it: scripts match its wording word for word.
constexpr char usage_format[] =
    "Usage: %s [-b repeats] [-t tailbytes] file file...\nWhere:\n -b repeats - run benchmark "
    "repeats times\n -t tailbytes - not count tailbytes bytes from file tail in cksum\n";

// Exit status when standard output could not be written; no other outcome uses it.
constexpr int output_failed_status = 2;

// What the command line asks for.
struct settings {
    int32_t repeats = 1;
    int benchmark = 0; // how many "-b" options were given
    int32_t tail = 0;  // negative: every file is too small (see open_for_summing)
    bool check = false;
    check_settings checking;
};

// The long options, each matched only whole: any other argument that begins with "--" goes to
// getopt as it always did, with the same diagnostic. All but --check only go with --check.
struct long_option {
    const char* name;
    bool check_settings::*flag; // null for --check itself
};
constexpr long_option long_options[] = {
    {.name = "--check", .flag = nullptr},
    {.name = "--quiet", .flag = &check_settings::quiet},
    {.name = "--status", .flag = &check_settings::status},
    {.name = "--strict", .flag = &check_settings::strict},
    {.name = "--warn", .flag = &check_settings::warn},
    {.name = "--ignore-missing", .flag = &check_settings::ignore_missing},
};

// The errno of the first failed write to standard output, or 0 while none failed.
int output_error = 0;

// True when standard output has failed; notes the error number the first time.
bool output_failed() {
    if (output_error == 0 && ferror(stdout)) output_error = errno_or_eio();
    return output_error != 0;
}

// Flushes standard output and returns status, or reports a failed write and returns 2.
int exit_status_after_flush(int status) {
    if (fflush(stdout) != 0 && output_error == 0) output_error = errno_or_eio();
    if (!output_failed()) return status;
    fprintf(stderr, "Error! write to standard output failed: %s\n", strerror(output_error));
    return output_failed_status;
}

// True when some argument after the program name is exactly "--print-version".
bool asks_for_version(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--print-version") == 0) return true;
    }
    return false;
}

// Sets in s the long option that argument is and returns true; false when it is none of them.
bool take_long_option(const char* argument, settings* s) {
    for (const long_option& o : long_options) {
        if (strcmp(argument, o.name) != 0) continue;
        if (o.flag == nullptr) {
            s->check = true;
        } else {
            s->checking.*o.flag = true;
        }
        return true;
    }
    return false;
}

// The first option set in s that needs --check when it is missing, or null.
const char* option_without_check(const settings& s) {
    if (s.check) return s.benchmark > 0 ? "-b" : nullptr;
    for (const long_option& o : long_options) {
        if (o.flag != nullptr && s.checking.*o.flag) return o.name;
    }
    return nullptr;
}

// Parses the options into s. Returns 0, or -1 after getopt reported an unknown option or a
// missing argument, or after an option that goes only with --check came without it (-b with
// it). Options and file names may be mixed, whatever the environment says (a set
// POSIXLY_CORRECT would otherwise end the options at the first file name); "--" ends the
// options. The file arguments are moved, in their order, to the end of argv, and optind is
// left at the first of them.
int parse_options(int argc, char** argv, settings* s) {
    // The leading "-" has getopt hand back every file name in place (as option 1) instead of
    // reordering argv by its own rules. Files met so far are kept together at [first, next):
    // each new one is joined to them by moving the options read in between in front of them.
    int first = 1;
    int next = 1;
    int option;
    for (;;) {
        // Between two calls getopt is never inside a cluster of option letters (both take an
        // argument), so argv[optind] is a whole argument that getopt has not looked at.
        if (optind < argc && take_long_option(argv[optind], s)) {
            ++optind;
            continue;
        }
        if ((option = getopt(argc, argv, "-b:t:")) == -1) break;
        switch (option) {
        case 1:
            std::rotate(argv + first, argv + next, argv + optind - 1);
            first += optind - 1 - next;
            next = optind;
            break;
        case 'b':
            s->repeats = decimal_int32(optarg);
            ++s->benchmark;
            break;
        case 't':
            s->tail = decimal_int32(optarg);
            break;
        default:
            return -1;
        }
    }
    // Options read after the last file, and a "--", go in front of the files, which then run
    // on into those after the "--".
    std::rotate(argv + first, argv + next, argv + optind);
    optind -= next - first;
    const char* alone = option_without_check(*s);
    if (alone != nullptr) {
        fprintf(stderr, "%s: option '%s' goes only %s '--check'\n", argv[0], alone,
                s->check ? "without" : "with");
        return -1;
    }
    return 0;
}

// The file that benchmark mode sums: the running executable itself, read the way the self-check
// read it, so that a file named by argv[0] never takes its place. The self-check has already
// refused to run when neither way reads it.
const char* benchmark_path() {
    const char* path = selfcheck_executable_path();
    return path != nullptr ? path : SELFCHECK_OWN_EXECUTABLE;
}

// Sums every file of list with the tail setting, on the processors this process may use; a
// failing file does not stop the others, a failed write to standard output does.
void sum_list(const file_list& list, const settings& s) {
    int error =
        sum_in_flight(list, static_cast<uint32_t>(s.tail), usable_processors(), stdout, stderr);
    if (error != 0 && output_error == 0) output_error = error;
}

// Sums the program's own executable repeats times, each line naming it as program.
void run_benchmark(const char* program, const settings& s) {
    if (s.repeats <= 0) return;
    sum_list({static_cast<uint64_t>(s.repeats), nullptr, benchmark_path(), program}, s);
}

void sum_files(int count, char** paths, const settings& s) {
    sum_list({static_cast<uint64_t>(count), paths, nullptr, nullptr}, s);
}

// Checks the lists (standard input when there are none) and returns the check's exit status.
int check(int count, char** lists, settings* s) {
    static char standard_input[] = "-";
    static char* no_lists[] = {standard_input};
    if (count == 0) {
        count = 1;
        lists = no_lists;
    }
    s->checking.tail = static_cast<uint32_t>(s->tail);
    s->checking.threads = usable_processors();
    int error;
    int status = check_lists(count, lists, s->checking, stdout, stderr, &error);
    if (error != 0 && output_error == 0) output_error = error;
    return status;
}

} // namespace

// The refusal of an altered program; the test suites and scripts match it word for word.
constexpr char integrity_refusal[] = "Error! executable integrity check failed\n";

SELFCHECK_GUARD_FROM_START(integrity_refusal);

int main(int argc, char** argv) {
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "sumwell";
    selfcheck_require(integrity_refusal);
    buffer_standard_output();
    if (asks_for_version(argc, argv)) {
        for (const char* line : program_version_lines) printf("%s\n", line);
        return exit_status_after_flush(0);
    }

    settings s;
    if (parse_options(argc, argv, &s) != 0) {
        printf(usage_format, program);
        fflush(stdout);
        return 1;
    }
    if (s.check) return exit_status_after_flush(check(argc - optind, argv + optind, &s));
    if (s.benchmark > 0) {
        run_benchmark(program, s);
    } else {
        sum_files(argc - optind, argv + optind, s);
    }
    return exit_status_after_flush(0);
}
