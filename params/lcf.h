// The parameter library: a program declares its parameters in a table of descriptors, creates a
// parser handle from it, fills the handle from its command line and configuration file, and reads
// the typed values back by id. Plain records, free functions, integer status codes.
#pragma once

#include <cstddef>
#include <cstdint>

struct in_addr;
struct sockaddr_in;
struct sockaddr_un;

// Value kinds: the type of a descriptor, of a value entry, and the classification of a text.
enum : int32_t {
    LCF_TYPE_NONE = 0,
    LCF_TYPE_STRING = 1,
    LCF_TYPE_TWO_WORDS = 2,
    LCF_TYPE_THREE_WORDS = 3,
    LCF_TYPE_INT = 4,
    LCF_TYPE_BOOL = 5,
    LCF_TYPE_IPV4 = 6,
    LCF_TYPE_SOCKET = 7,
    LCF_TYPE_COUNTER = 8,
    LCF_TYPE_ENUM = 9,
    LCF_TYPE_TEXT = 10,
};

// Descriptor flags.
constexpr uint32_t LCF_MANDATORY = 0x1;

// Flags of one command-line pass.
constexpr uint32_t LCF_PARSE_CMDLINE_ONLY = 0x1;
constexpr uint32_t LCF_PARSE_DEFAULTS = 0x2;

// Error codes; lcf_error_text gives each one's name.
enum : int32_t {
    LCF_OK = 0,
    LCF_ERROR_HANDLE_NOT_CREATED = 1,
    LCF_ERROR_CONFIG_FILE_NOT_FOUND = 2,
    LCF_ERROR_CANT_ALLOCATE_MEMORY = 3,
    LCF_ERROR_MUST_BE_PARAMETERS_MISSED = 4,
    LCF_ERROR_DUBLICATED_PARAMETERS = 5,
    LCF_ERROR_DIFFERENT_PARAMETER_TYPE = 6,
    LCF_ERROR_NULL_CONFIG_FILE_HANDLE = 7,
    LCF_ERROR_WRONG_ENUM_VALUE = 8,
    LCF_ERROR_MISSED_PARAM_VALUE = 9,
    LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE = 10,
};

// Reserved ids that the library itself reads (lcf_resolve_user_group).
constexpr int32_t LCF_USER_PARAMETER_ID = 20006;
constexpr int32_t LCF_GROUP_PARAMETER_ID = 20007;

// Size of the library-wide text buffers (error context, word buffer): 1024 characters plus a NUL.
constexpr size_t LCF_TEXT_BUFFER_SIZE = 1024;

struct parser_handle;

// Called by the command-line parser each time its option is met; the result is ignored.
using lcf_option_callback = int (*)(parser_handle* handle, uint32_t data, int32_t id,
                                    const char* value);
// Asked about each error of a command-line pass: nonzero stops the pass and keeps the error,
// zero drops the error and lets the pass go on.
using lcf_error_callback = int (*)(uint32_t data, int32_t code, int32_t index, int32_t id);

// One row of a caller-owned table that declares a parameter.
struct parameter_descriptor {
    int32_t id;                   // key of the value entry; rows may share an id
    const char* name;             // configuration-file name (case-sensitive), null: command line only
    char short_name;              // single-letter option, 0 for none
    const char* long_name;        // long option without dashes, or null
    int32_t type;                 // LCF_TYPE_*
    uint32_t flags;               // LCF_MANDATORY
    const char* default_value;    // applied when no source set the parameter, or null
    const char* const* enum_values; // null-terminated list for LCF_TYPE_ENUM, or null
    lcf_option_callback callback; // or null
    uint32_t callback_data;       // passed unchanged to callback
    const char* min_value;        // decimal lower limit of an LCF_TYPE_INT value, or null
    const char* max_value;        // decimal upper limit of an LCF_TYPE_INT value, or null
};

// The value of one parameter id.
struct value_entry {
    int32_t id;
    int32_t type;   // LCF_TYPE_NONE until a value is assigned
    char* text;     // heap copy owned by the entry, or null
    int32_t number; // numeric form of the value
};

