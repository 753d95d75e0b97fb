// The command-line pass: walks a program's arguments against the handle's descriptor table,
// stores every option it recognises and stops at the first argument it cannot take, telling
// the caller how far it got.
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "params/lcf_internal.h"

namespace {

// Room for any 32-bit number formatted with "%d": a sign, ten digits and the terminator, so a
// counter's text always says the same as its number.
constexpr size_t COUNTER_TEXT_SIZE = 12;

// Where one pass stands.
struct pass_state {
    parser_handle* handle;
    char* const* arguments;
    int32_t count;
    uint32_t flags;
    int32_t position;        // index of the next argument to take
    int32_t current_id;      // id of the last option acted on, 0 before any
    bool reported_by_option; // the error callback stopped the pass on a refused value
};

enum step_result { STEP_NEXT, STEP_STOP };

// True for the kinds that take no value on the command line: switches and counters.
bool takes_no_value(int32_t type) {
    return type == LCF_TYPE_BOOL || type == LCF_TYPE_COUNTER;
}

// 1 when text is "yes" in any case, else 0 (also for null).
int32_t is_yes(const char* text) {
    return text != nullptr && strcasecmp(text, "yes") == 0;
}

// Writes "first" or "first second" into the error-context buffer (cut to its size), points the
// handle at it and marks the failure as a command-line one (line 1).
void record_context(parser_handle* handle, const char* first, const char* second) {
    lcf_context_buffer& buffer = lcf_error_context_buffer;
    if (second != nullptr) {
        snprintf(buffer.text, LCF_TEXT_BUFFER_SIZE, "%s %s", first, second);
    } else {
        snprintf(buffer.text, LCF_TEXT_BUFFER_SIZE, "%s", first);
    }
    buffer.fill = static_cast<uint32_t>(strlen(buffer.text));
    handle->error_context = buffer.text;
    handle->error_line = 1;
}

// The value entry of id, appended if the id has none; null when the handle has no room.
value_entry* entry_for(parser_handle* handle, int32_t id) {
    value_entry* entry = lcf_find_value(handle, id);
    return entry != nullptr ? entry : lcf_add_value(handle, id);
}

// Steps over an option that belongs to the configuration file, and over its value; a value
// missing at the end ends the pass with LCF_ERROR_MISSED_PARAM_VALUE.
step_result step_over(pass_state* pass, const parameter_descriptor* row) {
    int32_t width = takes_no_value(row->type) ? 1 : 2;
    if (pass->count - pass->position < width) {
        pass->handle->last_error = LCF_ERROR_MISSED_PARAM_VALUE;
        pass->position = pass->count;
        return STEP_STOP;
    }
    pass->position += width;
    return STEP_NEXT;
}

// A switch met again flips; met for the first time it takes its default ("yes" or anything
// else). The text follows the number.
void apply_switch(value_entry* entry, const parameter_descriptor* row) {
    if (entry->text != nullptr || entry->type != LCF_TYPE_NONE) {
        entry->number = entry->number == 0 ? 1 : 0;
    } else {
        entry->type = LCF_TYPE_BOOL;
        entry->number = is_yes(row->default_value);
    }
    lcf_store_text(entry, row, entry->number != 0 ? "yes" : "no");
}

// Counts one more mention of a counter; the count stops at the largest 32-bit number.
void apply_counter(value_entry* entry, const parameter_descriptor* row) {
    if (entry->text == nullptr && entry->type == LCF_TYPE_NONE) {
        entry->type = LCF_TYPE_COUNTER;
        entry->number = 0;
    }
    if (entry->number < INT32_MAX) ++entry->number;
    char text[COUNTER_TEXT_SIZE];
    snprintf(text, sizeof text, "%d", entry->number);
    lcf_store_text(entry, row, text);
}

// Takes a switch or counter option: its callback first, then the entry changes.
step_result take_flag(pass_state* pass, const parameter_descriptor* row) {
    parser_handle* handle = pass->handle;
    if (row->callback != nullptr) row->callback(handle, row->callback_data, row->id, nullptr);
    // Looked up again: a callback may have parsed into the handle and re-sorted its entries.
    value_entry* entry = lcf_find_value(handle, row->id);
    if (entry != nullptr) {
        if (row->type == LCF_TYPE_BOOL) {
            apply_switch(entry, row);
        } else {
            apply_counter(entry, row);
        }
    }
    ++pass->position;
    return STEP_NEXT;
}

// Takes an option with its value. A refused value is put to the error callback: a nonzero
// answer stops the pass on the option; otherwise (or without a callback) the text is kept
// although it was refused, and the pass goes on.
step_result take_value(pass_state* pass, const parameter_descriptor* row) {
    parser_handle* handle = pass->handle;
    int32_t option = pass->position;
    const char* value = option + 1 < pass->count ? pass->arguments[option + 1] : nullptr;
    if (row->callback != nullptr && value != nullptr) {
        row->callback(handle, row->callback_data, row->id, value);
    }
    pass->position = option + 1;
    if (value == nullptr) {
        handle->last_error = LCF_ERROR_MISSED_PARAM_VALUE;
        return STEP_STOP;
    }
    value_entry* entry = lcf_find_value(handle, row->id);
    int code = lcf_assign(entry, row, value);
    handle->last_error = code;
    if (code != LCF_OK && handle->error_callback != nullptr) {
        if (handle->error_callback(handle->error_callback_data, LCF_ERROR_DIFFERENT_PARAMETER_TYPE,
                                   option, row->id) != 0) {
            record_context(handle, pass->arguments[option], value);
            pass->position = option;
            pass->reported_by_option = true;
            return STEP_STOP;
        }
        handle->last_error = LCF_OK;
    }
    if (code != LCF_OK) lcf_store_text(entry, row, value);
    pass->position = option + 2;
    return STEP_NEXT;
}

// Takes the argument at the current position; STEP_STOP ends the pass.
step_result take_argument(pass_state* pass) {
    const char* argument = pass->arguments[pass->position];
    if (strcmp(argument, "--") == 0) {
        ++pass->position;
        return STEP_STOP;
    }
    if (argument[0] != '-') return STEP_STOP;
    const parameter_descriptor* row = lcf_find_option(pass->handle, argument);
    if (row == nullptr) return STEP_STOP;
    if ((pass->flags & LCF_PARSE_CMDLINE_ONLY) != 0 && row->name != nullptr) {
        return step_over(pass, row);
    }
    // A handle whose value array could not be made has no room: the pass cannot take the
    // option and stops on it, as on one it does not know.
    if (entry_for(pass->handle, row->id) == nullptr) {
        pass->handle->last_error = LCF_ERROR_CANT_ALLOCATE_MEMORY;
        return STEP_STOP;
    }
    pass->current_id = row->id;
    return takes_no_value(row->type) ? take_flag(pass, row) : take_value(pass, row);
}

// Puts an error left at the end of the pass to the error callback. The argument concerned is
// the last one when the pass ran out of arguments (the option lacking its value), else the one
// the pass stopped on; the pass then ends on it. A zero answer drops the error; a nonzero one
// keeps it and records the argument as the context. An error the callback already stopped the
// pass for is not asked about again.
void report_end_of_pass(pass_state* pass) {
    parser_handle* handle = pass->handle;
    if (handle->last_error == LCF_OK || handle->error_callback == nullptr) return;
    if (pass->reported_by_option) return;
    int32_t index = pass->position < pass->count ? pass->position : pass->count - 1;
    pass->position = index;
    if (handle->error_callback(handle->error_callback_data, handle->last_error, index,
                               pass->current_id) == 0) {
        handle->last_error = LCF_OK;
        return;
    }
    record_context(handle, pass->arguments[index], nullptr);
}

} // namespace

int32_t lcf_parse_command_line(parser_handle* handle, char* const* arguments, int32_t count,
                               uint32_t flags) {
    if (handle == nullptr || arguments == nullptr || count < 0) return 0;
    pass_state pass = {handle, arguments, count, flags, 0, 0, false};
    handle->last_error = LCF_OK;
    while (pass.position < count && take_argument(&pass) == STEP_NEXT) {
    }
    report_end_of_pass(&pass);
    if ((flags & LCF_PARSE_DEFAULTS) != 0 && handle->value_count < handle->descriptor_count) {
        lcf_apply_defaults(handle, (flags & LCF_PARSE_CMDLINE_ONLY) != 0 ? 1 : 0);
    }
    lcf_sort_values(handle);
    return pass.position;
}

int lcf_ignore_errors(uint32_t, int32_t, int32_t, int32_t) {
    return 0;
}
