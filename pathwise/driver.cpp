#include "pathwise/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "common/common.h"
#include "logsink/logsink.h"
#include "pathwise/config_loading.h"
#include "pathwise/path_names.h"
#include "pathwise/result_codes.h"
#include "selfcheck/selfcheck.h"

static_assert(PW_ERR_INTEGRITY == SELFCHECK_REFUSAL_STATUS);

namespace {

// What a failed run writes: the log line (or none) and the standard-error line (or none);
// "%s" stands for the failing argument.
struct failure_row {
    int code;
    const char* log_format;
    const char* stderr_format;
};

constexpr failure_row failure_rows[] = {
    {.code = PW_ERR_CREATE_PARSER,
     .log_format = "[NOLOGID]: Can't create parameters parser",
     .stderr_format = "ERR:Can't create parameters parser\n"},
    {.code = PW_ERR_CONFIG,
     .log_format = "[NOLOGID]: Can't parse config file\n",
     .stderr_format = "ERR:Can't parse config file\n"},
    {.code = PW_ERR_WRITE_OUTPUT,
     .log_format = "[NOLOGID]: Can't write to standard output",
     .stderr_format = "ERR:Can't write to standard output\n"},
    {.code = PW_ERR_UNKNOWN_PATH_NAME,
     .log_format = "[NOLOGID]: Specified path name (%s) doesn't exist",
     .stderr_format = "ERR:Specified path name (%s) doesn't exist\n"},
    {.code = PW_ERR_NO_PATH_ARGUMENT,
     .log_format = nullptr,
     .stderr_format = "ERR:Parameter for path name (%s) wasn't specified\n"},
    {.code = PW_ERR_PATH_TOO_LONG,
     .log_format = "[NOLOGID]: Path for path name (%s) is too long",
     .stderr_format = "ERR:Path for path name (%s) is too long\n"},
    {.code = PW_ERR_NO_MEMORY,
     .log_format = "[NOLOGID]: There is not enough memory",
     .stderr_format = "ERR:There is not enough memory\n"},
};

// The requests of a command line and the flags they imply.
struct request_counts {
    int parameters; // -a requests
    int paths;      // -p requests
    int quiet;      // some argument is -q
};

// 1 if argv[i] is the option (compared without regard to case) and an argument follows it.
int is_request(int argc, char** argv, int i, const char* option) {
    return i + 1 < argc && strcasecmp(argv[i], option) == 0;
}

// Counts the -a and -p requests and notes -q, over the whole vector.
request_counts count_requests(int argc, char** argv) {
    request_counts counts{.parameters = 0, .paths = 0, .quiet = 0};
    for (int i = 0; i < argc; ++i) {
        if (is_request(argc, argv, i, "-a")) ++counts.parameters;
        if (is_request(argc, argv, i, "-p")) ++counts.paths;
        if (strcasecmp(argv[i], "-q") == 0) counts.quiet = 1;
    }
    return counts;
}

// Flushes standard output; 1 if anything written to it was lost.
int output_lost() {
    return fflush(stdout) != 0 || ferror(stdout) != 0;
}

// Ends a run's output: lost output turns a successful code into PW_ERR_WRITE_OUTPUT (a request's
// own failure keeps its code), and a failure is reported. Returns the final code.
int exit_status_after_flush(int code, const char* failing, int quiet) {
    if (output_lost() && code == PW_OK) code = PW_ERR_WRITE_OUTPUT;
    if (code != PW_OK) report_failure(code, failing, quiet);
    return code;
}

// Option callbacks of the driver's own table: print as the library's do, then end the program
// the way every answer ends, so that lost output is not taken for success. data is the quiet
// flag.
int print_version_and_exit(parser_handle*, uint32_t quiet, int32_t, const char*) {
    lcf_print_version();
    exit(exit_status_after_flush(PW_OK, nullptr, static_cast<int>(quiet)));
}

int print_help_and_exit(parser_handle*, uint32_t quiet, int32_t, const char*) {
    lcf_print_help();
    exit(exit_status_after_flush(PW_OK, nullptr, static_cast<int>(quiet)));
}

// Which driver callback takes the place of each library exit callback in the driver's table.
struct callback_swap {
    lcf_option_callback library;
    lcf_option_callback driver;
};
constexpr callback_swap callback_swaps[] = {
    {.library = lcf_print_version_and_exit, .driver = print_version_and_exit},
    {.library = lcf_print_help_and_exit, .driver = print_help_and_exit},
};

// The descriptor table of a run with up to 32 -a requests, in static storage: with it, standard
// output's buffer and the parameter library's small blocks static as well, such a run never
// touches the heap, whose first page costs more than the whole answer in a virtual machine.
constexpr size_t STATIC_TABLE_ROWS = BUILTIN_DESCRIPTOR_COUNT + 32;
VT_LARGE_BUFFER parameter_descriptor static_table[STATIC_TABLE_ROWS];

// Frees a table that build_descriptor_table took from the heap.
void free_descriptor_table(parameter_descriptor* table) {
    if (table != static_table) free(table);
}

// A zero-filled table of the built-in rows (their exit callbacks swapped for the driver's, with
// the quiet flag as data) followed by one text row per -a request, ids from FIRST_REQUEST_ID
// upwards in command-line order; null when it cannot be allocated.
parameter_descriptor* build_descriptor_table(int argc, char** argv, request_counts counts) {
    size_t rows = BUILTIN_DESCRIPTOR_COUNT + static_cast<size_t>(counts.parameters);
    parameter_descriptor* table = static_table;
    if (rows <= STATIC_TABLE_ROWS) {
        memset(static_table, 0, rows * sizeof(parameter_descriptor));
    } else {
        table = static_cast<parameter_descriptor*>(calloc(rows, sizeof(parameter_descriptor)));
        if (table == nullptr) return nullptr;
    }
    memcpy(table, builtin_descriptors, sizeof builtin_descriptors);
    for (uint32_t i = 0; i < BUILTIN_DESCRIPTOR_COUNT; ++i) {
        for (const callback_swap& swap : callback_swaps) {
            if (table[i].callback != swap.library) continue;
            table[i].callback = swap.driver;
            table[i].callback_data = static_cast<uint32_t>(counts.quiet);
        }
    }
    parameter_descriptor* next = table + BUILTIN_DESCRIPTOR_COUNT;
    int32_t id = FIRST_REQUEST_ID;
    for (int i = 0; i < argc; ++i) {
        if (!is_request(argc, argv, i, "-a")) continue;
        next->id = id++;
        next->name = argv[i + 1];
        next->type = LCF_TYPE_TEXT;
        ++next;
    }
    return table;
}

// Answers the requests in command-line order until one fails; returns its code (0 if none) and
// points *failing at its argument. The file's value of a name is stored under the first row
// that carries the name, so an -a request reads that row's id: a root path's built-in row, or
// the row of an earlier request for the same name. Its own row always carries the name.
int answer_requests(const parser_handle* handle, int argc, char** argv, int labelled,
                    const char** failing) {
    for (int i = 0; i < argc; ++i) {
        int code = PW_OK;
        if (is_request(argc, argv, i, "-a")) {
            const char* name = argv[i + 1];
            code = answer_parameter(handle, name, lcf_find_by_name(handle, name)->id, labelled);
        } else if (is_request(argc, argv, i, "-p")) {
            const char* argument = argv[i + 1];
            code = print_path(path_name_of(argument), path_argument_of(argument), labelled);
        }
        if (code != PW_OK) {
            *failing = argv[i + 1];
            return code;
        }
    }
    return PW_OK;
}

// Loads the configuration into handle and answers the requests; returns the run's result code
// and points *failing at the failing request's argument.
int load_and_answer(parser_handle* handle, int argc, char** argv, request_counts counts,
                    const char** failing) {
    // A value the library could not store would leave a request, or -c itself, without its
    // value, and the answer would come from elsewhere: no answer at all then.
    if (lcf_memory_exhausted() != 0) return PW_ERR_NO_MEMORY;
    int loaded = load_configuration(handle, argc, argv);
    if (lcf_memory_exhausted() != 0) return PW_ERR_NO_MEMORY;
    if ((loaded & LOAD_FILE_OK) == 0) return PW_ERR_CONFIG;
    int labelled = counts.parameters + counts.paths > 1;
    return answer_requests(handle, argc, argv, labelled, failing);
}

// Counts, declares, loads and answers; returns the run's result code.
int run_requests(int argc, char** argv) {
    request_counts counts = count_requests(argc, argv);
    const char* failing = nullptr;
    int code = PW_OK;
    parser_handle* handle = nullptr;
    parameter_descriptor* table = build_descriptor_table(argc, argv, counts);
    if (table == nullptr) {
        code = PW_ERR_NO_MEMORY;
    } else {
        uint32_t rows = BUILTIN_DESCRIPTOR_COUNT + static_cast<uint32_t>(counts.parameters);
        handle = lcf_create(rows, table);
        code = handle == nullptr ? PW_ERR_CREATE_PARSER
                                 : load_and_answer(handle, argc, argv, counts, &failing);
    }
    code = exit_status_after_flush(code, failing, counts.quiet);
    lcf_destroy(handle);
    free_descriptor_table(table);
    return code;
}

} // namespace

void print_usage(const char* program) {
    printf("Usage: %s [-c <path_to_configfile>] -a <parameter_name> -p <path_name> [-q] \n",
           program);
}

int answer_parameter(const parser_handle* handle, const char* name, int32_t id, int labelled) {
    const char* value = lcf_get_string(handle, id);
    if (value == nullptr) return PW_ERR_NO_VALUE;
    if (labelled) printf("%s:", name);
    printf("%s\n", value);
    return PW_OK;
}

void report_failure(int code, const char* argument, int quiet) {
    if (argument == nullptr) argument = "";
    for (const failure_row& row : failure_rows) {
        if (row.code != code) continue;
        if (row.log_format != nullptr) log_error(row.log_format, argument);
        if (!quiet) fprintf(stderr, row.stderr_format, argument);
        return;
    }
}

int pathwise_main(int argc, char** argv) {
    selfcheck_require(PW_INTEGRITY_REFUSAL); // or ends the process with PW_ERR_INTEGRITY
    buffer_standard_output();
    if (argc < 2) {
        print_usage(argc > 0 ? argv[0] : "pathwise");
        return exit_status_after_flush(PW_OK, nullptr, 0);
    }
    return run_requests(argc, argv);
}
