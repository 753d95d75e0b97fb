// The configuration-file reader: a two-state, longest-match tokenizer over a refillable input
// buffer. Each line names a parameter and gives its value; the tokenizer feeds names and values
// to the reader hooks, which check and store them in the handle. A file and a block of memory
// are read by the same code through one input source.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "params/lcf_internal.h"

namespace {

// The input buffer holds this many bytes of input; a token must fit in it, with one byte spare,
// because the tokenizer may back up over everything it looked at since the token began.
constexpr size_t INPUT_BUFFER_SIZE = 16384;
// Largest single read into the input buffer.
constexpr size_t INPUT_READ_SIZE = 8192;

// Messages of the conditions that end the process (written with a line end, exit status 2).
constexpr const char* MESSAGE_BUFFER_OVERFLOW =
    "input buffer overflow, can't enlarge buffer because scanner uses REJECT";
constexpr const char* MESSAGE_READ_FAILED = "input in flex scanner failed";
constexpr const char* MESSAGE_NO_ACTION = "fatal flex scanner internal error--no action found";

// The input buffer: its bytes plus two terminating zero bytes. One read at a time uses it, and
// it lives as long as the process.
VT_LARGE_BUFFER char input_buffer[INPUT_BUFFER_SIZE + 2];

// Writes the message and a line end to standard error and ends the process with status 2.
[[noreturn]] void reader_fatal(const char* message) {
    fprintf(stderr, "%s\n", message);
    exit(2);
}

// Where the bytes come from: an open file (fd 0 or more) or a block of memory. The file is
// read through its descriptor, not a stream: a stream's own allocations would be the run's
// first use of the heap, whose first page costs more than the whole read.
struct input_source {
    int fd;
    bool terminal; // the file is a terminal: read at most one line at a time
    const char* data;
    size_t size;
    size_t offset;
};

// Reads up to max bytes of a file into out; the number read, 0 at the end of the file. A
// terminal gives at most the line being typed to one read, which then returns at once; other
// files are read until max bytes or their end. A read error ends the process.
size_t read_file(input_source* source, char* out, size_t max) {
    size_t count = 0;
    while (count < max) {
        ssize_t n = read(source->fd, out + count, max - count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) reader_fatal(MESSAGE_READ_FAILED);
        if (n == 0) break;
        count += static_cast<size_t>(n);
        if (source->terminal) break;
    }
    return count;
}

// Reads up to max bytes of the source into out; the number read, 0 at the end of the input.
size_t read_source(input_source* source, char* out, size_t max) {
    if (source->fd >= 0) return read_file(source, out, max);
    size_t left = source->size - source->offset;
    size_t count = left < max ? left : max;
    if (count == 0) return 0;
    memcpy(out, source->data + source->offset, count);
    source->offset += count;
    return count;
}

enum scan_state { STATE_NAME, STATE_VALUE };

// The tokenizer of one read. Positions in the buffer are counted from its start; the current
// token begins at start and the input held ends at fill.
struct scanner {
    input_source* source;
    size_t start;
    size_t fill;
    bool at_end;        // the source has no more bytes
    bool done;          // reading has ended (a failing line was read to its end)
    scan_state state;   // name state or value state
    bool at_line_start; // the previous token ended with a line feed
    int32_t line;
    int32_t pending_error; // result of the last value hook of the current line
    bool holds_nul;        // the input holds a NUL byte: the whole input is refused
};

// Moves the current token to the front of the buffer and reads more input behind it. A token
// that already fills the buffer cannot be kept whole, which ends the process.
[[gnu::cold]] void refill(scanner* s) {
    size_t kept = s->fill - s->start;
    memmove(input_buffer, input_buffer + s->start, kept);
    s->start = 0;
    s->fill = kept;
    if (kept + 1 >= INPUT_BUFFER_SIZE) reader_fatal(MESSAGE_BUFFER_OVERFLOW);
    size_t room = INPUT_BUFFER_SIZE - kept - 1;
    size_t count = read_source(s->source, input_buffer + kept,
                               room < INPUT_READ_SIZE ? room : INPUT_READ_SIZE);
    // A NUL byte would end the text of a name or value early and hide what follows it from
    // anyone who reads the file as text; such input is not taken for a configuration at all.
    if (memchr(input_buffer + kept, '\0', count) != nullptr) {
        s->holds_nul = true;
        count = 0;
    }
    if (count == 0) s->at_end = true;
    s->fill += count;
    input_buffer[s->fill] = '\0';
    input_buffer[s->fill + 1] = '\0';
}

// The byte at offset from the start of the current token (0 to 255), or -1 past the end of the
// input; reads more input when the buffer holds too little.
int peek(scanner* s, size_t offset) {
    while (s->start + offset >= s->fill) {
        if (s->at_end) return -1;
        refill(s);
    }
    return static_cast<unsigned char>(input_buffer[s->start + offset]);
}

bool is_blank(int c) {
    return c == ' ' || c == '\t';
}
bool is_line_break(int c) {
    return c == '\r' || c == '\n';
}
bool is_digit(int c) {
    return c >= '0' && c <= '9';
}
// A character that cannot be part of a name or begin a value: blank, CR, LF or end of input.
bool is_delimiter(int c) {
    return c < 0 || is_blank(c) || is_line_break(c);
}

// What one rule makes of the input at the token start: the token it matches (0: none) and how
// far the rule stayed alive, i.e. how many bytes a longer match could still have used.
struct rule_match {
    size_t length;
    size_t reach;
};

// Comment line: blanks, '#', anything but LF, then the LF itself.
rule_match match_comment_line(scanner* s) {
    size_t i = 0;
    int c = 0;
    while (is_blank(c = peek(s, i))) ++i;
    if (c != '#') return {0, i};
    for (++i; (c = peek(s, i)) >= 0 && c != '\n'; ++i) {
    }
    if (c < 0) return {0, i}; // no line end before the end of input: not a comment
    return {i + 1, i + 1};
}

// Parameter name: the longest run of characters other than blank, CR and LF.
rule_match match_name(scanner* s) {
    size_t i = 0;
    while (!is_delimiter(peek(s, i))) ++i;
    return {i, i};
}

// A single LF.
rule_match match_line_feed(scanner* s) {
    size_t n = peek(s, 0) == '\n' ? 1 : 0;
    return {n, n};
}

// Any one character other than LF.
rule_match match_other(scanner* s) {
    int c = peek(s, 0);
    size_t n = c >= 0 && c != '\n' ? 1 : 0;
    return {n, n};
}

// Number token: digits, but only when nothing but spaces lies between them and a CR or LF.
// The spaces and the line break are looked at, not taken.
rule_match match_number(scanner* s) {
    size_t i = 0;
    while (is_digit(peek(s, i))) ++i;
    if (i == 0) return {0, 0};
    size_t digits = i;
    int c = 0;
    while ((c = peek(s, i)) == ' ') ++i;
    if (is_line_break(c)) return {digits, i + 1};
    return {0, i};
}

// Value text: from a non-blank character to the last non-blank character before the next CR,
// LF or end of input; at least two characters.
rule_match match_value_text(scanner* s) {
    if (is_delimiter(peek(s, 0))) return {0, 0};
    size_t i = 1;
    size_t last = 1;
    int c = 0;
    while ((c = peek(s, i)) >= 0 && !is_line_break(c)) {
        ++i;
        if (!is_blank(c)) last = i;
    }
    return {last >= 2 ? last : 0, i};
}

// Line end of a parameter line: LF, or CR followed by LF.
rule_match match_line_end(scanner* s) {
    int c = peek(s, 0);
    if (c == '\n') return {1, 1};
    if (c != '\r') return {0, 0};
    if (peek(s, 1) == '\n') return {2, 2};
    return {0, 1};
}

// Actions get the token as a terminated string that lives until the action returns.

// A comment line only counts as a line.
void act_comment_line(scanner* s, const char*) {
    ++s->line;
}

// A name starts a parameter line: it is collected, and selects its parameter or skip mode.
void act_name(scanner* s, const char* name) {
    lcf_line_append(name);
    lcf_skip_current();
    lcf_begin_parameter(name);
    s->state = STATE_VALUE;
}

// The end of an empty or blank line.
void act_blank_line_end(scanner* s, const char*) {
    ++s->line;
    lcf_line_reset();
}

// Blanks and CRs before a name are dropped.
void act_nothing(scanner*, const char*) {}

// A number token goes to the selected parameter as an integer; its result is the line's error.
void act_number(scanner* s, const char* digits) {
    s->pending_error = lcf_set_current_number(digits);
    lcf_line_append(digits);
}

// A value text is checked and stored; its result is the line's error.
void act_value_text(scanner* s, const char* text) {
    s->pending_error = lcf_set_current_value(text);
    lcf_line_append(text);
}

// A failing line ends the read on its own line end, so the counter and context still name it.
void act_value_line_end(scanner* s, const char*) {
    if (s->pending_error != LCF_OK) {
        s->done = true;
        return;
    }
    ++s->line;
    lcf_line_reset();
    s->state = STATE_NAME;
}

// Blanks, lone CRs and one-character values only reach the error context.
void act_stray_character(scanner*, const char* text) {
    lcf_line_append(text);
}

// One token rule: the state it belongs to, whether it applies only at the start of a line, how
// it matches and what it does.
struct token_rule {
    scan_state state;
    bool line_start_only;
    rule_match (*match)(scanner* s);
    void (*act)(scanner* s, const char* text);
};

// The token rules in priority order: at equal length the earlier rule wins.
constexpr token_rule TOKEN_RULES[] = {
    {STATE_NAME, true, match_comment_line, act_comment_line}, // comment line
    {STATE_NAME, false, match_name, act_name},                // parameter name
    {STATE_NAME, false, match_line_feed, act_blank_line_end}, // line end
    {STATE_NAME, false, match_other, act_nothing},            // blank or CR
    {STATE_VALUE, false, match_number, act_number},           // number token
    {STATE_VALUE, false, match_value_text, act_value_text},   // value text
    {STATE_VALUE, false, match_line_end, act_value_line_end}, // line end
    {STATE_VALUE, false, match_other, act_stray_character},   // blank, stray CR, single char
};

// Recognises and acts on the token at the current position. Every rule of the current state is
// tried; the longest match wins. The character after the furthest point any rule reached is
// looked at too, as the automaton does before it settles on a token.
void scan_token(scanner* s) {
    const token_rule* best = nullptr;
    size_t best_length = 0;
    size_t reach = 0;
    for (const token_rule& rule : TOKEN_RULES) {
        if (rule.state != s->state || (rule.line_start_only && !s->at_line_start)) continue;
        rule_match m = rule.match(s);
        if (m.reach > reach) reach = m.reach;
        if (m.length > best_length) {
            best = &rule;
            best_length = m.length;
        }
    }
    peek(s, reach);
    if (best == nullptr) reader_fatal(MESSAGE_NO_ACTION);
    char* text = input_buffer + s->start;
    char after = text[best_length];
    text[best_length] = '\0';
    best->act(s, text);
    text[best_length] = after;
    s->at_line_start = text[best_length - 1] == '\n';
    s->start += best_length;
}

// Reads the whole source into the handle from a fresh tokenizer state; returns the pending
// error (0 when every line was accepted), or LCF_ERROR_CONFIG_FILE_NOT_FOUND for input that holds
// a NUL byte, as for a file that cannot be read; leaves the line counter in *line.
int32_t run_reader(parser_handle* handle, input_source* source, int32_t* line) {
    scanner s = {};
    s.source = source;
    s.state = STATE_NAME;
    s.at_line_start = true;
    s.line = 1;
    lcf_line_reset();
    lcf_reader = lcf_reader_state{};
    lcf_reader.handle = handle;
    while (!s.done && peek(&s, 0) >= 0) scan_token(&s);
    *line = s.line;
    return s.holds_nul ? LCF_ERROR_CONFIG_FILE_NOT_FOUND : s.pending_error;
}

// Finishes a read: records a failure with its line and context, or applies the defaults and
// sorts the entries. Returns the handle's last error.
int finish_read(parser_handle* handle, int32_t error, int32_t line) {
    if (error != LCF_OK) {
        handle->last_error = error;
        handle->error_line = line;
        handle->error_context = lcf_error_context_buffer.text;
        return error;
    }
    if (handle->value_count < handle->descriptor_count) lcf_apply_defaults(handle, 0);
    lcf_sort_values(handle);
    return handle->last_error;
}

} // namespace

