// Tests of the configuration-file reader: the token rules on awkward lines, line counting and
// error context, defaults and sorting after a read, buffer refills and the fatal conditions.
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "params/lcf.h"
#include "params/test_support.h"
#include "tests/scratch_dir.h"

namespace {

const char* const LEVELS[] = {"error", "warning", "debug", nullptr};

// id, name, type, default, enumeration list
parameter_descriptor row(int32_t id, const char* name, int32_t type,
                         const char* default_value = nullptr,
                         const char* const* enum_values = nullptr) {
    return {id,          name,    0, nullptr, type,   0, default_value,
            enum_values, nullptr, 0, nullptr, nullptr};
}

// "Text" accepts any value and keeps the kind of token apart: a number token leaves type 4, a
// value text type 10.
std::vector<parameter_descriptor> standard_rows() {
    return {
        row(2, "Text", LCF_TYPE_TEXT),  row(3, "Word", LCF_TYPE_STRING),
        row(4, "Flag", LCF_TYPE_BOOL),  row(5, "Level", LCF_TYPE_ENUM, "warning", LEVELS),
        row(1, "#Hash", LCF_TYPE_TEXT), row(-1, "Last", LCF_TYPE_STRING),
    };
}

class FileReader : public ::testing::Test {
  protected:
    std::vector<parameter_descriptor> rows = standard_rows();
    parser_handle* handle = nullptr;

    void SetUp() override { handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data()); }
    void TearDown() override { lcf_destroy(handle); }
    int parse(const std::string& text) {
        return lcf_parse_buffer(handle, text.data(), text.size());
    }
    std::string text(int32_t id) { return text_of(handle, id); }
    bool has_entry(int32_t id) { return has_entry_for(handle, id); }
};

void write_file(const std::string& path, const std::string& contents) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(contents.data(), 1, contents.size(), file), contents.size());
    fclose(file);
}

struct value_case {
    const char* file;
    int32_t type; // of the "Text" entry; -1: no entry at all
    const char* text;
    int32_t number;
};

TEST_F(FileReader, ValuePartTokens) {
    const value_case cases[] = {
        {"Text 25\n", LCF_TYPE_INT, "25", 25},
        {"Text 25", LCF_TYPE_TEXT, "25", 25},      // no line end: not a number token
        {"Text 25\t\n", LCF_TYPE_TEXT, "25", 25},  // a tab blocks the number token
        {"Text 25  \r\n", LCF_TYPE_INT, "25", 25}, // spaces and CR LF do not
        {"Text 25 \rx\n", LCF_TYPE_INT, "25", 25}, // so does a CR without LF
        {"Text 7\n", LCF_TYPE_INT, "7", 7},        // a single digit before a line end
        {"Text 7", LCF_TYPE_NONE, "<null>", 0},    // ... but not at the end of the file
        {"Text x\n", LCF_TYPE_NONE, "<null>", 0},  // one character sets nothing
        {"Text\n", LCF_TYPE_NONE, "<null>", 0},    // a name with no value
        {"Text", LCF_TYPE_NONE, "<null>", 0},
        {"Text -5\n", LCF_TYPE_TEXT, "-5", -5}, // signed numbers are value texts
        {"Text +5\n", LCF_TYPE_TEXT, "+5", 5},
        {"Text 12abc\n", LCF_TYPE_TEXT, "12abc", 12},
        {"Text = value\n", LCF_TYPE_TEXT, "= value", 0},
        {"Text a # b\n", LCF_TYPE_TEXT, "a # b", 0},
        {"Text  two words here  \r\n", LCF_TYPE_TEXT, "two words here", 0},
        {"Text\t\"quoted\" \\\n", LCF_TYPE_TEXT, "\"quoted\" \\", 0},
        {"   \tText   v1 v2\n", LCF_TYPE_TEXT, "v1 v2", 0},
        {"Text a\rb c\n", LCF_TYPE_TEXT, "b c", 0}, // a lone CR splits the value
        {"Text 1\r2\r\n", LCF_TYPE_INT, "2", 2},
        {"Text one\nText two\n", LCF_TYPE_TEXT, "two", 0}, // the last line wins
        {"Text one\nText\n", LCF_TYPE_TEXT, "one", 0},     // a bare name keeps the value
        {"Text=value\n", -1, "<null>", 0},                 // one unknown name
        {"# Text 5\n", -1, "<null>", 0},
        {"  \t# Text 5\n", -1, "<null>", 0},
        {"Other # Text 5\n", -1, "<null>", 0},
        {"x Text 5\n", -1, "<null>", 0},
        {"Text a\rWord w\r", LCF_TYPE_TEXT, "Word w", 0}, // CR alone: one long line
        {" \t \r\n\r\n\nText vv\r\n \r\n", LCF_TYPE_TEXT, "vv", 0},
    };
    for (const value_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "file: '" << c.file << "'");
        lcf_destroy(handle);
        handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data());
        EXPECT_EQ(parse(c.file), LCF_OK);
        if (c.type < 0) {
            EXPECT_FALSE(has_entry(2));
            continue;
        }
        EXPECT_TRUE(has_entry(2));
        EXPECT_EQ(lcf_get_type(handle, 2), c.type);
        EXPECT_EQ(text(2), c.text);
        if (c.type == LCF_TYPE_INT) {
            EXPECT_EQ(lcf_get_int(handle, 2), c.number);
        }
    }
}

