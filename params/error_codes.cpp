// The names of the library's error codes.
#include "params/lcf.h"

namespace {

struct error_name {
    int32_t code;
    const char* text;
};

// One pair per code, in code order; the text of a code is its own name.
constexpr error_name error_names[] = {
    {LCF_OK, "LCF_OK"},
    {LCF_ERROR_HANDLE_NOT_CREATED, "LCF_ERROR_HANDLE_NOT_CREATED"},
    {LCF_ERROR_CONFIG_FILE_NOT_FOUND, "LCF_ERROR_CONFIG_FILE_NOT_FOUND"},
    {LCF_ERROR_CANT_ALLOCATE_MEMORY, "LCF_ERROR_CANT_ALLOCATE_MEMORY"},
    {LCF_ERROR_MUST_BE_PARAMETERS_MISSED, "LCF_ERROR_MUST_BE_PARAMETERS_MISSED"},
    {LCF_ERROR_DUBLICATED_PARAMETERS, "LCF_ERROR_DUBLICATED_PARAMETERS"},
    {LCF_ERROR_DIFFERENT_PARAMETER_TYPE, "LCF_ERROR_DIFFERENT_PARAMETER_TYPE"},
    {LCF_ERROR_NULL_CONFIG_FILE_HANDLE, "LCF_ERROR_NULL_CONFIG_FILE_HANDLE"},
    {LCF_ERROR_WRONG_ENUM_VALUE, "LCF_ERROR_WRONG_ENUM_VALUE"},
    {LCF_ERROR_MISSED_PARAM_VALUE, "LCF_ERROR_MISSED_PARAM_VALUE"},
    {LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE, "LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE"},
};

} // namespace

const char* lcf_error_text(int32_t code) {
    for (const error_name& row : error_names) {
        if (row.code == code) return row.text;
    }
    return "No error description";
}