// The object made by lcf_create. It refers to the caller's descriptor table without copying it.
struct parser_handle {
    uint32_t value_count;
    uint32_t value_capacity; // equals descriptor_count (0 if the array could not be allocated)
    value_entry* values;     // sorted by id (unsigned) after every parse
    uint32_t descriptor_count;
    parameter_descriptor* descriptors;
    lcf_error_callback error_callback;
    uint32_t error_callback_data;
    int32_t last_error;
    int32_t error_line;
    const char* error_context; // the library-wide error-context buffer after a failure, or null
};

// --- Handle and getters. Every operation accepts a null handle and answers "none". ---

// Makes a handle over count descriptor rows; null only if the handle itself cannot be allocated.
// A failed value array leaves capacity 0 and last_error LCF_ERROR_CANT_ALLOCATE_MEMORY.
parser_handle* lcf_create(uint32_t count, parameter_descriptor* descriptors);
// 1 when an allocation of the library has failed since the last lcf_create (the value array, a
// value text, the configuration file's stream ...), else 0: values may then be missing, and a
// caller must not answer from them.
int lcf_memory_exhausted();
// Frees every value text, the value array and the handle; the table is left alone. Returns 0.
int lcf_destroy(parser_handle* handle);
// Installs the error callback with its data and clears last_error; 0, or
// LCF_ERROR_NULL_CONFIG_FILE_HANDLE for a null handle.
int lcf_set_callback(parser_handle* handle, uint32_t data, lcf_error_callback callback);
// Writes the option callback and its data into the first row with the id; 0, or -1 if none.
int lcf_set_param_callback(parser_handle* handle, int32_t id, lcf_option_callback callback,
                           uint32_t data);
// The last recorded LCF_* code; LCF_ERROR_HANDLE_NOT_CREATED for a null handle.
int32_t lcf_last_error(const parser_handle* handle);
// The static name of a code, or "No error description" for a code outside the table.
const char* lcf_error_text(int32_t code);
// The configuration-file line where reading failed; -1 for a null handle.
int32_t lcf_error_line(const parser_handle* handle);
// The text around the last reported failure, or null.
const char* lcf_error_context(const parser_handle* handle);
// Number of value entries in use; 0 for a null handle.
uint32_t lcf_value_count(const parser_handle* handle);
// The id of the entry at position; 0 past the end.
int32_t lcf_value_id_at(const parser_handle* handle, uint32_t position);
// The type of the id's entry, 0 if there is none.
int32_t lcf_get_type(const parser_handle* handle, int32_t id);
// The first descriptor row whose configuration-file name equals name exactly, or null: the row
// under whose id the file's value of that name is stored.
parameter_descriptor* lcf_find_by_name(const parser_handle* handle, const char* name);
// Text of the entry with the id (owned by the handle), or null.
const char* lcf_get_string(const parser_handle* handle, int32_t id);
// The number of an INT, BOOL, COUNTER or ENUM entry; -1 for any other type or none.
int32_t lcf_get_int(const parser_handle* handle, int32_t id);
// The index-th white-space separated word of the entry's text, in a library-wide buffer; or null.
const char* lcf_get_word(const parser_handle* handle, int32_t id, uint32_t index);
// inet_aton of an IPV4 entry's text into *address (network order); 0 for any other entry.
int lcf_get_ipv4(const parser_handle* handle, int32_t id, in_addr* address);
// For a SOCKET entry: 1 for "unix:/..." or "/...", 2 for "t..." or a leading digit, else 1.
int lcf_get_socket_family(const parser_handle* handle, int32_t id);
// Clears *address and, for a SOCKET entry, fills it from "[tcp:]a.b.c.d[:port]"; returns 0.
int lcf_get_inet_address(const parser_handle* handle, int32_t id, sockaddr_in* address);
// Clears *address and, for a SOCKET entry, fills it from "[unix:]/path"; returns 0. The path is
// cut to the record's 108 characters, and one of exactly that length is left unterminated.
int lcf_get_unix_address(const parser_handle* handle, int32_t id, sockaddr_un* address);

// --- Command line. ---

// One pass over the arguments (without the program name): options are stored until an
// argument that is not one, "--" or an unknown option. Returns the index of the first argument
// not taken, count when all were taken.
int32_t lcf_parse_command_line(parser_handle* handle, char* const* arguments, int32_t count,
                               uint32_t flags);
