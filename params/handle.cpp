// The parser handle: creation and destruction, the lookups the parsers share, the value-entry
// helpers and every getter. Lookups are linear scans so that the first match in table or array
// order always wins, whatever order the entries were sorted into.
#include <arpa/inet.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "params/lcf_internal.h"

namespace {

// The entry of the id when it has the given type, else null.
const value_entry* typed_value(const parser_handle* handle, int32_t id, int32_t type) {
    const value_entry* entry = lcf_find_value(handle, id);
    return entry != nullptr && entry->type == type ? entry : nullptr;
}

// Whether text begins with prefix.
bool starts_with(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Number of descriptor rows that can be read: none when the table is missing.
uint32_t row_count(const parser_handle* handle) {
    return handle->descriptors != nullptr ? handle->descriptor_count : 0;
}

} // namespace

parser_handle* lcf_create(uint32_t count, parameter_descriptor* descriptors) {
    lcf_allocation_failed = 0;
    auto* handle = static_cast<parser_handle*>(lcf_allocate(1, sizeof(parser_handle)));
    if (handle == nullptr) {
        lcf_allocation_failed = 1;
        return nullptr;
    }
    handle->descriptor_count = count;
    handle->descriptors = descriptors;
    if (count > 0) {
        handle->values = static_cast<value_entry*>(lcf_allocate(count, sizeof(value_entry)));
        if (handle->values == nullptr) {
            lcf_allocation_failed = 1;
            handle->last_error = LCF_ERROR_CANT_ALLOCATE_MEMORY;
            return handle;
        }
    }
    handle->value_capacity = count;
    return handle;
}

int lcf_destroy(parser_handle* handle) {
    if (handle == nullptr) return 0;
    for (uint32_t i = 0; i < handle->value_count; ++i) lcf_release(handle->values[i].text);
    lcf_release(handle->values);
    lcf_release(handle);
    return 0;
}

int lcf_set_callback(parser_handle* handle, uint32_t data, lcf_error_callback callback) {
    if (handle == nullptr) return LCF_ERROR_NULL_CONFIG_FILE_HANDLE;
    handle->error_callback = callback;
    handle->error_callback_data = data;
    handle->last_error = LCF_OK;
    return 0;
}

int lcf_set_param_callback(parser_handle* handle, int32_t id, lcf_option_callback callback,
                           uint32_t data) {
    parameter_descriptor* row = lcf_find_descriptor(handle, id);
    if (row == nullptr) return -1;
    row->callback = callback;
    row->callback_data = data;
    return 0;
}

int32_t lcf_last_error(const parser_handle* handle) {
    return handle != nullptr ? handle->last_error : LCF_ERROR_HANDLE_NOT_CREATED;
}

int32_t lcf_error_line(const parser_handle* handle) {
    return handle != nullptr ? handle->error_line : -1;
}

const char* lcf_error_context(const parser_handle* handle) {
    return handle != nullptr ? handle->error_context : nullptr;
}

uint32_t lcf_value_count(const parser_handle* handle) {
    return handle != nullptr ? handle->value_count : 0;
}

int32_t lcf_value_id_at(const parser_handle* handle, uint32_t position) {
    if (handle == nullptr || position >= handle->value_count) return 0;
    return handle->values[position].id;
}

int32_t lcf_get_type(const parser_handle* handle, int32_t id) {
    const value_entry* entry = lcf_find_value(handle, id);
    return entry != nullptr ? entry->type : LCF_TYPE_NONE;
}

const char* lcf_get_string(const parser_handle* handle, int32_t id) {
    const value_entry* entry = lcf_find_value(handle, id);
    return entry != nullptr ? entry->text : nullptr;
}

int32_t lcf_get_int(const parser_handle* handle, int32_t id) {
    const value_entry* entry = lcf_find_value(handle, id);
    if (entry == nullptr) return -1;
    switch (entry->type) {
    case LCF_TYPE_INT:
    case LCF_TYPE_BOOL:
    case LCF_TYPE_COUNTER:
    case LCF_TYPE_ENUM:
        return entry->number;
    default:
        return -1;
    }
}

const char* lcf_get_word(const parser_handle* handle, int32_t id, uint32_t index) {
    return lcf_word_at(lcf_get_string(handle, id), index);
}

int lcf_get_ipv4(const parser_handle* handle, int32_t id, in_addr* address) {
    const value_entry* entry = typed_value(handle, id, LCF_TYPE_IPV4);
    if (entry == nullptr || entry->text == nullptr || address == nullptr) return 0;
    return inet_aton(entry->text, address);
}

int lcf_get_socket_family(const parser_handle* handle, int32_t id) {
    const value_entry* entry = typed_value(handle, id, LCF_TYPE_SOCKET);
    if (entry == nullptr) return 0;
    const char* text = entry->text != nullptr ? entry->text : "";
    if (starts_with(text, "unix:/") || text[0] == '/') return AF_UNIX;
    if (text[0] == 't' || isdigit(static_cast<unsigned char>(text[0]))) return AF_INET;
    return AF_UNIX;
}

int lcf_get_inet_address(const parser_handle* handle, int32_t id, sockaddr_in* address) {
    const value_entry* entry = typed_value(handle, id, LCF_TYPE_SOCKET);
    if (entry == nullptr || address == nullptr) return 0;
    memset(address, 0, sizeof(*address));
    const char* text = entry->text != nullptr ? entry->text : "";
    if (starts_with(text, "tcp:")) text += 4;
    address->sin_family = AF_INET;
    unsigned long part[4] = {0, 0, 0, 0};
    unsigned int port = 0;
    int read = sscanf(text, "%lu.%lu.%lu.%lu:%u", &part[0], &part[1], &part[2], &part[3], &port);
    if (read >= 4) {
        // The parts are not range-checked: larger ones spill into their neighbours.
        auto host = static_cast<uint32_t>(part[0] << 24 | part[1] << 16 | part[2] << 8 | part[3]);
        address->sin_addr.s_addr = htonl(host);
    }
    if (read == 5) address->sin_port = htons(static_cast<uint16_t>(port));
    return 0;
}

int lcf_get_unix_address(const parser_handle* handle, int32_t id, sockaddr_un* address) {
    const value_entry* entry = typed_value(handle, id, LCF_TYPE_SOCKET);
    if (entry == nullptr || address == nullptr) return 0;
    memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    const char* text = entry->text != nullptr ? entry->text : "";
    if (starts_with(text, "unix:/")) text += 5;
    size_t length = strnlen(text, sizeof(address->sun_path));
    memcpy(address->sun_path, text, length);
    return 0;
}

value_entry* lcf_find_value(const parser_handle* handle, int32_t id) {
    if (handle == nullptr || handle->values == nullptr) return nullptr;
    for (uint32_t i = 0; i < handle->value_count; ++i) {
        if (handle->values[i].id == id) return &handle->values[i];
    }
    return nullptr;
}

parameter_descriptor* lcf_find_descriptor(const parser_handle* handle, int32_t id) {
    if (handle == nullptr) return nullptr;
    for (uint32_t i = 0; i < row_count(handle); ++i) {
        if (handle->descriptors[i].id == id) return &handle->descriptors[i];
    }
    return nullptr;
}

parameter_descriptor* lcf_find_by_name(const parser_handle* handle, const char* name) {
    if (handle == nullptr || name == nullptr) return nullptr;
    for (uint32_t i = 0; i < row_count(handle); ++i) {
        const char* row_name = handle->descriptors[i].name;
        if (row_name != nullptr && strcmp(row_name, name) == 0) return &handle->descriptors[i];
    }
    return nullptr;
}

parameter_descriptor* lcf_find_option(const parser_handle* handle, const char* argument) {
    if (handle == nullptr || argument == nullptr) return nullptr;
    const char* option = argument;
    while (*option == '-') ++option;
    bool one_letter = option[0] != '\0' && option[1] == '\0';
    for (uint32_t i = 0; i < row_count(handle); ++i) {
        parameter_descriptor& row = handle->descriptors[i];
        if (row.short_name != 0 && one_letter && option[0] == row.short_name) return &row;
        if (row.long_name != nullptr && strcmp(row.long_name, option) == 0) return &row;
    }
    return nullptr;
}

int lcf_compare_values(const void* a, const void* b) {
    auto left = static_cast<uint32_t>(static_cast<const value_entry*>(a)->id);
    auto right = static_cast<uint32_t>(static_cast<const value_entry*>(b)->id);
    if (left < right) return -1;
    return left > right ? 1 : 0;
}

value_entry* lcf_add_value(parser_handle* handle, int32_t id) {
    if (handle == nullptr || handle->values == nullptr) return nullptr;
    if (handle->value_count >= handle->value_capacity) return nullptr;
    value_entry* entry = &handle->values[handle->value_count++];
    *entry = value_entry{};
    entry->id = id;
    return entry;
}

void lcf_apply_defaults(parser_handle* handle, int cmdline_only) {
    if (handle == nullptr || handle->value_count >= handle->descriptor_count) return;
    for (uint32_t i = 0; i < row_count(handle); ++i) {
        const parameter_descriptor& row = handle->descriptors[i];
        if (row.default_value == nullptr || (cmdline_only != 0 && row.name != nullptr)) continue;
        if (lcf_find_value(handle, row.id) != nullptr) continue;
        value_entry* entry = lcf_add_value(handle, row.id);
        if (entry == nullptr) return; // no room: the array was never allocated
        entry->type = row.type;
        entry->text = lcf_copy_text(row.default_value);
        if (entry->text == nullptr) {
            lcf_allocation_failed = 1;
            handle->last_error = LCF_ERROR_CANT_ALLOCATE_MEMORY;
        }
        bool listed = true;
        entry->number = lcf_value_number(&row, row.default_value, &listed);
        if (!listed) handle->last_error = LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE;
    }
}

void lcf_sort_values(parser_handle* handle) {
    if (handle == nullptr || handle->values == nullptr || handle->value_count < 2) return;
    qsort(handle->values, handle->value_count, sizeof(value_entry), lcf_compare_values);
}
