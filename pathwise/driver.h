// The pathwise driver: counts the requests, builds the descriptor table, has the configuration
// loaded, answers the requests in command-line order and reports the first failure.
#pragma once

#include <cstdint>

#include "params/lcf.h"

// Runs pathwise over its argument vector; returns the exit status.
int pathwise_main(int argc, char** argv);
// Writes the usage line to standard output, with program in place of the program name.
void print_usage(const char* program);
// Prints the value of one -a request (labelled "name:" when asked); 0, or 5 when it has none.
int answer_parameter(const parser_handle* handle, const char* name, int32_t id, int labelled);
// Writes the log line and, unless quiet, the "ERR:" line of a failed run; argument may be null.
void report_failure(int code, const char* argument, int quiet);
