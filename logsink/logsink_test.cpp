// Tests of the log sink. Descriptor output is read back from non-blocking pipes registered as
// descriptors; the system-log path is tested through its decision and format functions, so no
// test writes to the machine's system log.
#include "logsink/logsink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

namespace {

// A pipe whose write end can be registered with the sink; both ends are non-blocking so reading
// never hangs, whether or not the sink closed the write end.
struct test_pipe {
    int read_fd = -1;
    int write_fd = -1;
    test_pipe() {
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            read_fd = fds[0];
            write_fd = fds[1];
        }
    }
    ~test_pipe() { close(read_fd); }
    test_pipe(const test_pipe&) = delete;
    test_pipe& operator=(const test_pipe&) = delete;
    // Everything written to the pipe so far.
    std::string drain() const {
        std::string text;
        char chunk[4096];
        ssize_t got;
        while ((got = read(read_fd, chunk, sizeof chunk)) > 0) text.append(chunk, got);
        return text;
    }
};

// True when fd is an open descriptor.
bool is_open(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

// The registered records in table order.
std::vector<std::pair<int, uint32_t>> records() {
    std::vector<std::pair<int, uint32_t>> list;
    int fd;
    uint32_t mask;
    for (uint32_t i = 0; log_get_descriptor(i, &fd, &mask) == 0; i++) list.emplace_back(fd, mask);
    return list;
}

// Count of LF-terminated lines in text.
size_t line_count(const std::string& text) {
    size_t count = 0;
    for (char c : text) count += c == '\n';
    return count;
}

// Calls log_syslog_format with a variadic argument list.
const char* syslog_format(bool* expanded, uint32_t flags, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const char* text = log_syslog_format(flags, format, args, expanded);
    va_end(args);
    return text;
}

// Every test starts and ends with the empty state; log_close closes what a test registered.
class LogSink : public ::testing::Test {
  protected:
    void SetUp() override { log_close(); }
    void TearDown() override { log_close(); }
};

// The line with its time-stamp field (day-month-two-digit-year, hours:minutes:seconds, then a
// space, after the letter and its space) replaced by "<T>", or "bad time stamp: " and the line.
std::string mark_stamp(const std::string& line) {
    const std::string shape = "00-00-00 00:00:00 ";
    bool good = line.size() >= 2 + shape.size() && line[1] == ' ';
    for (size_t i = 0; good && i < shape.size(); i++) {
        char c = line[2 + i];
        good = shape[i] == '0' ? c >= '0' && c <= '9' : c == shape[i];
    }
    if (!good) return "bad time stamp: " + line;
    return line.substr(0, 2) + "<T>" + line.substr(2 + shape.size());
}

TEST_F(LogSink, LineLayoutWithAndWithoutIdent) {
    test_pipe out;
    log_add_descriptor(out.write_fd, LOGSINK_ERROR);
    log_error("[NOLOGID]: code %d in %s", 7, "file.conf");
    EXPECT_EQ(mark_stamp(out.drain()), "E <T>VORERROR  [NOLOGID]: code 7 in file.conf\n");

    // log_open empties the table, so the pipe is registered again.
    log_open("pathwise", 0);
    log_add_descriptor(out.write_fd, LOGSINK_ERROR);
    log_error("x");
    EXPECT_EQ(mark_stamp(out.drain()), "E <T>[pathwise] VORERROR  x\n");

    log_set_ident("other");
    log_error("y");
    EXPECT_EQ(mark_stamp(out.drain()), "E <T>[other] VORERROR  y\n");
    log_set_ident(nullptr); // keeps the current ident
    log_error("%s", "");
    EXPECT_EQ(mark_stamp(out.drain()), "E <T>[other] VORERROR  \n");
}

TEST_F(LogSink, LetterAndPrefixOfEveryCategory) {
    struct row {
        uint32_t flags;
        const char* line;
    };
    // Several category bits: the first in table order wins, but warning goes before notice.
    const row rows[] = {
        {0x08, "E <T>VORERROR  m\n"},    {0x04, "C <T>VORCRITICAL  m\n"},
        {0x02, "I <T>VORINFO  m\n"},     {0x80, "N <T>VORNOTICE  m\n"},
        {0x10, "W <T>VORWARNING  m\n"},  {0x01, "D <T>VORDEBUG  m\n"},
        {0x40, "S <T>VORSTATS  m\n"},    {0x20, "U <T>VORUNDEF  m\n"},
        {0x90, "W <T>VORWARNING  m\n"},  {0x0c, "E <T>VORERROR  m\n"},
        {0x06, "C <T>VORCRITICAL  m\n"}, {0x41, "D <T>VORDEBUG  m\n"},
        {0xff, "E <T>VORERROR  m\n"},    {0x82, "I <T>VORINFO  m\n"},
    };
    test_pipe out;
    log_add_descriptor(out.write_fd, 0xff);
    for (const row& r : rows) {
        SCOPED_TRACE(r.flags);
        log_message(r.flags, "m");
        EXPECT_EQ(mark_stamp(out.drain()), r.line);
    }
}

TEST_F(LogSink, EntryPointsWriteTheirCategoryWhateverTheVerbosity) {
    struct row {
        int (*entry)(const char*, ...);
        const char* line;
    };
    const row rows[] = {
        {log_debug_detail, "D <T>VORDEBUG  n-5\n"}, {log_debug, "D <T>VORDEBUG  n-5\n"},
        {log_info, "I <T>VORINFO  n-5\n"},          {log_notice, "N <T>VORNOTICE  n-5\n"},
        {log_warning, "W <T>VORWARNING  n-5\n"},    {log_error, "E <T>VORERROR  n-5\n"},
        {log_critical, "C <T>VORCRITICAL  n-5\n"},
    };
    test_pipe out;
    log_add_descriptor(out.write_fd, 0xff);
    for (const row& r : rows) {
        SCOPED_TRACE(r.line);
        EXPECT_EQ(r.entry("%s-%d", "n", 5), 0);
        EXPECT_EQ(mark_stamp(out.drain()), r.line);
    }
}

TEST_F(LogSink, DescriptorMasksAndUnion) {
    test_pipe errors, warnings, both;
    log_add_descriptor(errors.write_fd, LOGSINK_ERROR);
    log_add_descriptor(warnings.write_fd, LOGSINK_WARNING);
    log_add_descriptor(both.write_fd, LOGSINK_ERROR | LOGSINK_WARNING);
    log_error("e");
    log_warning("w");
    log_info("outside every mask");
    log_message(LOGSINK_ERROR | LOGSINK_RESTRICTED, "restricted"); // no role for descriptors
    EXPECT_EQ(line_count(errors.drain()), 2u);
    EXPECT_EQ(line_count(warnings.drain()), 1u);
    EXPECT_EQ(line_count(both.drain()), 3u);

    // Removing the warning-only output leaves warning in the union; the other masks still decide.
    log_remove_descriptor(warnings.write_fd);
    close(warnings.write_fd);
    log_warning("w");
    EXPECT_EQ(errors.drain(), "");
    EXPECT_EQ(line_count(both.drain()), 1u);

    // Once the table is empty, a new registration starts a fresh union.
    log_remove_descriptor(errors.write_fd);
    log_remove_descriptor(both.write_fd);
    EXPECT_TRUE(records().empty());
    test_pipe debug;
    log_add_descriptor(debug.write_fd, LOGSINK_DEBUG);
    log_error("e");
    log_warning("w");
    log_debug("d");
    EXPECT_EQ(line_count(debug.drain()), 1u);
    EXPECT_EQ(errors.drain(), "");
    EXPECT_EQ(both.drain(), "");
    close(errors.write_fd);
    close(both.write_fd);
}

TEST_F(LogSink, AddingTwiceMergesMasksIntoOneRecord) {
    test_pipe out;
    log_add_descriptor(out.write_fd, LOGSINK_ERROR);
    log_add_descriptor(out.write_fd, LOGSINK_WARNING);
    auto list = records();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], std::make_pair(out.write_fd, LOGSINK_ERROR | LOGSINK_WARNING));
    log_error("e");
    log_warning("w");
    EXPECT_EQ(line_count(out.drain()), 2u); // one line per message, not one per add
}

