// The library's version and help texts, and the two option callbacks that print one of them
// and end the program.
#include <cstdio>
#include <cstdlib>

#include "common/common.h"
#include "params/lcf.h"

namespace {

constexpr const char* VERSION_SUMMARY = "Velmar Version 3.0.0 [0284], VOR30/Release";
// The help banner; puts adds the line end of its last, empty line.
constexpr const char* HELP_BANNER = "Tarnwell 3.0.0[0284]\n\n\n-c config-file-name\n";

} // namespace

int lcf_print_version() {
    for (const char* line : program_version_lines) puts(line);
    return 0;
}

int lcf_version_string(char* buffer, size_t size) {
    if (buffer != nullptr && size != 0) snprintf(buffer, size, "%s", VERSION_SUMMARY);
    return 0;
}

int lcf_print_version_and_exit(parser_handle*, uint32_t, int32_t, const char*) {
    lcf_print_version();
    exit(0);
}

int lcf_print_help() {
    puts(HELP_BANNER);
    return 0;
}

int lcf_print_help_and_exit(parser_handle*, uint32_t, int32_t, const char*) {
    lcf_print_help();
    exit(0);
}
