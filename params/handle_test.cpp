// Tests of the parser handle: creation, lookups, value entries, defaults, sorting, getters and
// the error-code names.
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/un.h>
#include <vector>

#include "params/lcf_internal.h"

namespace {

const char* const levels[] = {"error", "warning", "debug", nullptr};

// A small table in the shape programs use: a command-line-only option, file parameters of
// several kinds, and two rows sharing one id.
parameter_descriptor make_row(int32_t id, const char* name, char short_name, const char* long_name,
                              int32_t type, const char* default_value = nullptr) {
    parameter_descriptor row{};
    row.id = id;
    row.name = name;
    row.short_name = short_name;
    row.long_name = long_name;
    row.type = type;
    row.default_value = default_value;
    if (type == LCF_TYPE_ENUM) row.enum_values = levels;
    return row;
}

struct table {
    parameter_descriptor rows[6] = {
        make_row(20002, nullptr, 'c', "config-file", LCF_TYPE_STRING, "/etc/default.conf"),
        make_row(20000, nullptr, 0, "print-version", LCF_TYPE_BOOL),
        make_row(20000, nullptr, 0, "help", LCF_TYPE_BOOL),
        make_row(5, "Port", 'p', "port", LCF_TYPE_INT, "25"),
        make_row(6, "Level", 0, "v", LCF_TYPE_ENUM, "Warning"),
        make_row(7, "Listen", 0, nullptr, LCF_TYPE_SOCKET),
    };
    static constexpr uint32_t count = 6;
};

// Gives the id an entry holding text as a value of the given type, bypassing the kind checks.
void put(parser_handle* handle, int32_t id, int32_t type, const char* text, int32_t number = 0) {
    value_entry* entry = lcf_find_value(handle, id);
    if (entry == nullptr) entry = lcf_add_value(handle, id);
    ASSERT_NE(entry, nullptr);
    entry->type = type;
    entry->number = number;
    lcf_store_text(entry, nullptr, text);
}

TEST(Handle, CreateStartsEmptyAndRefersToTheTable) {
    table t;
    parser_handle* handle = lcf_create(table::count, t.rows);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->value_count, 0u);
    EXPECT_EQ(handle->value_capacity, table::count);
    EXPECT_EQ(handle->descriptors, t.rows);
    EXPECT_EQ(handle->error_callback, nullptr);
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
    EXPECT_EQ(lcf_error_line(handle), 0);
    EXPECT_EQ(lcf_error_context(handle), nullptr);
    lcf_destroy(handle);
}

TEST(Handle, EmptyTableRecognisesNothingAndAnswersNone) {
    parser_handle* handle = lcf_create(0, nullptr);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->value_capacity, 0u);
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
    EXPECT_EQ(lcf_find_option(handle, "-c"), nullptr);
    EXPECT_EQ(lcf_find_by_name(handle, "Port"), nullptr);
    EXPECT_EQ(lcf_find_descriptor(handle, 0), nullptr);
    EXPECT_EQ(lcf_add_value(handle, 0), nullptr);
    EXPECT_EQ(lcf_get_string(handle, 0), nullptr);
    EXPECT_EQ(lcf_get_int(handle, 0), -1);
    EXPECT_EQ(lcf_get_type(handle, 0), 0);
    EXPECT_EQ(lcf_set_param_callback(handle, 0, nullptr, 0), -1);
    lcf_destroy(handle);
}

int ignore_option(parser_handle*, uint32_t, int32_t, const char*) {
    return 0;
}
int stop_on_error(uint32_t, int32_t, int32_t, int32_t) {
    return 1;
}

