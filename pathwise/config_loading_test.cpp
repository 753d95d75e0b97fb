// Unit tests of configuration loading. The path store and the reader are process-wide, so each
// case that loads a file runs in a child process of its own (EXPECT_EXIT).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "params/lcf.h"
#include "pathstore/pathstore.h"
#include "pathwise/config_loading.h"

namespace {

// Writes text to a fresh temporary file and returns its path.
std::string temp_file(const std::string& text) {
    char name[] = "/tmp/vt-config-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) {
        if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) name[0] = 0;
        close(fd);
    }
    return name;
}

// Loads file through "-c" with the built-in table; returns the result bits.
int load(const std::string& file, parser_handle** out = nullptr) {
    static parameter_descriptor table[BUILTIN_DESCRIPTOR_COUNT];
    for (uint32_t i = 0; i < BUILTIN_DESCRIPTOR_COUNT; ++i) table[i] = builtin_descriptors[i];
    parser_handle* handle = lcf_create(BUILTIN_DESCRIPTOR_COUNT, table);
    std::string program = "pathwise", dash_c = "-c", path = file;
    char* argv[] = {program.data(), dash_c.data(), path.data(), nullptr};
    int result = load_configuration(handle, 3, argv);
    if (out != nullptr) *out = handle;
    return result;
}

TEST(BuiltinDescriptors, MatchTheDocumentedRows) {
    const char* names[] = {"RootPath",
                           "BinRootPath",
                           "CCRootPath",
                           "FilterControlBinPath",
                           "FilterConfigPath",
                           "FilterDataConfigPath",
                           "FilterSrcConfigPath",
                           "FilterTmpConfigPath",
                           "FilterDefConfigPath",
                           "FilterCFDataRootPath",
                           "FilterCFDataMainsetPath"};
    EXPECT_EQ(builtin_descriptors[0].id, 20002);
    EXPECT_EQ(builtin_descriptors[0].short_name, 'c');
    EXPECT_STREQ(builtin_descriptors[0].long_name, "config-file");
    EXPECT_STREQ(builtin_descriptors[1].long_name, "print-version");
    EXPECT_STREQ(builtin_descriptors[2].long_name, "help");
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(builtin_descriptors[i].id, 20000);
        EXPECT_EQ(builtin_descriptors[i].type, LCF_TYPE_BOOL);
    }
    for (int i = 0; i < 11; ++i) {
        const parameter_descriptor& row = builtin_descriptors[3 + i];
        EXPECT_EQ(row.id, 20008 + i);
        EXPECT_STREQ(row.name, names[i]);
        EXPECT_EQ(row.type, LCF_TYPE_STRING);
        EXPECT_EQ(row.short_name, 0);
        EXPECT_EQ(row.long_name, nullptr);
    }
    for (const parameter_descriptor& row : builtin_descriptors) {
        EXPECT_EQ(row.flags, 0u);
        EXPECT_EQ(row.default_value, nullptr);
    }
}

TEST(ConfigurationLoading, ARefusedRootPathStillAppliesTheRootsReadBeforeIt) {
    std::string file = temp_file("RootPath /r\nFilterConfigPath /two words\nBinRootPath /b\n");
    auto check = [&file] {
        int bits = load(file);
        bool ok = (bits & LOAD_FILE_OK) == 0 && std::string(get_install_root()) == "/r" &&
                  std::string(get_conf_dir()) == "/r/conf" &&
                  std::string(trellan_path()) == "/r/bin/trellan";
        exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
    unlink(file.c_str());
}

TEST(ConfigurationLoading, AGoodFileSetsBothBitsAndTheStoredFileName) {
    std::string file = temp_file("RootPath /r\nFilterSrcConfigPath /src\n");
    auto check = [&file] {
        parser_handle* handle = nullptr;
        int bits = load(file, &handle);
        bool ok = bits == (LOAD_FILE_OK | LOAD_ARGS_OK) && std::string(get_config_file()) == file &&
                  std::string(get_conf_src_dir()) == "/src" &&
                  std::string(get_conf_data_dir()) == "/r/conf/data" &&
                  lcf_get_int(handle, PARAM_LOG_LEVEL_ID) == -1;
        exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
    unlink(file.c_str());
}

TEST(ConfigurationLoading, StrictLoadingWantsBothBits) {
    std::string file = temp_file("");
    auto check = [&file] {
        static parameter_descriptor table[BUILTIN_DESCRIPTOR_COUNT];
        for (uint32_t i = 0; i < BUILTIN_DESCRIPTOR_COUNT; ++i) table[i] = builtin_descriptors[i];
        std::string program = "pathwise", dash_c = "-c", path = file, extra = "-p";
        char* good[] = {program.data(), dash_c.data(), path.data(), nullptr};
        char* stopped[] = {program.data(), dash_c.data(), path.data(), extra.data(), nullptr};
        parser_handle* handles[2] = {lcf_create(BUILTIN_DESCRIPTOR_COUNT, table),
                                     lcf_create(BUILTIN_DESCRIPTOR_COUNT, table)};
        int first = load_configuration_strict(handles[0], 3, good);
        int second = load_configuration_strict(handles[1], 4, stopped);
        lcf_destroy(handles[0]);
        lcf_destroy(handles[1]);
        exit(first == 0 && second == -1 ? 0 : 1);
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
    unlink(file.c_str());
}

TEST(ConfiguredFacility, NamesMapToTheirCodesWithoutRegardToCase) {
    parameter_descriptor table[] = {{PARAM_FACILITY_ID, "Facility", 0, nullptr, LCF_TYPE_STRING, 0,
                                     nullptr, nullptr, nullptr, 0, nullptr, nullptr}};
    const struct {
        const char* text;
        int code;
    } rows[] = {{"auth", 32},     {"AUTHPRIV", 80}, {"console", 16}, {"Cron", 72},  {"daemon", 24},
                {"ftp", 88},      {"kern", 0},      {"lpr", 48},     {"mail", 16},  {"news", 56},
                {"security", 16}, {"syslog", 40},   {"user", 8},     {"uucp", 64},  {"local0", 128},
                {"local3", 152},  {"LOCAL7", 184},  {"nosuch", 16},  {"local8", 16}};
    for (const auto& row : rows) {
        parser_handle* handle = lcf_create(1, table);
        std::string line = std::string("Facility ") + row.text + "\n";
        ASSERT_EQ(lcf_parse_buffer(handle, line.data(), line.size()), 0);
        EXPECT_EQ(configured_facility(handle), row.code) << row.text;
        lcf_destroy(handle);
    }
    parser_handle* empty = lcf_create(1, table);
    EXPECT_EQ(configured_facility(empty), 16);
    lcf_destroy(empty);
    EXPECT_EQ(configured_facility(nullptr), 16);
}

} // namespace
