// Fuzzes the check mode's line parser with random lists: the input is split at line feeds and
// every line parsed in turn with one parser, as a list is read. Besides the sanitizers, the
// parser's promises are checked: only the three kinds, and a name that lies within its line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sumwell/check_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_parser parser;
    const uint8_t* end = data + size;
    while (data < end) {
        const uint8_t* feed = static_cast<const uint8_t*>(memchr(data, '\n', size_t(end - data)));
        size_t length = size_t((feed != nullptr ? feed : end) - data);
        // The line with one spare byte after it, as the list reader hands it over.
        std::vector<char> line(data, data + length);
        line.push_back('\0');
        check_line parsed;
        int kind = parse_check_line(&parser, line.data(), length, length % 2 == 0, &parsed);
        if (kind != CHECK_LINE_SKIPPED && kind != CHECK_LINE_MALFORMED && kind != CHECK_LINE_FILE) {
            abort();
        }
        if (kind == CHECK_LINE_FILE &&
            (parsed.name < line.data() || parsed.name + strlen(parsed.name) > line.data() + length)) {
            abort();
        }
        data += length + (feed != nullptr);
    }
    return 0;
}