TEST(Handle, NullHandleAnswersEveryOperationWithNothing) {
    in_addr ip{};
    ip.s_addr = 0x01020304;
    sockaddr_in inet{};
    inet.sin_port = 7;
    sockaddr_un local{};
    local.sun_path[0] = 'x';
    EXPECT_EQ(lcf_destroy(nullptr), 0);
    EXPECT_EQ(lcf_set_callback(nullptr, 0, stop_on_error), LCF_ERROR_NULL_CONFIG_FILE_HANDLE);
    EXPECT_EQ(lcf_set_param_callback(nullptr, 1, ignore_option, 0), -1);
    EXPECT_EQ(lcf_last_error(nullptr), LCF_ERROR_HANDLE_NOT_CREATED);
    EXPECT_EQ(lcf_error_line(nullptr), -1);
    EXPECT_EQ(lcf_error_context(nullptr), nullptr);
    EXPECT_EQ(lcf_value_count(nullptr), 0u);
    EXPECT_EQ(lcf_value_id_at(nullptr, 0), 0);
    EXPECT_EQ(lcf_get_type(nullptr, 1), 0);
    EXPECT_EQ(lcf_get_string(nullptr, 1), nullptr);
    EXPECT_EQ(lcf_get_int(nullptr, 1), -1);
    EXPECT_EQ(lcf_get_word(nullptr, 1, 0), nullptr);
    EXPECT_EQ(lcf_get_ipv4(nullptr, 1, &ip), 0);
    EXPECT_EQ(lcf_get_socket_family(nullptr, 1), 0);
    EXPECT_EQ(lcf_get_inet_address(nullptr, 1, &inet), 0);
    EXPECT_EQ(lcf_get_unix_address(nullptr, 1, &local), 0);
    // Nothing was written into the callers' records.
    EXPECT_EQ(ip.s_addr, 0x01020304u);
    EXPECT_EQ(inet.sin_port, 7);
    EXPECT_EQ(local.sun_path[0], 'x');
    EXPECT_EQ(lcf_find_value(nullptr, 1), nullptr);
    EXPECT_EQ(lcf_find_descriptor(nullptr, 1), nullptr);
    EXPECT_EQ(lcf_find_by_name(nullptr, "Port"), nullptr);
    EXPECT_EQ(lcf_find_option(nullptr, "-c"), nullptr);
    EXPECT_EQ(lcf_add_value(nullptr, 1), nullptr);
    lcf_apply_defaults(nullptr, 0);
    lcf_sort_values(nullptr);
}

TEST(Handle, OptionLookupTakesAnyDashesAndFirstRowInTableOrder) {
    table t;
    parser_handle* handle = lcf_create(table::count, t.rows);
    struct {
        const char* argument;
        const parameter_descriptor* expected;
    } cases[] = {
        {"-c", &t.rows[0]},
        {"--c", &t.rows[0]},
        {"c", &t.rows[0]},
        {"---c", &t.rows[0]},
        {"-config-file", &t.rows[0]},
        {"--config-file", &t.rows[0]},
        {"-C", nullptr},
        {"--Config-File", nullptr},
        {"--config", nullptr},
        {"--help", &t.rows[2]},
        {"-p", &t.rows[3]},
        {"--port", &t.rows[3]},
        {"-v", &t.rows[4]},  // a one-letter long name is found by its long name
        {"--Port", nullptr}, // configuration-file names are not options
        {"--Listen", nullptr},
        {"-", nullptr},
        {"--", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lcf_find_option(handle, c.argument), c.expected) << c.argument;
    }
    EXPECT_EQ(lcf_find_option(handle, nullptr), nullptr);
    lcf_destroy(handle);
}

TEST(Handle, NameAndIdLookupsAreExactAndFirstMatch) {
    table t;
    parser_handle* handle = lcf_create(table::count, t.rows);
    EXPECT_EQ(lcf_find_by_name(handle, "Port"), &t.rows[3]);
    EXPECT_EQ(lcf_find_by_name(handle, "port"), nullptr);
    EXPECT_EQ(lcf_find_by_name(handle, "Por"), nullptr);
    EXPECT_EQ(lcf_find_by_name(handle, "config-file"), nullptr);
    EXPECT_EQ(lcf_find_by_name(handle, nullptr), nullptr);
    EXPECT_EQ(lcf_find_descriptor(handle, 20000), &t.rows[1]);
    EXPECT_EQ(lcf_find_descriptor(handle, 99), nullptr);
    lcf_destroy(handle);
}