int lcf_parse_file(parser_handle* handle, const char* path) {
    if (handle == nullptr) return LCF_ERROR_NULL_CONFIG_FILE_HANDLE;
    handle->last_error = LCF_OK;
    int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0 && errno == ENOMEM) lcf_allocation_failed = 1;
    if (fd < 0) {
        handle->last_error = LCF_ERROR_CONFIG_FILE_NOT_FOUND;
        return LCF_ERROR_CONFIG_FILE_NOT_FOUND;
    }
    input_source source = {fd, isatty(fd) != 0, nullptr, 0, 0};
    int32_t line = 0;
    int32_t error = run_reader(handle, &source, &line);
    close(fd);
    return finish_read(handle, error, line);
}

int lcf_parse_buffer(parser_handle* handle, const char* data, size_t size) {
    if (handle == nullptr) return LCF_ERROR_NULL_CONFIG_FILE_HANDLE;
    handle->last_error = LCF_OK;
    if (data == nullptr && size != 0) {
        handle->last_error = LCF_ERROR_CONFIG_FILE_NOT_FOUND;
        return LCF_ERROR_CONFIG_FILE_NOT_FOUND;
    }
    input_source source = {-1, false, data, data != nullptr ? size : 0, 0};
    int32_t line = 0;
    int32_t error = run_reader(handle, &source, &line);
    return finish_read(handle, error, line);
}
