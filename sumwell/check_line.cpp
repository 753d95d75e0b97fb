// The lines of a list of sums: the forms md5sum -c reads ("HEX  NAME", "HEX *NAME", "HEX NAME",
// "MD5 (NAME) = HEX"), escaped names among them, read in place from a line buffer.
#include <cstring>

#include "sumwell/check_list.h"

namespace {

constexpr size_t digest_hex_digits = 32;
// The shortest text line after its leading blanks: the digest, a blank and one byte of name.
constexpr size_t shortest_text_line = digest_hex_digits + 2;
// The tag of the tagged form, "MD5 (NAME) = HEX".
constexpr char tag[] = "MD5";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads exactly 32 hexadecimal digits, either case, ending at hex's NUL, into digest. Returns
// false for anything else.
bool read_digest(const char* hex, uint8_t digest[16]) {
    for (size_t i = 0; i < digest_hex_digits; i += 2) {
        int high = hex_value(hex[i]);
        if (high < 0) return false;
        int low = hex_value(hex[i + 1]);
        if (low < 0) return false;
        digest[i / 2] = static_cast<uint8_t>(high << 4 | low);
    }
    return hex[digest_hex_digits] == '\0';
}

// Unescapes the length bytes at s in place: "\\" is a backslash, "\n" a line feed, "\r" a
// carriage return. Returns false for any other escape, a backslash at the end, or a NUL byte.
bool unescape(char* s, size_t length) {
    char* to = s;
    for (size_t i = 0; i < length; ++i) {
        char c = s[i];
        if (c == '\0') return false;
        if (c == '\\') {
            if (++i == length) return false;
            c = s[i] == 'n' ? '\n' : s[i] == 'r' ? '\r' : s[i] == '\\' ? '\\' : '\0';
            if (c == '\0') return false;
        }
        *to++ = c;
    }
    if (to < s + length) *to = '\0';
    return true;
}

// Reads the tagged form's rest, "NAME) = HEX", at s (length bytes, a NUL after them): the
// name runs to the last ")". Returns a check_line_kind.
int parse_tagged(char* s, size_t length, bool escaped, check_line* line_out) {
    if (length == 0) return CHECK_LINE_MALFORMED;
    size_t i = length - 1;
    while (i > 0 && s[i] != ')') --i;
    if (s[i] != ')') return CHECK_LINE_MALFORMED;
    if (escaped && !unescape(s, i)) return CHECK_LINE_MALFORMED;
    s[i++] = '\0';
    while (is_blank(s[i])) ++i;
    if (s[i] != '=') return CHECK_LINE_MALFORMED;
    ++i;
    while (is_blank(s[i])) ++i;
    if (!read_digest(s + i, line_out->digest)) return CHECK_LINE_MALFORMED;
    line_out->name = s;
    return CHECK_LINE_FILE;
}

// Reads the text forms, "HEX  NAME", "HEX *NAME" and "HEX NAME", at s + i (s holds length
// bytes and a NUL). Returns a check_line_kind.
int parse_text(check_parser* parser, char* s, size_t length, size_t i, bool escaped,
               check_line* line_out) {
    // A second backslash needs one byte more: the length of a line as md5sum -c reads it.
    if (length - i < shortest_text_line + (s[i] == '\\')) return CHECK_LINE_MALFORMED;
    char* hex = s + i;
    i += digest_hex_digits;
    if (!is_blank(s[i])) return CHECK_LINE_MALFORMED;
    s[i++] = '\0';
    if (!read_digest(hex, line_out->digest)) return CHECK_LINE_MALFORMED;
    if (length - i == 1 || (s[i] != ' ' && s[i] != '*')) {
        if (parser->reversed == 0) return CHECK_LINE_MALFORMED;
        parser->reversed = 1;
    } else if (parser->reversed != 1) {
        parser->reversed = 0;
        ++i; // the blank or the "*" of the binary mark
    }
    if (escaped && !unescape(s + i, length - i)) return CHECK_LINE_MALFORMED;
    line_out->name = s + i;
    return CHECK_LINE_FILE;
}

} // namespace

int parse_check_line(check_parser* parser, char* line, size_t length, bool from_stdin,
                     check_line* line_out) {
    if (length > 0 && line[0] == '#') return CHECK_LINE_SKIPPED;
    if (length > 0 && line[length - 1] == '\r') --length;
    if (length == 0) return CHECK_LINE_SKIPPED;
    line[length] = '\0';
    size_t i = 0;
    while (is_blank(line[i])) ++i;
    bool escaped = line[i] == '\\';
    if (escaped) ++i;
    int kind;
    if (strncmp(line + i, tag, sizeof tag - 1) == 0) {
        i += sizeof tag - 1;
        if (line[i] == ' ') ++i;
        if (line[i] != '(') return CHECK_LINE_MALFORMED;
        ++i;
        kind = parse_tagged(line + i, length - i, escaped, line_out);
    } else {
        kind = parse_text(parser, line, length, i, escaped, line_out);
    }
    if (kind == CHECK_LINE_FILE && from_stdin && strcmp(line_out->name, "-") == 0) {
        return CHECK_LINE_MALFORMED;
    }
    return kind;
}
