// The log sink: one process-wide state, one shared line buffer, two outputs per message (the
// system log, then the registered descriptors). Nothing here reports a failure or allocates per
// message; the only allocations are the descriptor table and the ident copy.
#include "logsink/logsink.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// One log category: its flag bit, what the system log gets and what a descriptor line shows.
struct log_category {
    uint32_t bit;       // flag bit; 0 for the undefined category
    int priority;       // system-log priority
    const char* prefix; // put before the message in both outputs; ends in a space
    char letter;        // first field of a descriptor line
};

// The categories in the order the system log tests them; the last row is the undefined category
// that a message without any category bit falls into.
constexpr log_category categories[] = {
    {.bit = LOGSINK_ERROR, .priority = LOG_ERR, .prefix = "VORERROR ", .letter = 'E'},
    {.bit = LOGSINK_CRITICAL, .priority = LOG_CRIT, .prefix = "VORCRITICAL ", .letter = 'C'},
    {.bit = LOGSINK_INFO, .priority = LOG_INFO, .prefix = "VORINFO ", .letter = 'I'},
    {.bit = LOGSINK_NOTICE, .priority = LOG_NOTICE, .prefix = "VORNOTICE ", .letter = 'N'},
    {.bit = LOGSINK_WARNING, .priority = LOG_WARNING, .prefix = "VORWARNING ", .letter = 'W'},
    {.bit = LOGSINK_DEBUG, .priority = LOG_DEBUG, .prefix = "VORDEBUG ", .letter = 'D'},
    {.bit = LOGSINK_STATS, .priority = LOG_DEBUG, .prefix = "VORSTATS ", .letter = 'S'},
    {.bit = 0, .priority = LOG_DEBUG, .prefix = "VORUNDEF ", .letter = 'U'},
};
constexpr uint32_t category_bits = sizeof categories / sizeof categories[0] - 1;
constexpr const log_category& undefined_category = categories[category_bits];

// Rows of the category table in the order each output tests them when a message carries several
// category bits: the system log takes notice before warning, descriptor lines warning first.
constexpr uint8_t syslog_order[] = {0, 1, 2, 3, 4, 5, 6};
constexpr uint8_t line_order[] = {0, 1, 2, 4, 3, 5, 6};
static_assert(sizeof syslog_order == category_bits && sizeof line_order == category_bits);

// One registered output: an open descriptor (the sink's once added) and its categories.
struct descriptor_record {
    int fd;
    uint32_t mask;
};

// The whole sink state; zero is the empty state the program starts with.
struct sink_state {
    uint32_t syslog_mask;           // categories sent to the system log
    int32_t options;                // bit 0: the system log records the process id
    int facility;                   // facility handed to openlog
    descriptor_record* descriptors; // registered outputs in registration order
    uint32_t descriptor_count;
    uint32_t descriptor_union;    // OR of every mask added since the table was last emptied
    char* ident;                  // heap copy, or null
    uint32_t verbosity;           // highest message level that reaches the system log
    uint32_t descriptor_capacity; // records allocated in descriptors
};

sink_state state;
VT_LARGE_BUFFER char line[LOGSINK_LINE_SIZE];

// A descriptor line holds at most this many characters before its LF.
constexpr uint32_t line_text_max = LOGSINK_LINE_SIZE - 3;
// Options bit that asks for the process id in system-log records.
constexpr int32_t option_pid = 0x01;
// Facility a fresh state starts with: mail.
constexpr int default_facility = LOG_MAIL;

// The category a message with these flags belongs to, testing rows in the given order.
const log_category& find_category(uint32_t flags, const uint8_t* order) {
    for (uint32_t i = 0; i < category_bits; i++) {
        if ((flags & categories[order[i]].bit) != 0) return categories[order[i]];
    }
    return undefined_category;
}

// The openlog option word for the current options.
int syslog_option() {
    return (state.options & option_pid) != 0 ? LOG_PID : 0;
}

// Copies text into the line buffer at position at, cut to fit; returns the new end position.
uint32_t append_text(uint32_t at, const char* text) {
    while (at < LOGSINK_LINE_SIZE - 1 && *text != '\0') line[at++] = *text++;
    line[at] = '\0';
    return at;
}

// Expands format with args into the line buffer at position at, cut to fit; returns the new end.
__attribute__((format(printf, 2, 0))) uint32_t append_vformat(uint32_t at, const char* format,
                                                              va_list args) {
    int written = vsnprintf(line + at, LOGSINK_LINE_SIZE - at, format, args);
    if (written < 0) {
        line[at] = '\0';
        return at;
    }
    uint32_t end = at + static_cast<uint32_t>(written);
    return end < LOGSINK_LINE_SIZE - 1 ? end : LOGSINK_LINE_SIZE - 1;
}

