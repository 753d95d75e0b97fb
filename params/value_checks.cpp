// Checks made once all sources are read (integer limits, mandatory parameters) and the two
// utilities built on the values: resolving the user and group parameters, creating a path.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include "common/common.h"
#include "logsink/logsink.h"
#include "params/lcf_internal.h"

namespace {

// Size of the directory buffer of lcf_make_path: a prefix of up to 1151 characters and a NUL.
constexpr size_t path_buffer_size = 1152;
char path_buffer[path_buffer_size];

// A name for a row in messages: its configuration-file name, else its long option, else its
// short option ("-c"), else "id <n>"; never null.
const char* row_label(const parameter_descriptor& row, char* buffer, size_t size) {
    if (row.name != nullptr) return row.name;
    if (row.long_name != nullptr) return row.long_name;
    if (row.short_name != 0) {
        snprintf(buffer, size, "-%c", row.short_name);
    } else {
        snprintf(buffer, size, "id %d", row.id);
    }
    return buffer;
}

// Clamps an INT entry's number (never its text) to the row's limits, logging each clamp.
void clamp_to_limits(const parameter_descriptor& row, value_entry& entry) {
    char label[32];
    if (row.min_value != nullptr) {
        int32_t minimum = decimal_int32(row.min_value);
        if (entry.number < minimum) {
            log_warning("[NOLOGID]: Invalid configuration parameter: '%s' is out of range - the "
                        "minimum possible value (%d) is used",
                        row_label(row, label, sizeof(label)), minimum);
            entry.number = minimum;
        }
    }
    if (row.max_value != nullptr) {
        int32_t maximum = decimal_int32(row.max_value);
        if (entry.number > maximum) {
            log_warning("[NOLOGID]: Invalid configuration parameter: '%s' is out of range - the "
                        "maximum possible value (%d) is used",
                        row_label(row, label, sizeof(label)), maximum);
            entry.number = maximum;
        }
    }
}

// The id a user or group name stands for: the name itself when it is all digits (strtoul), else
// the lookup's answer. Returns 0, or -1 when the lookup finds nothing.
int resolve_id(const char* name, bool group, int32_t* id) {
    char* end = nullptr;
    unsigned long number = strtoul(name, &end, 10);
    if (end != name && *end == '\0') {
        *id = static_cast<int32_t>(number);
        return 0;
    }
    if (group) {
        const struct group* found = getgrnam(name);
        if (found == nullptr) return -1;
        *id = static_cast<int32_t>(found->gr_gid);
    } else {
        const struct passwd* found = getpwnam(name);
        if (found == nullptr) return -1;
        *id = static_cast<int32_t>(found->pw_uid);
    }
    return 0;
}

} // namespace

int lcf_check_values(parser_handle* handle) {
    if (handle == nullptr) return -1;
    uint32_t rows = handle->descriptors != nullptr ? handle->descriptor_count : 0;
    for (uint32_t i = 0; i < rows; ++i) {
        const parameter_descriptor& row = handle->descriptors[i];
        value_entry* entry = lcf_find_value(handle, row.id);
        if (entry != nullptr) {
            if (entry->type == LCF_TYPE_INT) clamp_to_limits(row, *entry);
            continue;
        }
        if (row.default_value == nullptr && (row.flags & LCF_MANDATORY) != 0) {
            char label[32];
            log_error("[NOLOGID]: Mandatory parameter '%s' is absent",
                      row_label(row, label, sizeof(label)));
            return -1;
        }
    }
    return 0;
}

int lcf_resolve_user_group(const parser_handle* handle, int32_t* user_id, int32_t* group_id) {
    if (user_id == nullptr && group_id == nullptr) return -1;
    const char* user_text = lcf_get_string(handle, LCF_USER_PARAMETER_ID);
    const char* group_text = lcf_get_string(handle, LCF_GROUP_PARAMETER_ID);
    int32_t user = -1;
    int32_t group = -1;
    char* user_copy = nullptr; // the user part of a "user:group" text, cut out of it
    const char* user_name = user_text;
    const char* group_name = group_text;
    if (group_text != nullptr) {
        const char* colon = strchr(group_text, ':');
        if (colon != nullptr) {
            user_copy = strndup(group_text, static_cast<size_t>(colon - group_text));
            if (user_copy == nullptr) return -1;
            user_name = user_copy;
            group_name = colon + 1;
        }
    }
    int result = 0;
    if (group_name != nullptr && *group_name != '\0' && resolve_id(group_name, true, &group) != 0) {
        log_error("[NOLOGID]: Can't find group %s.", group_name);
        result = -1;
    } else if (user_name != nullptr && *user_name != '\0' &&
               resolve_id(user_name, false, &user) != 0) {
        log_error("[NOLOGID]: Can't find user %s.", user_name);
        result = -1;
    }
    free(user_copy);
    if (result != 0) return result;
    if (user_id != nullptr) *user_id = user;
    if (group_id != nullptr) *group_id = group;
    return 0;
}

int lcf_make_path(const char* path, uint32_t mode, uint32_t flags) {
    if (path == nullptr || *path == '\0') return 2;
    size_t length = strlen(path);
    for (size_t end = path[0] == '/' ? 1 : 0; end <= length; ++end) {
        bool last = end == length;
        if (!last && path[end] != '/') continue;
        if (last && (flags & 0x1) == 0) break;
        if (end >= path_buffer_size) return 1;
        memcpy(path_buffer, path, end);
        path_buffer[end] = '\0';
        (void)mkdir(path_buffer, static_cast<mode_t>(mode));
    }
    return 0;
}