TEST(Handle, SharedIdsShareOneEntryAndParamCallbackChangesFirstRowOnly) {
    table t;
    parser_handle* handle = lcf_create(table::count, t.rows);
    EXPECT_EQ(lcf_set_param_callback(handle, 20000, ignore_option, 42), 0);
    EXPECT_EQ(t.rows[1].callback, ignore_option);
    EXPECT_EQ(t.rows[1].callback_data, 42u);
    EXPECT_EQ(t.rows[2].callback, nullptr);
    EXPECT_EQ(t.rows[2].callback_data, 0u);
    EXPECT_EQ(lcf_set_param_callback(handle, 12345, ignore_option, 1), -1);

    value_entry* entry = lcf_add_value(handle, 20000);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(lcf_find_value(handle, 20000), entry);
    lcf_destroy(handle);
}

TEST(Handle, SetCallbackInstallsAndClearsLastError) {
    table t;
    parser_handle* handle = lcf_create(table::count, t.rows);
    handle->last_error = LCF_ERROR_WRONG_ENUM_VALUE;
    EXPECT_EQ(lcf_set_callback(handle, 9, stop_on_error), 0);
    EXPECT_EQ(handle->error_callback, stop_on_error);
    EXPECT_EQ(handle->error_callback_data, 9u);
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
    lcf_destroy(handle);
}

TEST(Handle, EntriesNeverGoBeyondCapacity) {
    table t;
    parser_handle* handle = lcf_create(2, t.rows);
    value_entry* first = lcf_add_value(handle, 1);
    value_entry* second = lcf_add_value(handle, 2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->id, 1);
    EXPECT_EQ(first->type, 0);
    EXPECT_EQ(first->text, nullptr);
    EXPECT_EQ(first->number, 0);
    EXPECT_EQ(lcf_add_value(handle, 3), nullptr);
    EXPECT_EQ(lcf_value_count(handle), 2u);
    EXPECT_EQ(lcf_value_id_at(handle, 1), 2);
    EXPECT_EQ(lcf_value_id_at(handle, 2), 0);
    lcf_destroy(handle);
}

TEST(Handle, HandleWithoutValueArrayCopesEverywhere) {
    // The state lcf_create leaves when the value array cannot be allocated.
    table t;
    parser_handle* handle = lcf_create(0, t.rows);
    handle->descriptor_count = table::count;
    EXPECT_EQ(lcf_add_value(handle, 5), nullptr);
    lcf_apply_defaults(handle, 0);
    lcf_sort_values(handle);
    EXPECT_EQ(lcf_value_count(handle), 0u);
    EXPECT_EQ(lcf_get_string(handle, 20002), nullptr);
    EXPECT_EQ(lcf_find_option(handle, "-c"), &t.rows[0]);
    lcf_destroy(handle);
}

TEST(Handle, SortOrdersIdsAsUnsignedNumbers) {
    parameter_descriptor rows[4] = {};
    parser_handle* handle = lcf_create(4, rows);
    for (int32_t id : {20000, -1, 5, 0}) lcf_add_value(handle, id);
    lcf_sort_values(handle);
    EXPECT_EQ(lcf_value_id_at(handle, 0), 0);
    EXPECT_EQ(lcf_value_id_at(handle, 1), 5);
    EXPECT_EQ(lcf_value_id_at(handle, 2), 20000);
    EXPECT_EQ(lcf_value_id_at(handle, 3), -1);
    value_entry a{}, b{};
    a.id = 1;
    b.id = INT32_MIN;
    EXPECT_EQ(lcf_compare_values(&a, &b), -1);
    EXPECT_EQ(lcf_compare_values(&b, &a), 1);
    EXPECT_EQ(lcf_compare_values(&a, &a), 0);
    lcf_destroy(handle);
}

