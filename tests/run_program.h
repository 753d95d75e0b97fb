// The end-to-end test helper: runs a built program with arguments in a scratch directory and
// returns what it wrote and how it ended.
#pragma once

#include <string>
#include <vector>

#include "tests/scratch_dir.h"

struct run_result {
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
    int status;      // exit status, or 128 + signal number when a signal ended it
};

struct run_options {
    std::string directory;       // working directory; empty: the current one
    std::string stdout_path;     // when set, standard output goes to this file instead of a pipe
    std::string argv0;           // when set, the first argument vector entry instead of the path
    std::string stdin_path = {}; // when set, standard input reads this file instead of /dev/null
};

// Runs program with args (not counting the program name) and collects its output.
run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options = {});

// The programs under test: the environment variables PATHWISE_PROGRAM and SUMWELL_PROGRAM when
// set (to test another build of them, say a 32-bit one), else the programs built beside the tests.
std::string pathwise_program();
std::string sumwell_program();

// Completes the last of words (the command first) in bash, in directory (empty: the current
// one), with the function that the completion script at script registered for the first word.
// Its standard output holds the offers left in COMPREPLY, one per line, and a line
// "compopt ARGS" for every compopt call (a stand-in: the builtin works only under readline).
run_result complete_in_bash(const std::string& script, const std::vector<std::string>& words,
                            const std::string& directory);

// The whole content of the file at path; empty when it cannot be read.
std::string read_file(const std::string& path);