TEST_F(LogSink, RemovalKeepsOrderAndLeavesDescriptorOpen) {
    test_pipe a, b, c;
    log_add_descriptor(a.write_fd, 0x01);
    log_add_descriptor(b.write_fd, 0x02);
    log_add_descriptor(c.write_fd, 0x04);
    log_remove_descriptor(b.write_fd);
    using list = std::vector<std::pair<int, uint32_t>>;
    EXPECT_EQ(records(), (list{{a.write_fd, 0x01u}, {c.write_fd, 0x04u}}));
    EXPECT_TRUE(is_open(b.write_fd));

    log_remove_descriptor(b.write_fd); // not registered: nothing changes
    log_add_descriptor(b.write_fd, 0x08);
    EXPECT_EQ(records(), (list{{a.write_fd, 0x01u}, {c.write_fd, 0x04u}, {b.write_fd, 0x08u}}));

    // More records than the first allocation holds, then removal of all of them.
    std::vector<int> extra;
    for (int i = 0; i < 20; i++) {
        extra.push_back(dup(a.write_fd));
        log_add_descriptor(extra.back(), 0x10);
    }
    EXPECT_EQ(records().size(), 23u);
    EXPECT_EQ(records()[22], std::make_pair(extra.back(), 0x10u));
    // Removing the first record shifts every other one down, in order.
    log_remove_descriptor(a.write_fd);
    auto shifted = records();
    ASSERT_EQ(shifted.size(), 22u);
    EXPECT_EQ(shifted[0].first, c.write_fd);
    EXPECT_EQ(shifted[1].first, b.write_fd);
    for (size_t i = 0; i < extra.size(); i++) EXPECT_EQ(shifted[2 + i].first, extra[i]);
    for (int fd : extra) log_remove_descriptor(fd);
    EXPECT_EQ(records(), (list{{c.write_fd, 0x04u}, {b.write_fd, 0x08u}}));
    close(a.write_fd);
    for (int fd : extra) close(fd);
}

