// Fuzzes the command-line parser with random argument vectors. The first input byte picks the
// flags of two passes over the same handle and the error callback (none, the library's
// lcf_ignore_errors, one that stops at every error, one that stops only on refused values); the
// rest, split at NUL bytes, is the vector. Besides the sanitizers, the parser's promises are
// checked after each pass: the position inside the vector, entries within capacity and sorted,
// the error context within its buffer, and switch and counter texts that say what their
// numbers say.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "params/lcf.h"

namespace {

// Arguments beyond this many are dropped: longer vectors find nothing new.
constexpr size_t most_arguments = 64;

// Option callback that reads what it is given, as a real one would, and peeks at the handle.
int note_option(parser_handle* handle, uint32_t data, int32_t id, const char* value) {
    if (value != nullptr) (void)strlen(value);
    const char* text = lcf_get_string(handle, id);
    if (text != nullptr) (void)strlen(text);
    return static_cast<int>(data);
}

// Error callback that keeps every error and stops the pass.
int stop_on_error(uint32_t, int32_t, int32_t, int32_t) {
    return 1;
}

// Error callback that stops only on a refused value and drops the rest.
int stop_on_refused_value(uint32_t, int32_t code, int32_t, int32_t) {
    return code == LCF_ERROR_DIFFERENT_PARAMETER_TYPE;
}

constexpr lcf_error_callback error_callbacks[] = {nullptr, lcf_ignore_errors, stop_on_error,
                                                  stop_on_refused_value};

constexpr const char* colours[] = {"red", "Green", "BLUE", nullptr};

// Every kind, on the command line only and with a configuration-file name (so that the
// command-line-only pass steps over them), with defaults, enumerations, mandatory flags and
// option callbacks; two switches share an id as the version and help options of a program do.
parameter_descriptor table[] = {
    {100, nullptr, 's', "string", LCF_TYPE_STRING, 0, "dflt", nullptr, note_option, 1, nullptr,
     nullptr},
    {101, "Two", '2', "two", LCF_TYPE_TWO_WORDS, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {102, nullptr, '3', "three", LCF_TYPE_THREE_WORDS, LCF_MANDATORY, "x y z", nullptr, note_option,
     0, nullptr, nullptr},
    {103, "Int", 'i', "int", LCF_TYPE_INT, 0, "12", nullptr, note_option, 0, "-10", "1000"},
    {104, nullptr, 'b', "bool", LCF_TYPE_BOOL, 0, "yes", nullptr, note_option, 0, nullptr, nullptr},
    {105, "Ip", 'a', "ipv4", LCF_TYPE_IPV4, 0, "1.2.3.4", nullptr, nullptr, 0, nullptr, nullptr},
    {106, nullptr, 'u', "socket", LCF_TYPE_SOCKET, 0, "unix:/tmp/s", nullptr, note_option, 0,
     nullptr, nullptr},
    {107, nullptr, 'v', "verbose", LCF_TYPE_COUNTER, 0, nullptr, nullptr, note_option, 0, nullptr,
     nullptr},
    {108, nullptr, 'e', "colour", LCF_TYPE_ENUM, 0, "green", colours, note_option, 0, nullptr,
     nullptr},
    {109, "Shade", 0, "shade", LCF_TYPE_ENUM, 0, "purple", colours, nullptr, 0, nullptr, nullptr},
    {110, nullptr, 't', "text", LCF_TYPE_TEXT, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {111, nullptr, 'n', "none", LCF_TYPE_NONE, LCF_MANDATORY, nullptr, nullptr, nullptr, 0, nullptr,
     nullptr},
    {112, nullptr, 0, "print-version", LCF_TYPE_BOOL, 0, nullptr, nullptr, note_option, 0, nullptr,
     nullptr},
    {112, nullptr, 0, "help", LCF_TYPE_BOOL, 0, nullptr, nullptr, note_option, 0, nullptr, nullptr},
    {113, "Flag", 'f', "flag", LCF_TYPE_BOOL, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {114, "Count", 'k', "count", LCF_TYPE_COUNTER, 0, nullptr, nullptr, nullptr, 0, nullptr,
     nullptr},
    {-7, nullptr, 'm', "minus", LCF_TYPE_INT, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
};
constexpr uint32_t table_rows = sizeof table / sizeof table[0];

// Stops the run with a crash that libFuzzer records, when a promise of the parser is broken.
void require(bool holds) {
    if (!holds) abort();
}

// Checks what every pass promises about the handle it leaves.
void check_pass(const parser_handle* handle, int32_t position, int32_t count) {
    require(position >= 0 && position <= count);
    require(handle->value_count <= handle->value_capacity);
    for (uint32_t i = 1; i < handle->value_count; ++i) {
        require(static_cast<uint32_t>(handle->values[i - 1].id) <=
                static_cast<uint32_t>(handle->values[i].id));
    }
    const char* context = lcf_error_context(handle);
    if (context != nullptr) require(strlen(context) < LCF_TEXT_BUFFER_SIZE);
    for (uint32_t i = 0; i < handle->value_count; ++i) {
        const value_entry& entry = handle->values[i];
        if (entry.type == LCF_TYPE_COUNTER && entry.text != nullptr) {
            char expected[16];
            snprintf(expected, sizeof expected, "%d", entry.number);
            require(strcmp(entry.text, expected) == 0);
        }
        if (entry.type == LCF_TYPE_BOOL && entry.text != nullptr) {
            if (strcmp(entry.text, "yes") == 0) require(entry.number == 1);
            if (strcmp(entry.text, "no") == 0) require(entry.number == 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t choice = data[0];
    std::vector<std::string> words;
    std::string current;
    for (size_t i = 1; i < size && words.size() < most_arguments; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (words.size() < most_arguments && (!current.empty() || size > 1)) words.push_back(current);
    std::vector<char*> arguments;
    for (std::string& word : words) arguments.push_back(word.data());
    arguments.push_back(nullptr);
    const int32_t count = static_cast<int32_t>(words.size());

    parser_handle* handle = lcf_create(table_rows, table);
    require(handle != nullptr);
    lcf_error_callback callback = error_callbacks[(choice >> 4) & 3];
    if (callback != nullptr) lcf_set_callback(handle, choice >> 6, callback);
    int32_t position = lcf_parse_command_line(handle, arguments.data(), count, choice & 3);
    check_pass(handle, position, count);
    position = lcf_parse_command_line(handle, arguments.data(), count, (choice >> 2) & 3);
    check_pass(handle, position, count);
    (void)lcf_check_values(handle);
    for (uint32_t row = 0; row < table_rows; ++row) {
        (void)lcf_get_int(handle, table[row].id);
        (void)lcf_get_word(handle, table[row].id, 1);
    }
    lcf_destroy(handle);
    return 0;
}
