// The definitions of common.h.
#include "common/common.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

VT_LARGE_BUFFER char output_buffer[4096];

} // namespace

int32_t decimal_int32(const char* text) {
    if (text == nullptr) return 0;
    long number = strtol(text, nullptr, 10);
    if (number > INT32_MAX) return INT32_MAX;
    if (number < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(number);
}

void buffer_standard_output() {
    setvbuf(stdout, output_buffer, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, sizeof output_buffer);
}