TEST(Handle, DefaultsFillOnlyMissingEntriesWithTheirNumbers) {
    table t;
    t.rows[1].default_value = "YES";
    parser_handle* handle = lcf_create(table::count, t.rows);
    put(handle, 5, LCF_TYPE_INT, "8080", 8080);
    lcf_apply_defaults(handle, 0);
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
    // An existing entry is never replaced by its default.
    EXPECT_STREQ(lcf_get_string(handle, 5), "8080");
    EXPECT_EQ(lcf_get_int(handle, 5), 8080);
    EXPECT_STREQ(lcf_get_string(handle, 20002), "/etc/default.conf");
    EXPECT_EQ(lcf_get_type(handle, 20002), LCF_TYPE_STRING);
    // An enumeration default becomes its list position, found without regard to case.
    EXPECT_STREQ(lcf_get_string(handle, 6), "Warning");
    EXPECT_EQ(lcf_get_int(handle, 6), 1);
    // A switch default keeps its text as written; its number follows "yes" in any case.
    EXPECT_STREQ(lcf_get_string(handle, 20000), "YES");
    EXPECT_EQ(lcf_get_int(handle, 20000), 1);
    // A row without a default gets no entry.
    EXPECT_EQ(lcf_find_value(handle, 7), nullptr);
    EXPECT_EQ(lcf_value_count(handle), 4u);
    lcf_destroy(handle);
}

TEST(Handle, CommandLineOnlyDefaultsSkipFileParameters) {
    table t;
    parser_handle* handle = lcf_create(table::count, t.rows);
    lcf_apply_defaults(handle, 1);
    EXPECT_STREQ(lcf_get_string(handle, 20002), "/etc/default.conf");
    EXPECT_EQ(lcf_find_value(handle, 5), nullptr);
    EXPECT_EQ(lcf_find_value(handle, 6), nullptr);
    lcf_apply_defaults(handle, 0);
    EXPECT_EQ(lcf_get_int(handle, 5), 25);
    lcf_destroy(handle);
}

TEST(Handle, EnumerationDefaultOutsideItsListIsReportedAndKept) {
    table t;
    t.rows[4].default_value = "7verbose";
    parser_handle* handle = lcf_create(table::count, t.rows);
    lcf_apply_defaults(handle, 0);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE);
    EXPECT_STREQ(lcf_get_string(handle, 6), "7verbose");
    EXPECT_EQ(lcf_get_int(handle, 6), 7); // the number keeps its decimal reading
    // The walk went on past the bad row.
    EXPECT_EQ(lcf_get_int(handle, 5), 25);
    lcf_destroy(handle);
}

TEST(Getters, IntegerAnswersOnlyForNumericKinds) {
    parameter_descriptor rows[8] = {};
    parser_handle* handle = lcf_create(8, rows);
    struct {
        int32_t type;
        int32_t expected;
    } cases[] = {
        {LCF_TYPE_NONE, -1}, {LCF_TYPE_STRING, -1},  {LCF_TYPE_INT, 25},  {LCF_TYPE_BOOL, 25},
        {LCF_TYPE_IPV4, -1}, {LCF_TYPE_COUNTER, 25}, {LCF_TYPE_ENUM, 25}, {LCF_TYPE_TEXT, -1},
    };
    int32_t id = 100;
    for (const auto& c : cases) {
        put(handle, id, c.type, "25", 25);
        EXPECT_EQ(lcf_get_int(handle, id), c.expected) << "type " << c.type;
        EXPECT_EQ(lcf_get_type(handle, id), c.type);
        ++id;
    }
    EXPECT_EQ(lcf_get_int(handle, 999), -1);
    lcf_destroy(handle);
}

TEST(Getters, WordsAreRunsOfNonSpace) {
    parameter_descriptor rows[3] = {};
    parser_handle* handle = lcf_create(3, rows);
    put(handle, 1, LCF_TYPE_TEXT, "  alpha   beta gamma");
    EXPECT_STREQ(lcf_get_word(handle, 1, 0), "alpha");
    EXPECT_STREQ(lcf_get_word(handle, 1, 1), "beta");
    EXPECT_STREQ(lcf_get_word(handle, 1, 2), "gamma");
    EXPECT_EQ(lcf_get_word(handle, 1, 3), nullptr);
    EXPECT_EQ(lcf_get_word(handle, 2, 0), nullptr);
    lcf_add_value(handle, 3); // entry without text
    EXPECT_EQ(lcf_get_word(handle, 3, 0), nullptr);
    lcf_destroy(handle);
}