TEST_F(LogSink, CloseClosesDescriptorsAndEmptiesState) {
    test_pipe out;
    log_open("tool", 1);
    log_add_descriptor(out.write_fd, 0xff);
    log_set_syslog_mask(0xff);
    log_set_level(9);
    log_close();
    EXPECT_FALSE(is_open(out.write_fd));
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(log_get_level(), 0u);
    EXPECT_EQ(log_close(), 0); // closing the empty state again is harmless
}

TEST_F(LogSink, OpenStartsFreshStateWithoutLeaking) {
    test_pipe out;
    log_open("first", 0);
    log_add_descriptor(out.write_fd, LOGSINK_ERROR);
    log_set_level(3);
    log_open("second", 0);
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(log_get_level(), 0u);
    EXPECT_TRUE(is_open(out.write_fd)); // forgotten, not closed
    log_error("not written");
    EXPECT_EQ(out.drain(), "");
    log_open(nullptr, 0);
    close(out.write_fd);
}

TEST_F(LogSink, LongMessagesAreCutBeforeTheLineFeed) {
    // "E " + 18-character time stamp + "VORERROR " + " " leaves the message at column 30.
    const size_t header = 30;
    const size_t text_max = LOGSINK_LINE_SIZE - 3;
    struct row {
        size_t message_length;
        bool last_kept; // whether the message's final character survives
    };
    const row rows[] = {
        {text_max - header, true},
        {text_max - header + 1, false},
        {LOGSINK_LINE_SIZE, false},
        {3 * LOGSINK_LINE_SIZE, false},
    };
    test_pipe out;
    log_add_descriptor(out.write_fd, LOGSINK_ERROR);
    for (const row& r : rows) {
        SCOPED_TRACE(r.message_length);
        std::string message(r.message_length - 1, 'x');
        message += 'y';
        log_error("%s", message.c_str());
        std::string text = out.drain();
        ASSERT_EQ(text.size(), text_max + 1);
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(text[text_max - 1], r.last_kept ? 'y' : 'x');
        EXPECT_EQ(text.compare(0, 2, "E "), 0);
    }
    // A long ident is cut the same way.
    log_set_ident(std::string(2 * LOGSINK_LINE_SIZE, 'i').c_str());
    log_error("m");
    std::string text = out.drain();
    EXPECT_EQ(text.size(), text_max + 1);
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(LogSink, EmptyStateWritesNothing) {
    // The standard outputs are redirected to a pipe while every entry point runs.
    test_pipe out;
    fflush(stdout);
    fflush(stderr);
    int saved_out = dup(1), saved_err = dup(2);
    dup2(out.write_fd, 1);
    dup2(out.write_fd, 2);
    int results = log_debug_detail("a") | log_debug("a") | log_info("a") | log_notice("a") |
                  log_warning("a") | log_error("a") | log_critical("a") | log_message(0xff, "a");
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    close(out.write_fd);
    EXPECT_EQ(results, 0);
    EXPECT_EQ(out.drain(), "");
    EXPECT_EQ(log_syslog_priority(0xffffffff, 0, 0xffffffff), -1);
}

TEST_F(LogSink, FailedWritesAreIgnoredAndKeepErrno) {
    test_pipe out;
    log_add_descriptor(-1, LOGSINK_ERROR); // every write to it fails
    log_add_descriptor(out.write_fd, LOGSINK_ERROR);
    errno = ENOENT;
    EXPECT_EQ(log_error("after a failed write"), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(mark_stamp(out.drain()), "E <T>VORERROR  after a failed write\n");
}

TEST(LogSinkSyslog, DecisionAndPriority) {
    const uint32_t all = 0xffffffff;
    struct row {
        uint32_t flags, mask, verbosity;
        int32_t priority; // -1: not sent
    };
    const row rows[] = {
        {0x00008, 0x08, 0, LOG_ERR},     // log_error at verbosity 0
        {0x10010, 0x08, 0, -1},          // log_warning: category not in the mask
        {0x10010, 0x10, 0, -1},          // level 1 above verbosity 0
        {0x10010, 0x10, 1, LOG_WARNING}, // level equal to the verbosity
        {0x00004, 0x0c, 0, LOG_CRIT},
        {0x30002, 0x02, 2, -1}, // log_info at verbosity 2
        {0x30002, 0x02, 3, LOG_INFO},
        {0x20080, 0x80, 2, LOG_NOTICE},
        {0x50001, 0x01, all, LOG_DEBUG}, // verbosity compared unsigned: -1 lets all through
        {0xf0040, 0x40, all, LOG_DEBUG}, // level 15
        {0xf0040, 0x40, 14, -1},
        {0x100008, 0x08, 0, LOG_ERR},   // bits above 19 are not part of the level
        {0x00028, 0x08, 0, -1},         // restricted, mask without the restricted bit
        {0x00028, 0x28, 0, LOG_ERR},    // restricted, mask with it
        {0x00008, 0x28, 0, LOG_ERR},    // the restricted bit in the mask alone changes nothing
        {0x00020, 0x20, 0, LOG_DEBUG},  // no category bit: undefined
        {0x00090, 0xff, 0, LOG_NOTICE}, // notice goes before warning here
        {0x00042, 0xff, 0, LOG_INFO},
        {0x00041, 0x40, 0, LOG_DEBUG}, // shares the stats bit; category debug
        {0x00008, 0x00, all, -1},      // empty mask
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << r.flags << " " << r.mask << " " << r.verbosity);
        EXPECT_EQ(log_syslog_priority(r.flags, r.mask, r.verbosity), r.priority);
    }
}

TEST(LogSinkSyslog, FormatIsPrefixedOrExpanded) {
    bool expanded = true;
    EXPECT_STREQ(syslog_format(&expanded, 0x08, "[NOLOGID]: %s %d", "a", 1),
                 "VORERROR [NOLOGID]: %s %d");
    EXPECT_FALSE(expanded);
    EXPECT_STREQ(syslog_format(&expanded, 0x90, "n"), "VORNOTICE n"); // notice before warning
    EXPECT_STREQ(syslog_format(&expanded, 0x20, "%%"), "VORUNDEF %%");

    const size_t prefix = strlen("VORERROR ");
    // Prefix and format exactly fill the buffer with its terminator: passed on as a format.
    std::string fits(LOGSINK_LINE_SIZE - 1 - prefix - 2, 'a');
    fits += "%d";
    EXPECT_EQ(std::string(syslog_format(&expanded, 0x08, fits.c_str(), 1)), "VORERROR " + fits);
    EXPECT_FALSE(expanded);

    // One more character: the conversion at the end would be cut, so the text is expanded.
    std::string over = "%d" + fits;
    std::string text = syslog_format(&expanded, 0x08, over.c_str(), 42, 7);
    EXPECT_TRUE(expanded);
    EXPECT_EQ(text.size(), LOGSINK_LINE_SIZE - 1);
    EXPECT_EQ(text.compare(0, prefix + 4, "VORERROR 42aa"), 0);
    EXPECT_EQ(text.find('%'), std::string::npos);

    std::string huge = "%s:" + std::string(4 * LOGSINK_LINE_SIZE, 'b');
    text = syslog_format(&expanded, 0x01, huge.c_str(), "arg");
    EXPECT_TRUE(expanded);
    EXPECT_EQ(text.size(), LOGSINK_LINE_SIZE - 1);
    EXPECT_EQ(text.compare(0, 13, "VORDEBUG arg:"), 0);
}

} // namespace
