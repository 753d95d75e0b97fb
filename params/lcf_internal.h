// What the parameter library's source files share among themselves and callers must not use:
// the lookups, the value-entry helpers, the error-context buffer, the reader state and hooks.
#pragma once

#include "params/lcf.h"

// The library-wide error-context buffer: 1024 characters, a terminator and a fill position.
// The command-line parser formats failing arguments into it; the file reader collects the
// current line into it through lcf_line_append.
struct lcf_context_buffer {
    char text[LCF_TEXT_BUFFER_SIZE + 1];
    uint32_t fill;
};
extern lcf_context_buffer lcf_error_context_buffer;

// The state of the one file read in progress, driven by the reader hooks.
struct lcf_reader_state {
    parser_handle* handle;
    parameter_descriptor* descriptor; // selected by lcf_begin_parameter
    value_entry* entry;               // the selected descriptor's value entry
    int skip;                         // nonzero: the current line's values go nowhere
};
extern lcf_reader_state lcf_reader;

// Set when an allocation of the library fails; cleared by lcf_create. Read by lcf_memory_exhausted.
extern int lcf_allocation_failed;

// --- Memory of handles, value arrays and value texts (memory.cpp): a static area of 4 KiB
// first, then the heap. ---

// A zero-filled block of count * size bytes, as calloc; null when it cannot be had.
void* lcf_allocate(size_t count, size_t size);
// A copy of text in a block of its own, as strdup; null when it cannot be had.
char* lcf_copy_text(const char* text);
// Gives back a block of lcf_allocate or lcf_copy_text (null is ignored), as free.
void lcf_release(void* block);

// --- Lookups (linear, first match in array or table order). ---

// The first entry in array order with the id, or null.
value_entry* lcf_find_value(const parser_handle* handle, int32_t id);
// The first row in table order with the id, or null.
parameter_descriptor* lcf_find_descriptor(const parser_handle* handle, int32_t id);
// The first row an option argument names: any number of leading dashes, then either the one
// letter of a short name or a whole long name (both case-sensitive); null if none.
parameter_descriptor* lcf_find_option(const parser_handle* handle, const char* argument);
// qsort order of two value entries: by id compared as unsigned 32-bit numbers.
int lcf_compare_values(const void* a, const void* b);

// --- Value entries. ---

// Appends a zeroed entry with the id; null when the array is full (or was never allocated).
value_entry* lcf_add_value(parser_handle* handle, int32_t id);
// Makes an entry from the default of every row that has one and whose id has no entry, in
// table order (with cmdline_only, rows without a configuration-file name only). An enumeration
// default outside its list sets last_error 10 and keeps its decimal reading as the number.
void lcf_apply_defaults(parser_handle* handle, int cmdline_only);
// Sorts the entries by id (unsigned) with lcf_compare_values.
void lcf_sort_values(parser_handle* handle);
// The number text stands for under the descriptor, as lcf_assign and lcf_apply_defaults store it:
// an enumeration's position in its list, 1 for a BOOL's "yes" (any case) and 0 for anything else,
// otherwise decimal_int32. An enumeration text missing from its list sets *listed to false
// and gives its decimal reading.
int32_t lcf_value_number(const parameter_descriptor* descriptor, const char* text, bool* listed);

// --- Reader hooks, called by the configuration-file reader in file order. ---

// Selects the first row named name and its value entry (appending one if the id has none);
// a name no row has turns skip mode on. Returns 0.
int lcf_begin_parameter(const char* name);
// Checks and stores text into the selected parameter: the lcf_assign code; 0 and no change in
// skip mode; LCF_ERROR_CANT_ALLOCATE_MEMORY when the parameter has no entry to hold the value.
int lcf_set_current_value(const char* text);
// Stores a run of digits into the selected parameter as an INT value, then answers
// LCF_ERROR_DIFFERENT_PARAMETER_TYPE if the descriptor's type refuses integers (the entry is
// changed either way); 0 in skip mode, LCF_ERROR_CANT_ALLOCATE_MEMORY when the parameter has no
// entry to hold the value.
int lcf_set_current_number(const char* digits);
// Turns skip mode on: values go nowhere until lcf_begin_parameter selects a parameter.
void lcf_skip_current();
// Empties the error-context buffer.
void lcf_line_reset();
// Appends text at the fill position, cutting it where the buffer's 1024 characters end; once
// full, later appends add nothing.
void lcf_line_append(const char* text);