TEST(Getters, SocketFamilyFollowsTheTextsStart) {
    parameter_descriptor rows[1] = {};
    parser_handle* handle = lcf_create(1, rows);
    struct {
        const char* text;
        int family;
    } cases[] = {
        {"tcp:10.0.0.1:25", 2},
        {"10.0.0.1:25", 2},
        {"/var/run/x.sock", 1},
        {"unix:/var/run/x.sock", 1},
        {"localhost", 1},
        {"unix:x", 1},
        {"", 1},
    };
    for (const auto& c : cases) {
        put(handle, 1, LCF_TYPE_SOCKET, c.text);
        EXPECT_EQ(lcf_get_socket_family(handle, 1), c.family) << c.text;
    }
    put(handle, 1, LCF_TYPE_STRING, "tcp:10.0.0.1:25");
    EXPECT_EQ(lcf_get_socket_family(handle, 1), 0);
    lcf_destroy(handle);
}

TEST(Getters, InetAddressReadsQuadAndPortInNetworkOrder) {
    parameter_descriptor rows[1] = {};
    parser_handle* handle = lcf_create(1, rows);
    sockaddr_in address;

    put(handle, 1, LCF_TYPE_SOCKET, "tcp:10.1.2.3:2525");
    memset(&address, 0xff, sizeof(address));
    EXPECT_EQ(lcf_get_inet_address(handle, 1, &address), 0);
    EXPECT_EQ(address.sin_family, AF_INET);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address.sin_addr);
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes[2], 2);
    EXPECT_EQ(bytes[3], 3);
    const auto* port = reinterpret_cast<const unsigned char*>(&address.sin_port);
    EXPECT_EQ(port[0], 0x09);
    EXPECT_EQ(port[1], 0xDD);
    EXPECT_EQ(address.sin_zero[0], 0); // the whole record was cleared first

    put(handle, 1, LCF_TYPE_SOCKET, "tcp:10.1.2.3");
    EXPECT_EQ(lcf_get_inet_address(handle, 1, &address), 0);
    EXPECT_EQ(address.sin_addr.s_addr, htonl(0x0a010203));
    EXPECT_EQ(address.sin_port, 0);

    // Fewer than four numbers: family set, address left clear.
    put(handle, 1, LCF_TYPE_SOCKET, "/var/run/x.sock");
    memset(&address, 0xff, sizeof(address));
    EXPECT_EQ(lcf_get_inet_address(handle, 1, &address), 0);
    EXPECT_EQ(address.sin_family, AF_INET);
    EXPECT_EQ(address.sin_addr.s_addr, 0u);

    // Another type: nothing written.
    put(handle, 1, LCF_TYPE_IPV4, "10.1.2.3");
    memset(&address, 0xab, sizeof(address));
    EXPECT_EQ(lcf_get_inet_address(handle, 1, &address), 0);
    EXPECT_EQ(bytes[0], 0xab);
    lcf_destroy(handle);
}

TEST(Getters, UnixAddressDropsPrefixAndIsBoundedByTheRecord) {
    parameter_descriptor rows[1] = {};
    parser_handle* handle = lcf_create(1, rows);
    sockaddr_un address;

    put(handle, 1, LCF_TYPE_SOCKET, "unix:/tmp/s");
    memset(&address, 0xff, sizeof(address));
    EXPECT_EQ(lcf_get_unix_address(handle, 1, &address), 0);
    EXPECT_EQ(address.sun_family, AF_UNIX);
    EXPECT_STREQ(address.sun_path, "/tmp/s");

    put(handle, 1, LCF_TYPE_SOCKET, "/var/run/x.sock");
    EXPECT_EQ(lcf_get_unix_address(handle, 1, &address), 0);
    EXPECT_STREQ(address.sun_path, "/var/run/x.sock");

    // A long path fills the record without running past it.
    std::string long_path = "/" + std::string(200, 'd');
    put(handle, 1, LCF_TYPE_SOCKET, long_path.c_str());
    EXPECT_EQ(lcf_get_unix_address(handle, 1, &address), 0);
    EXPECT_EQ(std::string(address.sun_path, sizeof(address.sun_path)),
              long_path.substr(0, sizeof(address.sun_path)));

    put(handle, 1, LCF_TYPE_STRING, "/tmp/s");
    memset(&address, 0xab, sizeof(address));
    EXPECT_EQ(lcf_get_unix_address(handle, 1, &address), 0);
    EXPECT_EQ(static_cast<unsigned char>(address.sun_path[0]), 0xab);
    lcf_destroy(handle);
}

