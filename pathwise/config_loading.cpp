#include "pathwise/config_loading.h"

#include <strings.h>

#include "logsink/logsink.h"
#include "pathstore/pathstore.h"

namespace {

// A root path: the configuration-file name of its parameter and the path-store setter it feeds.
// The parameters exist only in the configuration file, each as one word; their ids run from
// PARAM_ROOT_PATH_ID in this order.
struct root_path_row {
    const char* name;
    int (*setter)(const char* text);
};

// Applied in this order, widest first, so a narrower parameter always wins over the value that
// a wider one's cascade gave, wherever the two stand in the file.
constexpr root_path_row root_path_rows[] = {
    {.name = "RootPath", .setter = set_install_root},
    {.name = "BinRootPath", .setter = set_bin_dir},
    {.name = "CCRootPath", .setter = set_control_dir},
    {.name = "FilterControlBinPath", .setter = set_control_bin_dir},
    {.name = "FilterConfigPath", .setter = set_conf_dir},
    {.name = "FilterDataConfigPath", .setter = set_conf_data_dir},
    {.name = "FilterSrcConfigPath", .setter = set_conf_src_dir},
    {.name = "FilterTmpConfigPath", .setter = set_conf_tmp_dir},
    {.name = "FilterDefConfigPath", .setter = set_conf_def_dir},
    {.name = "FilterCFDataRootPath", .setter = set_cfdata_dir},
    {.name = "FilterCFDataMainsetPath", .setter = set_cfdata_mainset_dir},
};
constexpr size_t ROOT_PATH_COUNT = sizeof root_path_rows / sizeof root_path_rows[0];

// A command-line option's row: every field not given is zero or null.
constexpr parameter_descriptor option_row(int32_t id, char short_name, const char* long_name,
                                          int32_t type, lcf_option_callback callback) {
    parameter_descriptor row{};
    row.id = id;
    row.short_name = short_name;
    row.long_name = long_name;
    row.type = type;
    row.callback = callback;
    return row;
}

// The command-line options, ahead of the root paths in the built-in table.
constexpr parameter_descriptor option_rows[] = {
    option_row(PARAM_CONFIG_FILE_ID, 'c', "config-file", LCF_TYPE_STRING, nullptr),
    option_row(PARAM_VERSION_ID, 0, "print-version", LCF_TYPE_BOOL, lcf_print_version_and_exit),
    option_row(PARAM_VERSION_ID, 0, "help", LCF_TYPE_BOOL, lcf_print_help_and_exit),
};
constexpr size_t OPTION_COUNT = sizeof option_rows / sizeof option_rows[0];
static_assert(OPTION_COUNT + ROOT_PATH_COUNT == BUILTIN_DESCRIPTOR_COUNT);

// The built-in table: the options, then a descriptor made from each root path.
struct builtin_table {
    parameter_descriptor rows[BUILTIN_DESCRIPTOR_COUNT];
};
constexpr builtin_table make_builtin_table() {
    builtin_table table{};
    for (size_t i = 0; i < OPTION_COUNT; ++i) table.rows[i] = option_rows[i];
    for (size_t i = 0; i < ROOT_PATH_COUNT; ++i) {
        parameter_descriptor& row = table.rows[OPTION_COUNT + i];
        row.id = PARAM_ROOT_PATH_ID + static_cast<int32_t>(i);
        row.name = root_path_rows[i].name;
        row.type = LCF_TYPE_STRING;
    }
    return table;
}
constexpr builtin_table builtin = make_builtin_table();

} // namespace

const parameter_descriptor (&builtin_descriptors)[BUILTIN_DESCRIPTOR_COUNT] = builtin.rows;

namespace {

constexpr uint32_t PASS_FIRST = LCF_PARSE_CMDLINE_ONLY | LCF_PARSE_DEFAULTS;
constexpr uint32_t PASS_SECOND = LCF_PARSE_DEFAULTS;
constexpr int DEFAULT_FACILITY = 16;

struct facility_row {
    const char* name;
    int code;
};

// Searched in order without regard to case; "console" and "security" give the code of "mail".
constexpr facility_row facility_rows[] = {
    {"auth", 32},     {"authpriv", 80}, {"console", 16}, {"cron", 72},    {"daemon", 24},
    {"ftp", 88},      {"kern", 0},      {"lpr", 48},     {"mail", 16},    {"news", 56},
    {"security", 16}, {"syslog", 40},   {"user", 8},     {"uucp", 64},    {"local0", 128},
    {"local1", 136},  {"local2", 144},  {"local3", 152}, {"local4", 160}, {"local5", 168},
    {"local6", 176},  {"local7", 184},
};

// One command-line pass over the arguments after the program name; 1 if it took them all.
int parse_arguments(parser_handle* handle, int argc, char** argv, uint32_t flags) {
    int32_t count = argc - 1;
    if (lcf_parse_command_line(handle, argv + 1, count, flags) == count) return 1;
    log_error("[NOLOGID]: Couldn't parse command line.");
    return 0;
}

// Reads the configuration file chosen by "-c" or the path store's default; 1 on success.
int read_configuration_file(parser_handle* handle) {
    const char* file = lcf_get_string(handle, PARAM_CONFIG_FILE_ID);
    if (file != nullptr) {
        // The store keeps at most 1023 characters; the file opened is named by the whole text.
        set_config_file(file);
    } else {
        file = get_config_file();
    }
    if (lcf_parse_file(handle, file) == LCF_OK) return 1;
    int32_t code = lcf_last_error(handle);
    log_error("[NOLOGID]: Error(%d) during parsing configuration file %s, %d: %s", code, file,
              lcf_error_line(handle), lcf_error_text(code));
    return 0;
}

// Passes every root-path parameter that holds a text to its path-store setter, in table order.
void apply_root_paths(const parser_handle* handle) {
    for (size_t i = 0; i < ROOT_PATH_COUNT; ++i) {
        const char* text = lcf_get_string(handle, PARAM_ROOT_PATH_ID + static_cast<int32_t>(i));
        if (text != nullptr) root_path_rows[i].setter(text);
    }
}

} // namespace

int load_configuration(parser_handle* handle, int argc, char** argv) {
    int result = 0;
    log_set_level(1);
    lcf_set_callback(handle, 0, lcf_ignore_errors);
    if (parse_arguments(handle, argc, argv, PASS_FIRST)) result = LOAD_ARGS_OK;
    if (read_configuration_file(handle)) result |= LOAD_FILE_OK;
    if (parse_arguments(handle, argc, argv, PASS_SECOND)) result |= LOAD_ARGS_OK;
    if (lcf_check_values(handle) != 0) result = 0;
    apply_root_paths(handle);
    log_set_facility(configured_facility(handle));
    // Absent in pathwise: -1, which as an unsigned verbosity lets every level through.
    log_set_level(static_cast<uint32_t>(lcf_get_int(handle, PARAM_LOG_LEVEL_ID)));
    return result;
}

int load_configuration_strict(parser_handle* handle, int argc, char** argv) {
    return load_configuration(handle, argc, argv) == (LOAD_FILE_OK | LOAD_ARGS_OK) ? 0 : -1;
}

int configured_facility(const parser_handle* handle) {
    const char* name = lcf_get_string(handle, PARAM_FACILITY_ID);
    if (name == nullptr) return DEFAULT_FACILITY;
    for (const facility_row& row : facility_rows) {
        if (strcasecmp(row.name, name) == 0) return row.code;
    }
    return DEFAULT_FACILITY;
}
