// Value kinds: words, the shape tests, the classification of a text, which descriptor type
// accepts which kind, and the assignment of a checked text to a value entry.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex.h>
#include <strings.h>

#include "common/common.h"
#include "params/lcf_internal.h"

namespace {

// The library-wide buffer that lcf_word_at (and so lcf_get_word) answers in.
char word_buffer[LCF_TEXT_BUFFER_SIZE];

// The socket-address pattern: "tcp:" with a dotted quad and an optional port, or an absolute
// path with an optional "unix:" in front. Unanchored, so any text holding a "/" matches.
constexpr char socket_pattern[] =
    "(tcp:[0-9]+.[0-9]+.[0-9]+.[0-9]+(:[0-9]+)?)|((unix:)?(/[a-zA-Z0-9._-]*)+)";

// The compiled pattern, made on first use: 0 not tried yet, 1 ready, -1 failed to compile.
regex_t socket_regex;
int socket_regex_state = 0;

// Bit of a classified kind in an acceptance mask.
constexpr uint32_t kind_bit(int32_t kind) {
    return 1u << kind;
}

// Every kind a classification can produce.
constexpr uint32_t any_kind = 0x7ff;

// Accepted kinds per descriptor type, indexed by the type code; codes past the end accept all.
constexpr uint32_t accepted_kinds[] = {
    any_kind,                                                // 0 NONE: no check
    kind_bit(LCF_TYPE_STRING) | kind_bit(LCF_TYPE_INT) |     // 1 STRING: one word
        kind_bit(LCF_TYPE_IPV4) | kind_bit(LCF_TYPE_SOCKET), //
    kind_bit(LCF_TYPE_TWO_WORDS),                            // 2 TWO_WORDS
    kind_bit(LCF_TYPE_THREE_WORDS),                          // 3 THREE_WORDS
    kind_bit(LCF_TYPE_INT),                                  // 4 INT
    kind_bit(LCF_TYPE_STRING),                               // 5 BOOL: a plain word
    kind_bit(LCF_TYPE_IPV4),                                 // 6 IPV4
    kind_bit(LCF_TYPE_SOCKET) | kind_bit(LCF_TYPE_STRING),   // 7 SOCKET
    any_kind,                                                // 8 COUNTER
    kind_bit(LCF_TYPE_STRING),                               // 9 ENUM: a plain word
    any_kind,                                                // 10 TEXT
};

// Whether c separates words.
bool is_blank(char c) {
    return isspace(static_cast<unsigned char>(c)) != 0;
}

// The compiled socket pattern, compiling it on the first call; null if it cannot be compiled.
// Lack of memory is noted and not kept: the next call tries again.
const regex_t* socket_matcher() {
    if (socket_regex_state == 0) {
        int result = regcomp(&socket_regex, socket_pattern, REG_EXTENDED | REG_NOSUB);
        if (result == REG_ESPACE) {
            lcf_allocation_failed = 1;
            return nullptr;
        }
        socket_regex_state = result == 0 ? 1 : -1;
    }
    return socket_regex_state == 1 ? &socket_regex : nullptr;
}

} // namespace

uint32_t lcf_count_words(const char* text) {
    if (text == nullptr) return 0;
    uint32_t count = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!is_blank(*p) && (p == text || is_blank(p[-1]))) ++count;
    }
    return count;
}

const char* lcf_word_at(const char* text, uint32_t index) {
    if (text == nullptr) return nullptr;
    const char* p = text;
    for (uint32_t seen = 0;; ++seen) {
        while (is_blank(*p)) ++p;
        if (*p == '\0') return nullptr;
        const char* start = p;
        while (*p != '\0' && !is_blank(*p)) ++p;
        if (seen != index) continue;
        auto length = static_cast<size_t>(p - start);
        if (length >= sizeof(word_buffer)) return nullptr;
        memcpy(word_buffer, start, length);
        word_buffer[length] = '\0';
        return word_buffer;
    }
}

int lcf_is_integer(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    (void)strtol(text, &end, 10);
    return end != text && *end == '\0' ? 1 : 0;
}