TEST(Getters, Ipv4OnlyForIpv4Entries) {
    parameter_descriptor rows[1] = {};
    parser_handle* handle = lcf_create(1, rows);
    in_addr address{};
    put(handle, 1, LCF_TYPE_IPV4, "192.168.1.20");
    EXPECT_NE(lcf_get_ipv4(handle, 1, &address), 0);
    EXPECT_EQ(address.s_addr, htonl(0xc0a80114));
    put(handle, 1, LCF_TYPE_IPV4, "999.1.1.1");
    EXPECT_EQ(lcf_get_ipv4(handle, 1, &address), 0);
    put(handle, 1, LCF_TYPE_SOCKET, "192.168.1.20");
    EXPECT_EQ(lcf_get_ipv4(handle, 1, &address), 0);
    lcf_destroy(handle);
}

TEST(ErrorCodes, EveryCodeIsNamedAndOthersHaveNoDescription) {
    const char* const names[] = {
        "LCF_OK",
        "LCF_ERROR_HANDLE_NOT_CREATED",
        "LCF_ERROR_CONFIG_FILE_NOT_FOUND",
        "LCF_ERROR_CANT_ALLOCATE_MEMORY",
        "LCF_ERROR_MUST_BE_PARAMETERS_MISSED",
        "LCF_ERROR_DUBLICATED_PARAMETERS",
        "LCF_ERROR_DIFFERENT_PARAMETER_TYPE",
        "LCF_ERROR_NULL_CONFIG_FILE_HANDLE",
        "LCF_ERROR_WRONG_ENUM_VALUE",
        "LCF_ERROR_MISSED_PARAM_VALUE",
        "LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE",
    };
    for (int32_t code = 0; code < 11; ++code) {
        EXPECT_STREQ(lcf_error_text(code), names[code]) << code;
    }
    for (int32_t code : {11, -1, 100, INT32_MIN}) {
        EXPECT_STREQ(lcf_error_text(code), "No error description") << code;
    }
}

} // namespace

// Handles, value arrays and texts come from a static area until it is used up, then from the
// heap: either way each block is zero-filled or an exact copy, aligned as malloc's, apart from
// every other block, and given back without harm, in any order.
TEST(Memory, BlocksStayApartAcrossTheEndOfTheStaticArea) {
    std::vector<char*> texts;
    std::vector<int*> numbers;
    for (int i = 0; i < 400; ++i) {
        std::string text(size_t(i % 37), char('a' + i % 26));
        texts.push_back(lcf_copy_text(text.c_str()));
        ASSERT_NE(texts.back(), nullptr);
        auto* block = static_cast<int*>(lcf_allocate(size_t(1 + i % 5), sizeof(int)));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << i;
        for (int k = 0; k < 1 + i % 5; ++k) {
            EXPECT_EQ(block[k], 0) << i;
            block[k] = i;
        }
        numbers.push_back(block);
    }
    for (int i = 0; i < 400; ++i) {
        EXPECT_EQ(std::string(texts[size_t(i)]), std::string(size_t(i % 37), char('a' + i % 26)));
        for (int k = 0; k < 1 + i % 5; ++k) EXPECT_EQ(numbers[size_t(i)][k], i) << i;
    }
    for (int i = 399; i >= 0; i -= 2) lcf_release(texts[size_t(i)]);
    for (int i = 0; i < 400; i += 2) lcf_release(texts[size_t(i)]);
    for (int* block : numbers) lcf_release(block);
    lcf_release(nullptr);
}

// A value array too large for the static area is taken from the heap whole.
TEST(Memory, LargeTablesStillGetEveryEntry) {
    std::vector<parameter_descriptor> rows;
    for (int i = 0; i < 1000; ++i)
        rows.push_back(make_row(i, "P", 0, nullptr, LCF_TYPE_STRING, "x"));
    parser_handle* handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data());
    ASSERT_NE(handle, nullptr);
    lcf_apply_defaults(handle, 0);
    EXPECT_EQ(lcf_memory_exhausted(), 0);
    EXPECT_STREQ(lcf_get_string(handle, 999), "x");
    lcf_destroy(handle);
}
