// Tests of the hooks the configuration-file reader drives: parameter selection, skip mode, value
// and number stores, and the error-context buffer.
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "params/lcf_internal.h"

namespace {

const char* const modes[] = {"fast", "safe", nullptr};

parameter_descriptor make_row(int32_t id, const char* name, int32_t type) {
    parameter_descriptor row{};
    row.id = id;
    row.name = name;
    row.type = type;
    if (type == LCF_TYPE_ENUM) row.enum_values = modes;
    return row;
}

// A handle over a small table, installed as the reader's handle the way a file read starts.
struct reader_fixture : ::testing::Test {
    parameter_descriptor rows[5] = {
        make_row(1, "Port", LCF_TYPE_INT),      make_row(2, "Flag", LCF_TYPE_BOOL),
        make_row(3, "Mode", LCF_TYPE_ENUM),     make_row(4, "Note", LCF_TYPE_TEXT),
        make_row(1, "PortAlias", LCF_TYPE_INT),
    };
    parser_handle* handle = nullptr;

    void SetUp() override {
        handle = lcf_create(5, rows);
        lcf_reader = lcf_reader_state{};
        lcf_reader.handle = handle;
    }
    void TearDown() override {
        lcf_reader = lcf_reader_state{};
        lcf_destroy(handle);
    }
    // What one parameter line does through the hooks: select, then store a value text.
    int line(const char* name, const char* value) {
        lcf_skip_current();
        lcf_begin_parameter(name);
        return lcf_set_current_value(value);
    }
};

TEST_F(reader_fixture, BeginSelectsFirstRowAndMakesOneEntryPerId) {
    EXPECT_EQ(lcf_begin_parameter("Port"), 0);
    EXPECT_EQ(lcf_reader.descriptor, &rows[0]);
    ASSERT_NE(lcf_reader.entry, nullptr);
    EXPECT_EQ(lcf_reader.entry->id, 1);
    EXPECT_EQ(lcf_reader.entry->type, LCF_TYPE_NONE);
    EXPECT_EQ(lcf_reader.skip, 0);
    // Another name of the same id reuses its entry.
    value_entry* first = lcf_reader.entry;
    EXPECT_EQ(lcf_begin_parameter("PortAlias"), 0);
    EXPECT_EQ(lcf_reader.entry, first);
    EXPECT_EQ(lcf_value_count(handle), 1u);
}

TEST_F(reader_fixture, UnknownNameSkipsTheLineWithoutError) {
    EXPECT_EQ(line("Port", "25"), 0);
    EXPECT_EQ(line("port", "30"), 0); // names are case-sensitive
    EXPECT_EQ(lcf_reader.skip, 1);
    EXPECT_EQ(lcf_set_current_number("40"), 0);
    EXPECT_STREQ(lcf_get_string(handle, 1), "25");
    EXPECT_EQ(lcf_get_int(handle, 1), 25);
    // Skip mode set before a name keeps a value out of the previous line's parameter.
    lcf_skip_current();
    EXPECT_EQ(lcf_set_current_value("50"), 0);
    EXPECT_EQ(lcf_get_int(handle, 1), 25);
}

TEST_F(reader_fixture, ValueCodesComeFromTheAssignment) {
    EXPECT_EQ(line("Flag", "YES"), 0);
    EXPECT_STREQ(lcf_get_string(handle, 2), "yes");
    EXPECT_EQ(line("Flag", "1"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_STREQ(lcf_get_string(handle, 2), "yes");
    EXPECT_EQ(line("Mode", "SAFE"), 0);
    EXPECT_EQ(lcf_get_int(handle, 3), 1);
    EXPECT_EQ(line("Mode", "quick"), LCF_ERROR_WRONG_ENUM_VALUE);
    EXPECT_EQ(lcf_get_int(handle, 3), 1);
    EXPECT_EQ(line("Note", "a # b"), 0);
    EXPECT_STREQ(lcf_get_string(handle, 4), "a # b");
}

TEST_F(reader_fixture, NameWithoutValueLeavesAnEmptyEntry) {
    lcf_skip_current();
    lcf_begin_parameter("Note");
    EXPECT_EQ(lcf_get_type(handle, 4), LCF_TYPE_NONE);
    EXPECT_EQ(lcf_get_string(handle, 4), nullptr);
    // Defaults are not applied over an entry that exists without a value.
    rows[3].default_value = "fallback";
    lcf_apply_defaults(handle, 0);
    EXPECT_EQ(lcf_get_string(handle, 4), nullptr);
}

TEST_F(reader_fixture, NumberStoresAnIntegerEvenWhereRefused) {
    lcf_skip_current();
    lcf_begin_parameter("Port");
    EXPECT_EQ(lcf_set_current_number("0025"), 0);
    EXPECT_EQ(lcf_get_type(handle, 1), LCF_TYPE_INT);
    EXPECT_STREQ(lcf_get_string(handle, 1), "0025");
    EXPECT_EQ(lcf_get_int(handle, 1), 25);

    lcf_skip_current();
    lcf_begin_parameter("Flag");
    EXPECT_EQ(lcf_set_current_number("1"), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(lcf_get_type(handle, 2), LCF_TYPE_INT);
    EXPECT_STREQ(lcf_get_string(handle, 2), "1");
    EXPECT_EQ(lcf_get_int(handle, 2), 1);

    lcf_skip_current();
    lcf_begin_parameter("Note");
    EXPECT_EQ(lcf_set_current_number("7"), 0); // text accepts an integer
}

TEST_F(reader_fixture, ReaderWithoutHandleChangesNothing) {
    lcf_reader.handle = nullptr;
    EXPECT_EQ(lcf_begin_parameter("Port"), 0);
    EXPECT_EQ(lcf_reader.skip, 1);
    EXPECT_EQ(lcf_set_current_value("25"), 0);
    EXPECT_EQ(lcf_set_current_number("25"), 0);
    EXPECT_EQ(lcf_value_count(handle), 0u);
}

TEST(ReaderHooks, HandleWithoutRoomReportsTheLostValue) {
    // The state lcf_create leaves when the value array cannot be allocated.
    parameter_descriptor rows[1] = {make_row(1, "Port", LCF_TYPE_INT)};
    parser_handle* handle = lcf_create(0, rows);
    handle->descriptor_count = 1;
    lcf_reader = lcf_reader_state{};
    lcf_reader.handle = handle;
    lcf_skip_current();
    EXPECT_EQ(lcf_begin_parameter("Port"), 0);
    EXPECT_EQ(lcf_set_current_value("25"), LCF_ERROR_CANT_ALLOCATE_MEMORY);
    EXPECT_EQ(lcf_set_current_number("25"), LCF_ERROR_CANT_ALLOCATE_MEMORY);
    // An unknown name is still skipped silently.
    lcf_skip_current();
    lcf_begin_parameter("Other");
    EXPECT_EQ(lcf_set_current_value("25"), 0);
    lcf_reader = lcf_reader_state{};
    lcf_destroy(handle);
}

TEST(ErrorContext, AppendsUpTo1024CharactersThenNothing) {
    lcf_line_reset();
    lcf_line_append("Flag");
    lcf_line_append(" ");
    lcf_line_append("1");
    EXPECT_STREQ(lcf_error_context_buffer.text, "Flag 1");
    EXPECT_EQ(lcf_error_context_buffer.fill, 6u);
    lcf_line_append(nullptr);
    EXPECT_EQ(lcf_error_context_buffer.fill, 6u);

    struct {
        size_t first;
        size_t second;
    } cases[] = {
        {1000, 23},  // the last append just reaches the limit
        {1000, 24},  // the second append reaches the limit, the last adds nothing
        {1000, 500}, // cut
        {2000, 1},   // cut by the first append
        {1023, 0},   {10, 5},
    };
    for (const auto& c : cases) {
        lcf_line_reset();
        EXPECT_STREQ(lcf_error_context_buffer.text, "");
        lcf_line_append(std::string(c.first, 'a').c_str());
        lcf_line_append(std::string(c.second, 'b').c_str());
        lcf_line_append("c");
        std::string expected = (std::string(c.first, 'a') + std::string(c.second, 'b') + "c")
                                   .substr(0, LCF_TEXT_BUFFER_SIZE);
        EXPECT_EQ(lcf_error_context_buffer.text, expected) << c.first << "+" << c.second;
        EXPECT_EQ(lcf_error_context_buffer.fill, std::min<size_t>(expected.size(), 1024))
            << c.first << "+" << c.second;
    }
    lcf_line_reset();
}

} // namespace
