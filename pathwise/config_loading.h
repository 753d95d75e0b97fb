// Configuration loading: turns the command line and the main configuration file into parameter
// values and moves the path store's root directories to the configured ones.
#pragma once

#include <cstdint>

#include "params/lcf.h"

// Bits of the result of load_configuration.
constexpr int LOAD_FILE_OK =
    0x1; // the file was read without error and the values passed their check
constexpr int LOAD_ARGS_OK = 0x2; // a command-line pass took every argument

// Ids of the built-in parameters.
constexpr int32_t PARAM_VERSION_ID = 20000; // "print-version" and "help"
constexpr int32_t PARAM_CONFIG_FILE_ID = 20002;
constexpr int32_t PARAM_FACILITY_ID = 20003;  // declared by no pathwise row: always absent
constexpr int32_t PARAM_LOG_LEVEL_ID = 20005; // declared by no pathwise row: always absent
constexpr int32_t PARAM_ROOT_PATH_ID = 20008; // the first of the eleven root paths, "RootPath"

// Number of rows in builtin_descriptors; request descriptors get ids from here upwards.
constexpr uint32_t BUILTIN_DESCRIPTOR_COUNT = 14;
constexpr int32_t FIRST_REQUEST_ID = 14;

// The 14 parameters pathwise declares itself: the command-line options and the root paths.
extern const parameter_descriptor (&builtin_descriptors)[BUILTIN_DESCRIPTOR_COUNT];

// Reads the command line and the configuration file into handle and applies the root paths to
// the path store; returns LOAD_FILE_OK | LOAD_ARGS_OK bits. Ends the process for "print-version"
// and "help".
int load_configuration(parser_handle* handle, int argc, char** argv);
// load_configuration, answering 0 when both bits are set and -1 otherwise.
int load_configuration_strict(parser_handle* handle, int argc, char** argv);
// The system-log facility code named by the facility parameter; 16 when absent or unknown.
int configured_facility(const parser_handle* handle);