// Writes the local time stamp "dd-mm-yy hh:mm:ss " into the line buffer at at; returns the end.
uint32_t append_time_stamp(uint32_t at) {
    // clock_gettime, not time: the C library chooses time's code through a resolver that runs
    // at every start of a program importing it, logging or not, and costs a page fault there.
    struct timespec clock = {};
    clock_gettime(CLOCK_REALTIME, &clock);
    time_t now = clock.tv_sec;
    struct tm local = {};
    // A time that cannot be converted keeps the zeroed fields, so the line layout stays intact.
    if (localtime_r(&now, &local) == nullptr) local = tm{};
    size_t length = strftime(line + at, LOGSINK_LINE_SIZE - at, "%d-%m-%y %T ", &local);
    line[at + length] = '\0';
    return at + static_cast<uint32_t>(length);
}

// Builds the descriptor line of a message and writes it, with one write each, to every
// registered descriptor whose mask shares a bit with flags. Write results are ignored.
__attribute__((format(printf, 2, 0))) void
write_descriptor_lines(uint32_t flags, const char* format, va_list args) {
    const log_category& category = find_category(flags, line_order);
    line[0] = category.letter;
    line[1] = ' ';
    uint32_t at = append_time_stamp(2);
    if (state.ident != nullptr) {
        at = append_text(at, "[");
        at = append_text(at, state.ident);
        at = append_text(at, "] ");
    }
    at = append_text(at, category.prefix);
    at = append_text(at, " ");
    at = append_vformat(at, format, args);
    uint32_t length = at < line_text_max ? at : line_text_max;
    line[length] = '\n';
    for (uint32_t i = 0; i < state.descriptor_count; i++) {
        const descriptor_record& record = state.descriptors[i];
        if ((record.mask & flags) == 0) continue;
        ssize_t written = write(record.fd, line, length + 1);
        (void)written;
    }
}

// Sends a message to the system log when the mask, the restricted bit and the verbosity let it.
// errno is restored before the system log expands the text, so "%m" names the caller's error.
__attribute__((format(printf, 2, 0))) void send_to_syslog(uint32_t flags, const char* format,
                                                          va_list args, int caller_errno) {
    int32_t priority = log_syslog_priority(flags, state.syslog_mask, state.verbosity);
    if (priority < 0) return;
    bool expanded = false;
    va_list copy;
    va_copy(copy, args);
    errno = caller_errno;
    log_syslog_format(flags, format, copy, &expanded);
    va_end(copy);
    errno = caller_errno;
    if (expanded) {
        syslog(priority, "%s", line);
    } else {
        va_copy(copy, args);
        vsyslog(priority, line, copy);
        va_end(copy);
    }
}

// Runs both outputs for one message: the system log first, then the descriptors. The caller's
// errno is left as it was.
__attribute__((format(printf, 2, 0))) void log_vmessage(uint32_t flags, const char* format,
                                                        va_list args) {
    int caller_errno = errno;
    send_to_syslog(flags, format, args, caller_errno);
    if ((flags & state.descriptor_union) != 0 && state.descriptor_count > 0) {
        va_list copy;
        va_copy(copy, args);
        errno = caller_errno;
        write_descriptor_lines(flags, format, copy);
        va_end(copy);
    }
    errno = caller_errno;
}

// Releases the memory the state owns and the system log's hold on the ident, then empties the
// state. Registered descriptors are left open.
void release_state() {
    // closelog drops the system log's pointer to the ident before the ident is freed.
    closelog();
    free(state.descriptors);
    free(state.ident);
    state = sink_state{};
}

// Makes room for one more descriptor record; false when the table cannot grow.
bool reserve_descriptor() {
    if (state.descriptor_count < state.descriptor_capacity) return true;
    uint32_t capacity = state.descriptor_capacity == 0 ? 4 : state.descriptor_capacity * 2;
    size_t bytes = 0;
    // The doubling or the byte count can overflow on a 32-bit build.
    if (capacity <= state.descriptor_capacity ||
        __builtin_mul_overflow(size_t{capacity}, sizeof(descriptor_record), &bytes))
        return false;
    void* grown = realloc(state.descriptors, bytes);
    if (grown == nullptr) return false;
    state.descriptors = static_cast<descriptor_record*>(grown);
    state.descriptor_capacity = capacity;
    return true;
}

} // namespace

int32_t log_syslog_priority(uint32_t flags, uint32_t syslog_mask, uint32_t verbosity) {
    if ((flags & syslog_mask) == 0) return -1;
    if ((flags & LOGSINK_RESTRICTED) != 0 && (syslog_mask & LOGSINK_RESTRICTED) == 0) return -1;
    uint32_t level = (flags >> LOGSINK_LEVEL_SHIFT) & 0x0f;
    if (level > verbosity) return -1;
    return find_category(flags, syslog_order).priority;
}