TEST_F(FileReader, CommentsAndNamesBeginningWithHash) {
    // A comment needs its line end: at the end of the file the line is a parameter line.
    EXPECT_EQ(parse("#Hash kept out\n"), LCF_OK);
    EXPECT_FALSE(has_entry(1));
    EXPECT_EQ(parse("Word ww\n#Hash abc def"), LCF_OK);
    EXPECT_EQ(text(1), "abc def");
    EXPECT_EQ(text(3), "ww");
    // Comment lines still count as lines.
    EXPECT_EQ(parse("# one\n  # two\n\nFlag 1\n"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(lcf_error_line(handle), 4);
}

TEST_F(FileReader, LineEndingsReadAlike) {
    const std::string lf = "Word ww\nText a b\n\nFlag yes\n";
    const std::string crlf = "Word ww\r\nText a b\r\n\r\nFlag yes\r\n";
    for (const std::string& file : {lf, crlf}) {
        EXPECT_EQ(parse(file), LCF_OK);
        EXPECT_EQ(text(3), "ww");
        EXPECT_EQ(text(2), "a b");
        EXPECT_EQ(lcf_get_int(handle, 4), 1);
    }
}

struct failure_case {
    const char* file;
    int result;
    int32_t line;
    const char* context;
};

TEST_F(FileReader, RefusedValueGivesLineAndContext) {
    const failure_case cases[] = {
        {"Flag 1\n", LCF_ERROR_DIFFERENT_PARAMETER_TYPE, 1, "Flag 1"},
        {"Flag 10", LCF_ERROR_DIFFERENT_PARAMETER_TYPE, 1, "Flag 10"},
        {"# c\n\nWord two words", LCF_ERROR_DIFFERENT_PARAMETER_TYPE, 3, "Word two words"},
        {"Text fine\r\nWord   a b  \r\nText later\n", LCF_ERROR_DIFFERENT_PARAMETER_TYPE, 2,
         "Word   a b  "},
        {"Level verbose\n", LCF_ERROR_WRONG_ENUM_VALUE, 1, "Level verbose"},
        {"  Level\tDEBUGGING  \n", LCF_ERROR_WRONG_ENUM_VALUE, 1, "Level\tDEBUGGING  "},
        {"Flag 25  \nText x\n", LCF_ERROR_DIFFERENT_PARAMETER_TYPE, 1, "Flag 25  "},
    };
    for (const failure_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "file: '" << c.file << "'");
        EXPECT_EQ(parse(c.file), c.result);
        EXPECT_EQ(lcf_last_error(handle), c.result);
        EXPECT_EQ(lcf_error_line(handle), c.line);
        ASSERT_NE(lcf_error_context(handle), nullptr);
        EXPECT_STREQ(lcf_error_context(handle), c.context);
    }
}

TEST_F(FileReader, FailingLineEndsTheRead) {
    EXPECT_EQ(parse("Word ok\nFlag 25\nyes\nText later\n"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(lcf_error_line(handle), 2);
    EXPECT_EQ(text(3), "ok"); // lines before stay
    EXPECT_EQ(text(4), "25"); // a refused number token is kept
    EXPECT_EQ(lcf_get_type(handle, 4), LCF_TYPE_INT);
    EXPECT_FALSE(has_entry(2)); // nothing after the failing line is read
    EXPECT_FALSE(has_entry(5)); // and no defaults
}

TEST_F(FileReader, LaterPieceOfALineDecidesItsError) {
    // After a lone CR the line goes on; the last value hook of the line decides.
    EXPECT_EQ(parse("Flag 1\ryes\n"), LCF_OK);
    EXPECT_EQ(lcf_get_int(handle, 4), 1);
    EXPECT_EQ(parse("Flag yes\r1\n"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
}

TEST_F(FileReader, ErrorContextIsCut) {
    std::string value(3000, 'v');
    EXPECT_EQ(parse("Word " + value + " w\n"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(std::string(lcf_error_context(handle)), ("Word " + value).substr(0, 1024));
}

TEST_F(FileReader, DefaultsAndSortingAfterAGoodRead) {
    EXPECT_EQ(parse("Last zz\nText aa\nWord ww\n"), LCF_OK);
    EXPECT_EQ(text(5), "warning");
    EXPECT_EQ(lcf_get_int(handle, 5), 1);
    // Sorted by id as unsigned numbers: -1 comes last.
    std::vector<int32_t> ids;
    for (uint32_t i = 0; i < lcf_value_count(handle); ++i)
        ids.push_back(lcf_value_id_at(handle, i));
    EXPECT_EQ(ids, (std::vector<int32_t>{2, 3, 5, -1}));
}

TEST_F(FileReader, ParameterMetWithoutValueGetsNoDefault) {
    EXPECT_EQ(parse("Level x\n"), LCF_OK);
    EXPECT_TRUE(has_entry(5));
    EXPECT_EQ(lcf_get_type(handle, 5), LCF_TYPE_NONE);
    EXPECT_EQ(lcf_get_string(handle, 5), nullptr);
}

TEST(FileReaderDefaults, EnumDefaultOutsideItsList) {
    std::vector<parameter_descriptor> rows = {row(9, "Mode", LCF_TYPE_ENUM, "loud", LEVELS),
                                              row(8, "Word", LCF_TYPE_STRING)};
    parser_handle* handle = lcf_create(2, rows.data());
    const std::string file = "Word ww\n";
    EXPECT_EQ(lcf_parse_buffer(handle, file.data(), file.size()),
              LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE);
    EXPECT_STREQ(lcf_get_string(handle, 9), "loud");
    EXPECT_EQ(lcf_value_id_at(handle, 0), 8); // the read completed and sorted
    lcf_destroy(handle);
}

TEST_F(FileReader, UnreadableInputs) {
    EXPECT_EQ(lcf_parse_file(nullptr, "/nonexistent"), LCF_ERROR_NULL_CONFIG_FILE_HANDLE);
    EXPECT_EQ(lcf_parse_buffer(nullptr, "", 0), LCF_ERROR_NULL_CONFIG_FILE_HANDLE);
    EXPECT_EQ(lcf_parse_buffer(handle, nullptr, 5), LCF_ERROR_CONFIG_FILE_NOT_FOUND);
    EXPECT_EQ(lcf_parse_buffer(handle, nullptr, 0), LCF_OK); // empty input
    // A missing file leaves the error line of the read before and applies no defaults.
    lcf_destroy(handle);
    handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data());
    EXPECT_EQ(parse("Text a\n\nFlag 1\n"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(lcf_parse_file(handle, "/nonexistent/reader.conf"), LCF_ERROR_CONFIG_FILE_NOT_FOUND);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_CONFIG_FILE_NOT_FOUND);
    EXPECT_EQ(lcf_error_line(handle), 3);
    EXPECT_FALSE(has_entry(5));
}

TEST_F(FileReader, InputHoldingANulByteIsRefusedWhole) {
    const std::string refused[] = {
        std::string("Word\0comment-out /evil\n", 23),
        std::string("Word /opt/\0x\n", 13),
        std::string("\0", 1),
        // Past the first read of 8,192 bytes: the read still fails as a whole.
        "Flag yes\n" + std::string(9000, '#') + "\n" + std::string("Text \0\n", 7),
    };
    for (const std::string& input : refused) {
        lcf_destroy(handle);
        handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data());
        EXPECT_EQ(parse(input), LCF_ERROR_CONFIG_FILE_NOT_FOUND) << input.size();
        EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_CONFIG_FILE_NOT_FOUND);
        EXPECT_FALSE(has_entry(2));
        EXPECT_FALSE(has_entry(5)) << "no defaults after a refused read";
    }
}

TEST_F(FileReader, ReadsFiles) {
    scratch_dir scratch;
    ASSERT_FALSE(scratch.root.empty());
    const std::string& dir = scratch.root;
    write_file(dir + "/a.conf", "# sample\r\nWord ww\r\nText 42\r\nFlag no");
    EXPECT_EQ(lcf_parse_file(handle, (dir + "/a.conf").c_str()), LCF_OK);
    EXPECT_EQ(text(3), "ww");
    EXPECT_EQ(lcf_get_type(handle, 2), LCF_TYPE_INT);
    EXPECT_EQ(lcf_get_int(handle, 4), 0);
    EXPECT_EQ(text(5), "warning");
    write_file(dir + "/b.conf", "Word ww\nWord two words\n");
    EXPECT_EQ(lcf_parse_file(handle, (dir + "/b.conf").c_str()),
              LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(lcf_error_line(handle), 2);
    EXPECT_STREQ(lcf_error_context(handle), "Word two words");
}

// Lines placed so that each token, look-ahead and CR LF pair in turn straddles the refills at
// 8,192 and 16,384 bytes, read both from memory and from a file.
TEST_F(FileReader, TokensSpanningRefills) {
    scratch_dir scratch;
    ASSERT_FALSE(scratch.root.empty());
    const std::string& dir = scratch.root;
    const std::string tail = "Text 12345  \r\nWord a b c\r\n# note\r\nFlag  yes \r\n";
    for (size_t boundary : {size_t{8192}, size_t{16384}}) {
        for (size_t shift = 0; shift <= tail.size(); ++shift) {
            SCOPED_TRACE(testing::Message() << "boundary " << boundary << " shift " << shift);
            // Lines of filler up to boundary - shift, then the interesting lines.
            std::string file;
            size_t target = boundary - shift;
            while (file.size() + 1000 < target) file += "Pad " + std::string(995, 'x') + "\n";
            file += "Text " + std::string(target - file.size() - 6, 'y') + "\n";
            ASSERT_EQ(file.size(), target);
            file += tail + "Last end";
            for (int from_file = 0; from_file < 2; ++from_file) {
                int result = 0;
                if (from_file) {
                    write_file(dir + "/span.conf", file);
                    result = lcf_parse_file(handle, (dir + "/span.conf").c_str());
                } else {
                    result = parse(file);
                }
                EXPECT_EQ(result, LCF_ERROR_DIFFERENT_PARAMETER_TYPE); // "Word a b c"
                EXPECT_EQ(lcf_error_line(handle), static_cast<int32_t>(std::count(
                                                      file.begin(), file.begin() + target, '\n')) +
                                                      2);
                EXPECT_EQ(lcf_get_type(handle, 2), LCF_TYPE_INT);
                EXPECT_EQ(text(2), "12345");
            }
            file.replace(file.find("Word a b c"), 10, "Word abc  ");
            EXPECT_EQ(parse(file), LCF_OK);
            EXPECT_EQ(text(3), "abc");
            EXPECT_EQ(lcf_get_int(handle, 4), 1);
            EXPECT_EQ(text(-1), "end");
        }
    }
}

TEST_F(FileReader, LongestTokensThatFit) {
    // 16,382 bytes of token and look-ahead is the most the buffer can hold together with the
    // character that ends the look-ahead.
    std::string value = std::string(16381, 'v') + "w";
    EXPECT_EQ(parse("Word ww\nText " + value + "\nWord zz\n"), LCF_OK);
    EXPECT_EQ(text(2), value);
    EXPECT_EQ(text(3), "zz");
    std::string comment = "#" + std::string(16380, 'c') + "\n";
    ASSERT_EQ(comment.size(), 16382u);
    EXPECT_EQ(parse(comment + "Word kk\n"), LCF_OK);
    EXPECT_EQ(text(3), "kk");
    std::string digits(16381, '7');
    EXPECT_EQ(parse("Text " + digits + "\n"), LCF_OK);
    EXPECT_EQ(lcf_get_type(handle, 2), LCF_TYPE_INT);
    EXPECT_EQ(text(2), digits);
    // Blanks that begin a line are one token; those between a name and its value are taken one
    // at a time, however many there are.
    EXPECT_EQ(parse(std::string(16382, ' ') + "Word aa\n" + std::string(16382, '\t') + "\n"),
              LCF_OK);
    EXPECT_EQ(text(3), "aa");
    EXPECT_EQ(parse("Word" + std::string(40000, ' ') + "\t bb\n"), LCF_OK);
    EXPECT_EQ(text(3), "bb");
}

const char* const OVERFLOW_MESSAGE =
    "^input buffer overflow, can't enlarge buffer because scanner uses REJECT\n$";

TEST_F(FileReader, OverlongTokenEndsTheProcess) {
    const std::string too_long[] = {
        "Text " + std::string(16383, 'v') + "\n",
        "Text " + std::string(16383, 'v'),           // also at the end of the file
        "Text " + std::string(16380, 'v') + "   \n", // trailing blanks are looked at
        "#" + std::string(16381, 'c') + "\n",        // a comment line, its line end included
        "Text " + std::string(16382, '7') + "\n",    // digits with their line end
        std::string(16383, 'n') + " value\n",        // a name
        std::string(16383, ' ') + "Word aa\n",       // blanks that begin a line
        std::string(16383, '\t') + "\n",             // a line of nothing but blanks
    };
    for (const std::string& file : too_long) {
        EXPECT_EXIT(parse(file), testing::ExitedWithCode(2), OVERFLOW_MESSAGE);
    }
}

TEST_F(FileReader, ReadErrorEndsTheProcess) {
    // A directory opens for reading, but reading it fails.
    scratch_dir scratch;
    ASSERT_FALSE(scratch.root.empty());
    const std::string& dir = scratch.root;
    EXPECT_EXIT(lcf_parse_file(handle, dir.c_str()), testing::ExitedWithCode(2),
                "^input in flex scanner failed\n$");
}

// A terminal is read a line at a time; the end of input is the terminal's end-of-file key.
TEST_F(FileReader, ReadsATerminal) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        GTEST_SKIP() << "no pseudo-terminal";
    }
    std::string slave = ptsname(master);
    // Line-by-line input with ^D as the end-of-file key, whatever the defaults are.
    int slave_fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_fd, 0);
    termios modes{};
    ASSERT_EQ(tcgetattr(slave_fd, &modes), 0);
    modes.c_lflag |= ICANON;
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    modes.c_cc[VEOF] = 4;
    ASSERT_EQ(tcsetattr(slave_fd, TCSANOW, &modes), 0);
    const std::string input = "Word ww\nText 5\n\x04";
    ASSERT_EQ(write(master, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    EXPECT_EQ(lcf_parse_file(handle, slave.c_str()), LCF_OK);
    EXPECT_EQ(text(3), "ww");
    EXPECT_EQ(lcf_get_type(handle, 2), LCF_TYPE_INT);
    close(slave_fd);
    close(master);
}

} // namespace
