// Small readers of a parser handle shared by the parameter library's tests.
#pragma once

#include <string>

#include "params/lcf.h"

// The text of the entry with the id, or "<null>" when there is none.
inline std::string text_of(const parser_handle* handle, int32_t id) {
    const char* value = lcf_get_string(handle, id);
    return value != nullptr ? value : "<null>";
}

// Whether the handle holds an entry for the id, with or without a value.
inline bool has_entry_for(const parser_handle* handle, int32_t id) {
    for (uint32_t i = 0; i < lcf_value_count(handle); ++i) {
        if (lcf_value_id_at(handle, i) == id) return true;
    }
    return false;
}