const char* log_syslog_format(uint32_t flags, const char* format, va_list args, bool* expanded) {
    const char* prefix = find_category(flags, syslog_order).prefix;
    size_t prefix_length = strlen(prefix);
    size_t format_length = strlen(format);
    if (prefix_length + format_length < LOGSINK_LINE_SIZE) {
        memcpy(line, prefix, prefix_length);
        memcpy(line + prefix_length, format, format_length + 1);
        *expanded = false;
        return line;
    }
    // A cut format could end inside a conversion; expand it here instead and cut the text.
    uint32_t at = append_text(0, prefix);
    append_vformat(at, format, args);
    *expanded = true;
    return line;
}

int log_open(const char* ident, int32_t options) {
    release_state();
    state.options = options;
    state.facility = default_facility;
    log_set_ident(ident);
    openlog(state.ident, syslog_option(), state.facility);
    return 0;
}

int log_set_ident(const char* ident) {
    if (ident == nullptr) return 0;
    // When no copy can be made the old ident stays in use.
    char* copy = strdup(ident);
    if (copy == nullptr) return 0;
    // The system log is pointed at the new copy before the old one is freed.
    openlog(copy, syslog_option(), state.facility);
    free(state.ident);
    state.ident = copy;
    return 0;
}

int log_close() {
    for (uint32_t i = 0; i < state.descriptor_count; i++) {
        if (state.descriptors[i].fd >= 0) close(state.descriptors[i].fd);
    }
    release_state();
    return 0;
}

int log_add_descriptor(int fd, uint32_t mask) {
    for (uint32_t i = 0; i < state.descriptor_count; i++) {
        if (state.descriptors[i].fd == fd) {
            state.descriptors[i].mask |= mask;
            state.descriptor_union |= mask;
            return 0;
        }
    }
    // When the table cannot grow the descriptor stays unregistered and remains the caller's.
    if (!reserve_descriptor()) return 0;
    state.descriptors[state.descriptor_count++] = descriptor_record{fd, mask};
    state.descriptor_union |= mask;
    return 0;
}

int log_remove_descriptor(int fd) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < state.descriptor_count; i++) {
        if (state.descriptors[i].fd != fd) state.descriptors[kept++] = state.descriptors[i];
    }
    state.descriptor_count = kept;
    if (kept == 0) {
        free(state.descriptors);
        state.descriptors = nullptr;
        state.descriptor_capacity = 0;
        state.descriptor_union = 0;
    }
    return 0;
}

int log_get_descriptor(uint32_t index, int* fd, uint32_t* mask) {
    if (index >= state.descriptor_count) return -1;
    *fd = state.descriptors[index].fd;
    *mask = state.descriptors[index].mask;
    return 0;
}

int log_set_facility(int facility) {
    state.facility = facility;
    openlog(state.ident, syslog_option(), state.facility);
    return 0;
}

int log_set_syslog_mask(uint32_t mask) {
    state.syslog_mask = mask;
    return 0;
}

int log_reset_syslog() {
    state.syslog_mask = 0;
    state.options = 0;
    state.facility = 0;
    return 0;
}

int log_set_level(uint32_t level) {
    state.verbosity = level;
    return 0;
}

uint32_t log_get_level() {
    return state.verbosity;
}

int log_message(uint32_t flags, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log_vmessage(flags, format, args);
    va_end(args);
    return 0;
}

// Defines a per-category entry point that logs with fixed flags.
#define LOGSINK_ENTRY(name, flags)                                                                 \
    int name(const char* format, ...) {                                                            \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        log_vmessage(flags, format, args);                                                         \
        va_end(args);                                                                              \
        return 0;                                                                                  \
    }

LOGSINK_ENTRY(log_debug_detail, LOGSINK_DEBUG | (5u << LOGSINK_LEVEL_SHIFT))
LOGSINK_ENTRY(log_debug, LOGSINK_DEBUG | (4u << LOGSINK_LEVEL_SHIFT))
LOGSINK_ENTRY(log_info, LOGSINK_INFO | (3u << LOGSINK_LEVEL_SHIFT))
LOGSINK_ENTRY(log_notice, LOGSINK_NOTICE | (2u << LOGSINK_LEVEL_SHIFT))
LOGSINK_ENTRY(log_warning, LOGSINK_WARNING | (1u << LOGSINK_LEVEL_SHIFT))
LOGSINK_ENTRY(log_error, LOGSINK_ERROR)
LOGSINK_ENTRY(log_critical, LOGSINK_CRITICAL)

#undef LOGSINK_ENTRY
