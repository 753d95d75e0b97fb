// Fuzzes the configuration-file reader from memory: every input is read as a file against a
// table that declares every value kind, limits, defaults and mandatory parameters, and the
// handle is then read back through every getter. Besides the sanitizers, the handle's own
// promises are checked: entries within capacity and sorted after a good read, the result a
// known code, the error context within its buffer. The same bytes are also read from a real
// file, and both reads must leave the same result, line, context and values: the programs read
// files, the fuzzer reads memory.
#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "params/lcf.h"

namespace {

// The reader ends the process (by design) on a token of 16,383 bytes; stay clear of it.
constexpr size_t largest_input = 16000;

constexpr const char* levels[] = {"low", "Medium", "HIGH", "", nullptr};

// Every kind, with and without limits, defaults and the mandatory flag; two rows share an id,
// one enumeration default is missing from its list, and the user and group ids are declared so
// that the library's own lookups run too. Short names keep the fuzzer's guesses cheap.
parameter_descriptor table[] = {
    {1, "N", 0, nullptr, LCF_TYPE_NONE, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {2, "S", 0, nullptr, LCF_TYPE_STRING, LCF_MANDATORY, "dflt", nullptr, nullptr, 0, nullptr,
     nullptr},
    {3, "W2", 0, nullptr, LCF_TYPE_TWO_WORDS, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {4, "W3", 0, nullptr, LCF_TYPE_THREE_WORDS, 0, "a b c", nullptr, nullptr, 0, nullptr, nullptr},
    {5, "I", 0, nullptr, LCF_TYPE_INT, 0, "7", nullptr, nullptr, 0, "-5", "100"},
    {6, "Ibig", 0, nullptr, LCF_TYPE_INT, LCF_MANDATORY, nullptr, nullptr, nullptr, 0,
     "-2147483648", "2147483647"},
    {7, "B", 0, nullptr, LCF_TYPE_BOOL, 0, "YES", nullptr, nullptr, 0, nullptr, nullptr},
    {8, "IP", 0, nullptr, LCF_TYPE_IPV4, 0, "127.0.0.1", nullptr, nullptr, 0, nullptr, nullptr},
    {9, "SO", 0, nullptr, LCF_TYPE_SOCKET, 0, "tcp:10.1.2.3:2525", nullptr, nullptr, 0, nullptr,
     nullptr},
    {10, "C", 0, nullptr, LCF_TYPE_COUNTER, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {11, "E", 0, nullptr, LCF_TYPE_ENUM, 0, "medium", levels, nullptr, 0, nullptr, nullptr},
    {12, "Ebad", 0, nullptr, LCF_TYPE_ENUM, 0, "none", levels, nullptr, 0, nullptr, nullptr},
    {13, "X", 0, nullptr, LCF_TYPE_TEXT, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {13, "Xtwin", 0, nullptr, LCF_TYPE_TEXT, 0, "twin", nullptr, nullptr, 0, nullptr, nullptr},
    {-1, "Neg", 0, nullptr, LCF_TYPE_INT, 0, nullptr, nullptr, nullptr, 0, "junk", "-junk"},
    {14, nullptr, 'c', "config-file", LCF_TYPE_STRING, 0, "/etc/x", nullptr, nullptr, 0, nullptr,
     nullptr},
    {LCF_USER_PARAMETER_ID, "User", 0, nullptr, LCF_TYPE_STRING, 0, nullptr, nullptr, nullptr, 0,
     nullptr, nullptr},
    {LCF_GROUP_PARAMETER_ID, "Group", 0, nullptr, LCF_TYPE_STRING, 0, nullptr, nullptr, nullptr, 0,
     nullptr, nullptr},
};
constexpr uint32_t table_rows = sizeof table / sizeof table[0];

// Stops the run with a crash that libFuzzer records, when a promise of the library is broken.
void require(bool holds) {
    if (!holds) abort();
}

// True when the handle's entries are in ascending order of their ids taken as unsigned.
bool sorted(const parser_handle* handle) {
    for (uint32_t i = 1; i < handle->value_count; ++i) {
        if (static_cast<uint32_t>(handle->values[i - 1].id) >
            static_cast<uint32_t>(handle->values[i].id)) {
            return false;
        }
    }
    return true;
}

// Reads every id back through every getter; the results only have to be safe to touch.
void read_back(const parser_handle* handle) {
    for (uint32_t row = 0; row < table_rows; ++row) {
        int32_t id = table[row].id;
        const char* text = lcf_get_string(handle, id);
        if (text != nullptr) (void)strlen(text);
        (void)lcf_get_type(handle, id);
        (void)lcf_get_int(handle, id);
        for (uint32_t index = 0; index < 4; ++index) {
            const char* word = lcf_get_word(handle, id, index);
            if (word != nullptr) require(strlen(word) <= LCF_TEXT_BUFFER_SIZE);
        }
        in_addr address;
        (void)lcf_get_ipv4(handle, id, &address);
        (void)lcf_get_socket_family(handle, id);
        sockaddr_in inet;
        (void)lcf_get_inet_address(handle, id, &inet);
        sockaddr_un local;
        (void)lcf_get_unix_address(handle, id, &local);
    }
    for (uint32_t position = 0; position <= lcf_value_count(handle); ++position) {
        (void)lcf_value_id_at(handle, position);
    }
}

// What a read leaves behind, to compare two reads of the same bytes.
struct read_outcome {
    int result;
    int32_t line;
    std::string context;
    std::vector<std::string> values; // "id type number text" per entry, in array order
};

// The outcome of the read that just filled handle with result.
read_outcome outcome_of(const parser_handle* handle, int result) {
    read_outcome outcome{result, lcf_error_line(handle), "", {}};
    const char* context = lcf_error_context(handle);
    if (context != nullptr) outcome.context = context;
    for (uint32_t i = 0; i < handle->value_count; ++i) {
        const value_entry& entry = handle->values[i];
        outcome.values.push_back(std::to_string(entry.id) + " " + std::to_string(entry.type) + " " +
                                 std::to_string(entry.number) + " " +
                                 (entry.text != nullptr ? entry.text : "(none)"));
    }
    return outcome;
}

// A file of our own that each input is written to before it is read as a file.
char file_path[] = "/tmp/params_file_fuzz.XXXXXX";

// Reads the bytes from the file at file_path into a fresh handle and returns the outcome.
read_outcome read_as_file(const uint8_t* data, size_t size) {
    FILE* file = fopen(file_path, "wb");
    require(file != nullptr);
    require(fwrite(data, 1, size, file) == size);
    require(fclose(file) == 0);
    parser_handle* handle = lcf_create(table_rows, table);
    require(handle != nullptr);
    read_outcome outcome = outcome_of(handle, lcf_parse_file(handle, file_path));
    lcf_destroy(handle);
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = mkstemp(file_path);
    require(fd >= 0);
    close(fd);
    atexit([] { unlink(file_path); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= largest_input) return 0;
    const read_outcome from_file = read_as_file(data, size);
    parser_handle* handle = lcf_create(table_rows, table);
    require(handle != nullptr);
    int result = lcf_parse_buffer(handle, reinterpret_cast<const char*>(data), size);
    const read_outcome from_memory = outcome_of(handle, result);
    require(from_memory.result == from_file.result && from_memory.line == from_file.line);
    require(from_memory.context == from_file.context && from_memory.values == from_file.values);
    require(result >= LCF_OK && result <= LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE);
    require(result == lcf_last_error(handle));
    require(handle->value_count <= handle->value_capacity);
    if (result == LCF_OK || result == LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE) require(sorted(handle));
    const char* context = lcf_error_context(handle);
    if (context != nullptr) require(strlen(context) <= LCF_TEXT_BUFFER_SIZE);
    (void)lcf_error_text(result);
    read_back(handle);
    (void)lcf_check_values(handle);
    int32_t user = 0;
    int32_t group = 0;
    (void)lcf_resolve_user_group(handle, &user, &group);
    read_back(handle);
    lcf_destroy(handle);
    return 0;
}
