// Tests of the value kinds: words, shape tests, classification, acceptance and assignment.
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <regex.h>
#include <string>

#include "params/lcf_internal.h"

namespace {

TEST(Words, CountAndPickRunsOfNonSpace) {
    struct {
        const char* text;
        uint32_t count;
    } cases[] = {
        {nullptr, 0},   {"", 0},    {" \t\r\n", 0}, {"one", 1},
        {"  one  ", 1}, {"a b", 2}, {"a\tb\nc", 3}, {" a  b   c  d ", 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lcf_count_words(c.text), c.count) << (c.text ? c.text : "(null)");
    }
    EXPECT_STREQ(lcf_word_at("\talpha\nbeta", 1), "beta");
    EXPECT_STREQ(lcf_word_at("x", 0), "x");
    EXPECT_EQ(lcf_word_at("x", 1), nullptr);
    EXPECT_EQ(lcf_word_at("", 0), nullptr);
    EXPECT_EQ(lcf_word_at("   ", 0), nullptr);
    EXPECT_EQ(lcf_word_at(nullptr, 0), nullptr);
}

TEST(Words, WordBeyondTheBufferIsRefusedNotCut) {
    std::string fits(1023, 'w');
    std::string too_long(1024, 'w');
    const char* word = lcf_word_at(("a " + fits + " b").c_str(), 1);
    ASSERT_NE(word, nullptr);
    EXPECT_EQ(std::string(word), fits);
    EXPECT_EQ(lcf_word_at(("a " + too_long + " b").c_str(), 1), nullptr);
    // Words after an over-long one are still reachable.
    EXPECT_STREQ(lcf_word_at((too_long + " b").c_str(), 1), "b");
}

TEST(Shapes, IntegerSocketAndIpv4Tests) {
    struct {
        const char* text;
        int integer;
        int socket;
        int ipv4;
    } cases[] = {
        {"", 0, 0, 0},
        {"42", 1, 0, 0},
        {" 42", 1, 0, 0},
        {"42 ", 0, 0, 0},
        {"-5", 1, 0, 0},
        {"+5", 1, 0, 0},
        {"-", 0, 0, 0},
        {"12abc", 0, 0, 0},
        {"10.0.0.1", 0, 0, 1},
        {"10.0.0.1:25", 0, 0, 1},
        {"999.1.2.3x", 0, 0, 1},
        {"1.2.3", 0, 0, 0},
        {"tcp:10.0.0.1:25", 0, 1, 0},
        {"tcp:10x0y0z1", 0, 1, 0}, // the pattern's dots match any character
        {"/tmp/x", 0, 1, 0},
        {"a/b", 0, 1, 0},
        {"unix:/var/run/s", 0, 1, 0},
        {"localhost", 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lcf_is_integer(c.text), c.integer) << "'" << c.text << "'";
        EXPECT_EQ(lcf_is_socket_address(c.text), c.socket) << "'" << c.text << "'";
        EXPECT_EQ(lcf_is_ipv4(c.text), c.ipv4) << "'" << c.text << "'";
    }
    EXPECT_EQ(lcf_is_integer(nullptr), 0);
    EXPECT_EQ(lcf_is_socket_address(nullptr), 0);
    EXPECT_EQ(lcf_is_ipv4(nullptr), 0);
}

// The socket test decides texts with a "/" or without "tcp:" without the pattern; it must answer
// exactly as a search with the documented pattern does.
TEST(Shapes, SocketShortcutsAgreeWithThePattern) {
    regex_t pattern;
    ASSERT_EQ(regcomp(&pattern,
                      "(tcp:[0-9]+.[0-9]+.[0-9]+.[0-9]+(:[0-9]+)?)|((unix:)?(/[a-zA-Z0-9._-]*)+)",
                      REG_EXTENDED | REG_NOSUB),
              0);
    const char* texts[] = {"",
                           "/",
                           "a/b",
                           "unix:",
                           "unix:/x",
                           "tcp:",
                           "tcp:1.2.3",
                           "tcp:1.2.3.4",
                           "tcp:1x2y3z4",
                           "xtcp:10.0.0.1:25x",
                           "TCP:1.2.3.4",
                           "tcp:1.2.3.4 tcp:",
                           "10.0.0.1:25",
                           "localhost",
                           "tcp:a.b.c.d",
                           "path\\with\\backslashes"};
    for (const char* text : texts) {
        int expected = regexec(&pattern, text, 0, nullptr, 0) == 0 ? 1 : 0;
        EXPECT_EQ(lcf_is_socket_address(text), expected) << text;
    }
    regfree(&pattern);
}

TEST(Classify, KindByShape) {
    struct {
        const char* text;
        int32_t kind;
    } cases[] = {
        {nullptr, LCF_TYPE_NONE},
        {"", LCF_TYPE_NONE},
        {"   ", LCF_TYPE_NONE},
        {"42", LCF_TYPE_INT},
        {" 42", LCF_TYPE_INT},
        {"42 ", LCF_TYPE_STRING},
        {"-5", LCF_TYPE_INT},
        {"12abc", LCF_TYPE_STRING},
        {"/tmp/x", LCF_TYPE_SOCKET},
        {"a/b", LCF_TYPE_SOCKET},
        {"10.0.0.1", LCF_TYPE_IPV4},
        {"10.0.0.1:25", LCF_TYPE_IPV4},
        {"tcp:10.0.0.1:25", LCF_TYPE_SOCKET},
        {"yes", LCF_TYPE_STRING},
        {"two words", LCF_TYPE_TWO_WORDS},
        {"1 2", LCF_TYPE_TWO_WORDS},
        {"three little words", LCF_TYPE_THREE_WORDS},
        {"four words in here", LCF_TYPE_TEXT},
        {"a b c d e f", LCF_TYPE_TEXT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lcf_classify(c.text), c.kind) << "'" << (c.text ? c.text : "(null)") << "'";
    }
}

TEST(Acceptance, TableRowByRow) {
    // One string per descriptor type: character k is '1' when the type accepts kind k.
    struct {
        int32_t type;
        const char* kinds;
    } rows[] = {
        {LCF_TYPE_NONE, "11111111111"},
        {LCF_TYPE_STRING, "01001011000"},
        {LCF_TYPE_TWO_WORDS, "00100000000"},
        {LCF_TYPE_THREE_WORDS, "00010000000"},
        {LCF_TYPE_INT, "00001000000"},
        {LCF_TYPE_BOOL, "01000000000"},
        {LCF_TYPE_IPV4, "00000010000"},
        {LCF_TYPE_SOCKET, "01000001000"},
        {LCF_TYPE_COUNTER, "11111111111"},
        {LCF_TYPE_ENUM, "01000000000"},
        {LCF_TYPE_TEXT, "11111111111"},
        {11, "11111111111"},
        {1000, "11111111111"},
    };
    for (const auto& row : rows) {
        for (int32_t kind = 0; kind <= LCF_TYPE_TEXT; ++kind) {
            EXPECT_EQ(lcf_type_accepts(row.type, kind), row.kinds[kind] - '0')
                << "type " << row.type << " kind " << kind;
        }
    }
}

const char* const levels[] = {"error", "warning", "debug", nullptr};

parameter_descriptor row_of(int32_t type) {
    parameter_descriptor row{};
    row.id = 1;
    row.name = "Param";
    row.type = type;
    if (type == LCF_TYPE_ENUM) row.enum_values = levels;
    return row;
}

TEST(Enumerations, PositionIgnoresCase) {
    parameter_descriptor row = row_of(LCF_TYPE_ENUM);
    EXPECT_EQ(lcf_enum_index(&row, "error"), 0);
    EXPECT_EQ(lcf_enum_index(&row, "Debug"), 2);
    EXPECT_EQ(lcf_enum_index(&row, "WARNING"), 1);
    EXPECT_EQ(lcf_enum_index(&row, "verbose"), -1);
    EXPECT_EQ(lcf_enum_index(&row, "debu"), -1);
    EXPECT_EQ(lcf_enum_index(&row, nullptr), -1);
    EXPECT_EQ(lcf_enum_index(nullptr, "error"), -1);
    parameter_descriptor string_row = row_of(LCF_TYPE_STRING);
    string_row.enum_values = levels;
    EXPECT_EQ(lcf_enum_index(&string_row, "error"), -1);
    parameter_descriptor no_list = row_of(LCF_TYPE_ENUM);
    no_list.enum_values = nullptr;
    EXPECT_EQ(lcf_enum_index(&no_list, "error"), -1);
}

// One assignment and what the entry holds afterwards.
struct assign_case {
    int32_t type;
    const char* text;
    int code;
    int32_t entry_type;
    const char* stored; // null: the entry keeps its earlier text
    int32_t number;
};

TEST(Assign, StoresCheckedTextsAndRefusesOthersUntouched) {
    // Each case starts from an entry holding text "old" and number -7.
    const assign_case cases[] = {
        {LCF_TYPE_STRING, "8080", 0, LCF_TYPE_STRING, "8080", 8080},
        {LCF_TYPE_STRING, "12abc", 0, LCF_TYPE_STRING, "12abc", 12},
        {LCF_TYPE_STRING, "word", 0, LCF_TYPE_STRING, "word", 0},
        {LCF_TYPE_STRING, "", 6, 0, nullptr, -7},
        {LCF_TYPE_STRING, "   ", 6, 0, nullptr, -7},
        {LCF_TYPE_STRING, "two words", 6, 0, nullptr, -7},
        {LCF_TYPE_NONE, "", 0, LCF_TYPE_NONE, "", 0},
        {LCF_TYPE_COUNTER, "   ", 0, LCF_TYPE_COUNTER, "   ", 0},
        {LCF_TYPE_TEXT, "", 0, LCF_TYPE_TEXT, "", 0},
        {LCF_TYPE_TEXT, "4 words are here", 0, LCF_TYPE_TEXT, "4 words are here", 4},
        {LCF_TYPE_TWO_WORDS, "a b", 0, LCF_TYPE_TWO_WORDS, "a b", 0},
        {LCF_TYPE_TWO_WORDS, "a", 6, 0, nullptr, -7},
        {LCF_TYPE_THREE_WORDS, "a b c", 0, LCF_TYPE_THREE_WORDS, "a b c", 0},
        {LCF_TYPE_INT, "-5", 0, LCF_TYPE_INT, "-5", -5},
        {LCF_TYPE_INT, " 42", 0, LCF_TYPE_INT, " 42", 42},
        {LCF_TYPE_INT, "99999999999", 0, LCF_TYPE_INT, "99999999999", INT32_MAX},
        {LCF_TYPE_INT, "42 ", 6, 0, nullptr, -7},
        {LCF_TYPE_INT, "4x", 6, 0, nullptr, -7},
        {LCF_TYPE_IPV4, "10.0.0.1", 0, LCF_TYPE_IPV4, "10.0.0.1", 10},
        {LCF_TYPE_IPV4, "tcp:10.0.0.1", 6, 0, nullptr, -7},
        {LCF_TYPE_SOCKET, "tcp:10.0.0.1:25", 0, LCF_TYPE_SOCKET, "tcp:10.0.0.1:25", 0},
        {LCF_TYPE_SOCKET, "localhost", 0, LCF_TYPE_SOCKET, "localhost", 0},
        {LCF_TYPE_SOCKET, "10.0.0.1", 6, 0, nullptr, -7},
        {LCF_TYPE_SOCKET, "25", 6, 0, nullptr, -7},
        // Switches: "yes" in any case is 1, any other plain word 0; the text follows.
        {LCF_TYPE_BOOL, "yes", 0, LCF_TYPE_BOOL, "yes", 1},
        {LCF_TYPE_BOOL, "YES", 0, LCF_TYPE_BOOL, "yes", 1},
        {LCF_TYPE_BOOL, "Yes", 0, LCF_TYPE_BOOL, "yes", 1},
        {LCF_TYPE_BOOL, "no", 0, LCF_TYPE_BOOL, "no", 0},
        {LCF_TYPE_BOOL, "off", 0, LCF_TYPE_BOOL, "no", 0},
        {LCF_TYPE_BOOL, "on", 0, LCF_TYPE_BOOL, "no", 0},
        {LCF_TYPE_BOOL, "yess", 0, LCF_TYPE_BOOL, "no", 0},
        {LCF_TYPE_BOOL, "1", 6, 0, nullptr, -7},
        {LCF_TYPE_BOOL, "yes please", 6, 0, nullptr, -7},
        {LCF_TYPE_BOOL, "/yes", 6, 0, nullptr, -7},
        {LCF_TYPE_ENUM, "Debug", 0, LCF_TYPE_ENUM, "Debug", 2},
        {LCF_TYPE_ENUM, "error", 0, LCF_TYPE_ENUM, "error", 0},
        // Not in the list: the entry already has type 9 but keeps its text and number.
        {LCF_TYPE_ENUM, "verbose", 8, LCF_TYPE_ENUM, nullptr, -7},
        // A number is refused before the list is consulted.
        {LCF_TYPE_ENUM, "1", 6, 0, nullptr, -7},
        {LCF_TYPE_ENUM, "warning error", 6, 0, nullptr, -7},
    };
    for (const auto& c : cases) {
        parameter_descriptor row = row_of(c.type);
        value_entry entry{};
        entry.id = 1;
        entry.number = -7;
        entry.text = lcf_copy_text("old");
        EXPECT_EQ(lcf_assign(&entry, &row, c.text), c.code) << "type " << c.type << " '" << c.text;
        EXPECT_EQ(entry.type, c.entry_type) << "type " << c.type << " '" << c.text;
        EXPECT_STREQ(entry.text, c.stored ? c.stored : "old") << "type " << c.type;
        EXPECT_EQ(entry.number, c.number) << "type " << c.type << " '" << c.text;
        lcf_release(entry.text);
    }
}

TEST(Assign, MissingEntryOrDescriptorIsAnError) {
    parameter_descriptor row = row_of(LCF_TYPE_STRING);
    value_entry entry{};
    EXPECT_EQ(lcf_assign(nullptr, &row, "word"), LCF_ERROR_CANT_ALLOCATE_MEMORY);
    EXPECT_EQ(lcf_assign(&entry, nullptr, "word"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(entry.text, nullptr);
}

TEST(StoreText, SwitchTextFollowsTheNumberAndOthersAreCopied) {
    parameter_descriptor bool_row = row_of(LCF_TYPE_BOOL);
    parameter_descriptor text_row = row_of(LCF_TYPE_TEXT);
    value_entry entry{};
    entry.number = 3;
    EXPECT_EQ(lcf_store_text(&entry, &bool_row, "no"), 0);
    EXPECT_STREQ(entry.text, "yes");
    entry.number = 0;
    EXPECT_EQ(lcf_store_text(&entry, &bool_row, "yes"), 0);
    EXPECT_STREQ(entry.text, "no");
    char source[] = "copied";
    EXPECT_EQ(lcf_store_text(&entry, &text_row, source), 0);
    source[0] = 'X';
    EXPECT_STREQ(entry.text, "copied");
    EXPECT_EQ(lcf_store_text(&entry, nullptr, nullptr), 0);
    EXPECT_EQ(entry.text, nullptr);
    EXPECT_EQ(lcf_store_text(nullptr, &text_row, "x"), 0);
}

} // namespace
