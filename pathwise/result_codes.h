// Result codes of pathwise; a run's result code is its exit status.
#pragma once

enum : int {
    PW_OK = 0,
    PW_ERR_CREATE_PARSER = 2,     // the parser handle could not be created
    PW_ERR_CONFIG = 3,            // configuration loading did not succeed
    PW_ERR_WRITE_OUTPUT = 4,      // standard output could not be written: answers were lost
    PW_ERR_NO_VALUE = 5,          // an -a parameter has no value
    PW_ERR_UNKNOWN_PATH_NAME = 7, // a -p path name is not in the path-name table
    PW_ERR_NO_PATH_ARGUMENT = 8,  // a -p path name that needs a path argument was given none
    PW_ERR_PATH_TOO_LONG = 9,     // a -p path is longer than the path store holds
    PW_ERR_NO_MEMORY = 20,        // memory ran out: for the descriptor table or a library value
    PW_ERR_INTEGRITY = 126,       // the executable failed its integrity self-check
};

// The line of a program that failed its integrity self-check; written also in quiet mode: a
// program that refuses to run must say why.
constexpr char PW_INTEGRITY_REFUSAL[] = "ERR:Executable integrity check failed\n";