int lcf_is_socket_address(const char* text) {
    if (text == nullptr) return 0;
    // The pattern's second alternative matches a lone "/", so any text holding one matches; a
    // text without it can match only the first alternative, which needs "tcp:". Deciding those
    // two cases here spares the common path the cost of compiling the pattern (pathwise starts
    // noticeably faster).
    if (strchr(text, '/') != nullptr) return 1;
    if (strstr(text, "tcp:") == nullptr) return 0;
    const regex_t* matcher = socket_matcher();
    if (matcher == nullptr) return 0;
    return regexec(matcher, text, 0, nullptr, 0) == 0 ? 1 : 0;
}

int lcf_is_ipv4(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    unsigned int part[4];
    return sscanf(text, "%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]) == 4 ? 1 : 0;
}

int32_t lcf_classify(const char* text) {
    switch (lcf_count_words(text)) {
    case 0:
        return LCF_TYPE_NONE;
    case 1:
        if (lcf_is_integer(text) != 0) return LCF_TYPE_INT;
        if (lcf_is_socket_address(text) != 0) return LCF_TYPE_SOCKET;
        if (lcf_is_ipv4(text) != 0) return LCF_TYPE_IPV4;
        return LCF_TYPE_STRING;
    case 2:
        return LCF_TYPE_TWO_WORDS;
    case 3:
        return LCF_TYPE_THREE_WORDS;
    default:
        return LCF_TYPE_TEXT;
    }
}

int lcf_type_accepts(int32_t descriptor_type, int32_t kind) {
    if (kind < LCF_TYPE_NONE || kind > LCF_TYPE_TEXT) return 0;
    // Negative codes read as large unsigned ones and, like every code past the table, accept all.
    auto type = static_cast<uint32_t>(descriptor_type);
    uint32_t accepted =
        type < sizeof(accepted_kinds) / sizeof(accepted_kinds[0]) ? accepted_kinds[type] : any_kind;
    return (accepted & kind_bit(kind)) != 0 ? 1 : 0;
}

int32_t lcf_enum_index(const parameter_descriptor* descriptor, const char* text) {
    if (descriptor == nullptr || descriptor->type != LCF_TYPE_ENUM) return -1;
    if (descriptor->enum_values == nullptr || text == nullptr) return -1;
    for (int32_t i = 0; descriptor->enum_values[i] != nullptr; ++i) {
        if (strcasecmp(descriptor->enum_values[i], text) == 0) return i;
    }
    return -1;
}

int lcf_store_text(value_entry* entry, const parameter_descriptor* descriptor, const char* text) {
    if (entry == nullptr) return LCF_OK;
    if (descriptor != nullptr && descriptor->type == LCF_TYPE_BOOL) {
        text = entry->number != 0 ? "yes" : "no";
    }
    char* copy = nullptr;
    if (text != nullptr) {
        copy = lcf_copy_text(text);
        if (copy == nullptr) {
            lcf_allocation_failed = 1;
            return LCF_ERROR_CANT_ALLOCATE_MEMORY;
        }
    }
    lcf_release(entry->text);
    entry->text = copy;
    return LCF_OK;
}

int lcf_assign(value_entry* entry, const parameter_descriptor* descriptor, const char* text) {
    if (entry == nullptr) return LCF_ERROR_CANT_ALLOCATE_MEMORY;
    if (descriptor == nullptr) return LCF_ERROR_DIFFERENT_PARAMETER_TYPE;
    if (lcf_type_accepts(descriptor->type, lcf_classify(text)) == 0) {
        return LCF_ERROR_DIFFERENT_PARAMETER_TYPE;
    }
    bool listed = true;
    int32_t number = lcf_value_number(descriptor, text, &listed);
    entry->type = descriptor->type;
    if (!listed) return LCF_ERROR_WRONG_ENUM_VALUE;
    entry->number = number;
    return lcf_store_text(entry, descriptor, text);
}

int32_t lcf_value_number(const parameter_descriptor* descriptor, const char* text, bool* listed) {
    if (descriptor->type == LCF_TYPE_ENUM) {
        int32_t position = lcf_enum_index(descriptor, text);
        if (position >= 0) return position;
        *listed = false;
    } else if (descriptor->type == LCF_TYPE_BOOL) {
        return text != nullptr && strcasecmp(text, "yes") == 0 ? 1 : 0;
    }
    return decimal_int32(text);
}