// Error callback that drops every error, so that a pass goes on.
int lcf_ignore_errors(uint32_t data, int32_t code, int32_t index, int32_t id);
// Option callback: prints the version lines and ends the program with status 0.
int lcf_print_version_and_exit(parser_handle* handle, uint32_t data, int32_t id,
                               const char* value);
// Option callback: prints the help banner and ends the program with status 0.
int lcf_print_help_and_exit(parser_handle* handle, uint32_t data, int32_t id, const char* value);
// Writes the two version lines to standard output; returns 0.
int lcf_print_version();
// Writes the help banner to standard output; returns 0.
int lcf_print_help();
// Writes the one-line version text into buffer, cut to size; returns 0 (a null buffer is left
// alone).
int lcf_version_string(char* buffer, size_t size);

// --- Configuration file. ---

// Reads the configuration file at path into the handle; 0, or the LCF_* code of the failure.
int lcf_parse_file(parser_handle* handle, const char* path);
// Reads size bytes of memory as a configuration file; a null block with a size is refused as
// unreadable (LCF_ERROR_CONFIG_FILE_NOT_FOUND).
int lcf_parse_buffer(parser_handle* handle, const char* data, size_t size);

// --- Value kinds and validation. ---

// Number of white-space separated words; 0 for null or empty.
uint32_t lcf_count_words(const char* text);
// The index-th word copied into the library-wide word buffer; null when there is no such word.
// A word of 1024 characters or more does not fit and is refused (null) rather than cut, so that
// a caller never works on a shortened value it cannot tell from the real one.
const char* lcf_word_at(const char* text, uint32_t index);
// 1 if the text is non-empty and strtol (base 10) consumes all of it, else 0.
int lcf_is_integer(const char* text);
// 1 if the socket-address pattern occurs anywhere in the text, else 0 (also when it cannot be
// compiled).
int lcf_is_socket_address(const char* text);
// 1 if the text is non-empty and starts with four dot-separated unsigned numbers, else 0.
int lcf_is_ipv4(const char* text);
// The kind of a text by its shape: 0 no word; one word: INT, else SOCKET, else IPV4, else
// STRING; two words, three words, or TEXT for more.
int32_t lcf_classify(const char* text);
// 1 if a descriptor of the given type accepts a text of the given kind, else 0.
int lcf_type_accepts(int32_t descriptor_type, int32_t kind);
// Position of the first list entry equal to the text without regard to case; -1 when the
// descriptor is null, not an enumeration, has no list or no entry matches.
int32_t lcf_enum_index(const parameter_descriptor* descriptor, const char* text);
// Replaces the entry's text with a copy of text, or with "yes"/"no" after the number for a
// BOOL descriptor. Returns 0, or LCF_ERROR_CANT_ALLOCATE_MEMORY if the copy cannot be made, the
// old text then staying in place.
int lcf_store_text(value_entry* entry, const parameter_descriptor* descriptor, const char* text);
// Classifies the text, checks it against the descriptor's type and stores it with its number.
// LCF_ERROR_DIFFERENT_PARAMETER_TYPE: kind refused, entry untouched; LCF_ERROR_WRONG_ENUM_VALUE:
// enumeration text not in the list, the entry then has type LCF_TYPE_ENUM and keeps its text and
// number; LCF_ERROR_CANT_ALLOCATE_MEMORY: no entry to store into (its array could not be made).
int lcf_assign(value_entry* entry, const parameter_descriptor* descriptor, const char* text);
// For each row in table order: clamps an INT value to the row's limits (warnings logged), and
// stops with -1 at the first mandatory row that has neither an entry nor a default (error
// logged). Returns 0 when every row passes; -1 for a null handle, which has nothing to check.
int lcf_check_values(parser_handle* handle);
// Resolves the user (20006) and group (20007) parameters to numeric ids. A group text
// "user:group" names both. Returns 0 and writes both ids (-1 for an absent or empty name) to the
// outputs given; -1 with nothing written when both outputs are null or a name is not found.
int lcf_resolve_user_group(const parser_handle* handle, int32_t* user_id, int32_t* group_id);
// Creates with mkdir(mode) every directory that the path names before a "/", and the last
// component too when flags bit 0 is set; existing directories are fine. 2 for a null or empty
// path, 1 when a prefix exceeds 1151 characters (directories made so far stay), else 0.
int lcf_make_path(const char* path, uint32_t mode, uint32_t flags);
