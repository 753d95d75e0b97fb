// The library-wide error-context buffer and reader state, and the hooks through which the
// configuration-file reader selects parameters, stores values and collects the current line.
#include <cstdlib>
#include <cstring>

#include "common/common.h"
#include "params/lcf_internal.h"

lcf_context_buffer lcf_error_context_buffer;
lcf_reader_state lcf_reader;

namespace {

// Whether the current line's values have somewhere to go: not skipped, and a handle and a
// selected descriptor in the reader state.
bool parameter_selected() {
    return lcf_reader.skip == 0 && lcf_reader.handle != nullptr && lcf_reader.descriptor != nullptr;
}

} // namespace

int lcf_begin_parameter(const char* name) {
    parameter_descriptor* row = lcf_find_by_name(lcf_reader.handle, name);
    lcf_reader.descriptor = row;
    lcf_reader.entry = nullptr;
    if (row == nullptr) {
        lcf_reader.skip = 1;
        return 0;
    }
    value_entry* entry = lcf_find_value(lcf_reader.handle, row->id);
    if (entry == nullptr) entry = lcf_add_value(lcf_reader.handle, row->id);
    // With no entry (a handle whose array could not be made) the row stays selected, so that
    // the value hooks report the lost value instead of dropping it silently.
    lcf_reader.entry = entry;
    lcf_reader.skip = 0;
    return 0;
}

int lcf_set_current_value(const char* text) {
    if (!parameter_selected()) return LCF_OK;
    if (lcf_reader.entry == nullptr) return LCF_ERROR_CANT_ALLOCATE_MEMORY;
    return lcf_assign(lcf_reader.entry, lcf_reader.descriptor, text);
}

int lcf_set_current_number(const char* digits) {
    if (!parameter_selected()) return LCF_OK;
    value_entry* entry = lcf_reader.entry;
    if (entry == nullptr) return LCF_ERROR_CANT_ALLOCATE_MEMORY;
    entry->type = LCF_TYPE_INT;
    entry->number = decimal_int32(digits);
    int stored = lcf_store_text(entry, nullptr, digits);
    if (stored != LCF_OK) return stored;
    if (lcf_type_accepts(lcf_reader.descriptor->type, LCF_TYPE_INT) == 0) {
        return LCF_ERROR_DIFFERENT_PARAMETER_TYPE;
    }
    return LCF_OK;
}

void lcf_skip_current() {
    lcf_reader.skip = 1;
}

void lcf_line_reset() {
    lcf_error_context_buffer.fill = 0;
    lcf_error_context_buffer.text[0] = '\0';
}

void lcf_line_append(const char* text) {
    if (text == nullptr) return;
    lcf_context_buffer& buffer = lcf_error_context_buffer;
    size_t length = strlen(text);
    size_t room = LCF_TEXT_BUFFER_SIZE - buffer.fill;
    if (length < room) {
        memcpy(buffer.text + buffer.fill, text, length);
        buffer.fill += static_cast<uint32_t>(length);
    } else {
        memcpy(buffer.text + buffer.fill, text, room);
        buffer.fill = LCF_TEXT_BUFFER_SIZE;
    }
    buffer.text[buffer.fill] = '\0';
}
