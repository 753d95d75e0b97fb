// The log sink: a process-wide logging module with printf-style entry points per category. A
// message goes to the system log when its category is in the system-log mask and its level is
// within the verbosity, and as a time-stamped line to every registered descriptor whose mask
// holds its category. Every operation returns 0 (log_get_descriptor aside); nothing is reported.
#pragma once

#include <cstdarg>
#include <cstdint>

// Message flags. The names avoid the system log's own LOG_* macros.
constexpr uint32_t LOGSINK_DEBUG = 0x01;
constexpr uint32_t LOGSINK_INFO = 0x02;
constexpr uint32_t LOGSINK_CRITICAL = 0x04;
constexpr uint32_t LOGSINK_ERROR = 0x08;
constexpr uint32_t LOGSINK_WARNING = 0x10;
constexpr uint32_t LOGSINK_RESTRICTED = 0x20; // system log only if the mask holds this bit too
constexpr uint32_t LOGSINK_STATS = 0x40;
constexpr uint32_t LOGSINK_NOTICE = 0x80;
// The verbosity level of a message sits in bits 16 to 19 of its flags.
constexpr uint32_t LOGSINK_LEVEL_SHIFT = 16;
// Size of the one line buffer shared by both outputs.
constexpr uint32_t LOGSINK_LINE_SIZE = 16384;

#define LOGSINK_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Starts a fresh state with the ident, options (bit 0: LOG_PID) and facility 16; opens the system
// log.
int log_open(const char* ident, int32_t options);
// Keeps a copy of the ident and reopens the system log with it; a null ident does nothing.
int log_set_ident(const char* ident);
// Closes the registered descriptors and the system log, frees everything, empties the state.
int log_close();
// Registers fd for the categories in mask, or ORs mask into its record.
int log_add_descriptor(int fd, uint32_t mask);
// Unregisters every record of fd, keeping the others' order; fd is not closed.
int log_remove_descriptor(int fd);
// Stores the facility and reopens the system log with it.
int log_set_facility(int facility);
// Stores the categories sent to the system log.
int log_set_syslog_mask(uint32_t mask);
// Clears the system-log mask, the options and the facility.
int log_reset_syslog();
// Stores the highest level that reaches the system log (compared unsigned).
int log_set_level(uint32_t level);
// The stored verbosity.
uint32_t log_get_level();
// Copies the record at index (registration order) into fd and mask; 0, or -1 past the end.
int log_get_descriptor(uint32_t index, int* fd, uint32_t* mask);
// Logs one message with the given flags.
int log_message(uint32_t flags, const char* format, ...) LOGSINK_PRINTF(2, 3);

int log_debug_detail(const char* format, ...) LOGSINK_PRINTF(1, 2); // debug, level 5
int log_debug(const char* format, ...) LOGSINK_PRINTF(1, 2);        // debug, level 4
int log_info(const char* format, ...) LOGSINK_PRINTF(1, 2);         // info, level 3
int log_notice(const char* format, ...) LOGSINK_PRINTF(1, 2);       // notice, level 2
int log_warning(const char* format, ...) LOGSINK_PRINTF(1, 2);      // warning, level 1
int log_error(const char* format, ...) LOGSINK_PRINTF(1, 2);        // error, level 0
int log_critical(const char* format, ...) LOGSINK_PRINTF(1, 2);     // critical, level 0

// The system-log priority (LOG_ERR ... LOG_DEBUG) of a message with these flags under the given
// mask and verbosity, or -1 when the message does not go to the system log.
int32_t log_syslog_priority(uint32_t flags, uint32_t syslog_mask, uint32_t verbosity);
// Prepares the system-log text of a message in the line buffer and returns the buffer. Normally
// it holds the category prefix followed by format, for vsyslog to expand with args, and
// *expanded is cleared. When prefix and format do not fit, it holds the prefix and the message
// expanded with args (cut to the buffer), *expanded is set, and it must be logged with "%s".
const char* log_syslog_format(uint32_t flags, const char* format, va_list args, bool* expanded)
    __attribute__((format(printf, 2, 0)));
