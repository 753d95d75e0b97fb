#include "pathwise/path_names.h"

#include "pathstore/pathstore.h"
#include "pathwise/result_codes.h"
#include "tests/documented_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Puts the path store back to the default layout (it is process-wide and has no reset).
void restore_default_layout() {
    set_install_root("/usr/local/za-ravovidoda3");
    set_config_file("/usr/local/za-ravovidoda3/etc/filter.conf");
    set_tmp_subdir_name("~0000");
}

class PathNames : public testing::Test {
  protected:
    void SetUp() override { restore_default_layout(); }
    void TearDown() override { restore_default_layout(); }
};

struct printed {
    int code;
    std::string out;
};

// Runs print_path and collects what it wrote to standard output.
printed print(const char* name, const char* argument, int labelled = 0) {
    testing::internal::CaptureStdout();
    int code = print_path(name, argument, labelled);
    fflush(stdout);
    return {code, testing::internal::GetCapturedStdout()};
}

} // namespace

TEST(PathArgumentSplit, OnlyTheFirstColonSplits) {
    const struct {
        const char* argument;
        const char* name;
        const char* path_argument; // null: none
    } cases[] = {
        {"profile-db", "profile-db", nullptr},
        {"sample:x.eml", "sample", "x.eml"},
        {"sample:", "sample", ""},
        {"profile:a:b", "profile", "a:b"},
        {":x", "", "x"},
        {":", "", ""},
        {"", "", nullptr},
        {"sample::", "sample", ":"},
        {"a b:c d", "a b", "c d"},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.argument);
        EXPECT_STREQ(path_name_of(one.argument), one.name);
        const char* path_argument = path_argument_of(one.argument);
        if (one.path_argument == nullptr) {
            EXPECT_EQ(path_argument, nullptr);
        } else {
            ASSERT_NE(path_argument, nullptr);
            EXPECT_STREQ(path_argument, one.path_argument);
        }
    }
    EXPECT_STREQ(path_name_of(nullptr), "");
    EXPECT_EQ(path_argument_of(nullptr), nullptr);
}

TEST(PathArgumentSplit, PartsAreCutToTheirBuffersAndBuffersReused) {
    const std::string long_name(3000, 'n');
    const std::string long_argument(3000, 'a');
    EXPECT_EQ(std::string(path_name_of(long_name.c_str())), std::string(1023, 'n'));
    EXPECT_EQ(std::string(path_name_of((long_name + ":x").c_str())), std::string(1023, 'n'));
    const std::string both = "sample:" + long_argument;
    EXPECT_EQ(std::string(path_argument_of(both.c_str())), std::string(1151, 'a'));
    EXPECT_EQ(std::string(path_argument_of((std::string(1023, 'b') + ":c").c_str())), "c");
    // Exactly 1151 fits whole.
    EXPECT_EQ(std::string(path_argument_of(("x:" + std::string(1151, 'z')).c_str())),
              std::string(1151, 'z'));

    const char* first = path_name_of("profile-db");
    const char* second = path_name_of("sample:x");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "sample");
    // A part split from its own buffer comes back unchanged.
    EXPECT_STREQ(path_name_of(path_name_of("list-db:y")), "list-db");
}

TEST_F(PathNames, EveryRowMatchesTheDocumentedVocabulary) {
    ASSERT_EQ(sizeof documented_paths / sizeof documented_paths[0], size_t{PATH_NAME_COUNT});
    for (const documented_path& expected : documented_paths) {
        SCOPED_TRACE(expected.name);
        const path_name_row* row = find_path_name(expected.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(path_needs_argument(*row), expected.needs_argument);
        // Exactly the accessor its flag calls for.
        EXPECT_EQ(row->plain == nullptr, expected.needs_argument);
        EXPECT_EQ(row->with_argument == nullptr, !expected.needs_argument);
        const char* path = nullptr;
        EXPECT_EQ(resolve_path(expected.name, expected.needs_argument ? "x.eml" : nullptr, &path),
                  PW_OK);
        EXPECT_STREQ(path, expected.path);
    }
    // And no row beyond the documented ones.
    for (const path_name_row& row : path_name_rows) {
        bool documented = false;
        for (const documented_path& expected : documented_paths) {
            documented = documented || std::string(expected.name) == row.name;
        }
        EXPECT_TRUE(documented) << row.name;
    }
}

TEST_F(PathNames, PrintPathCodesAndOutput) {
    const std::string long_name(1023, 'p');
    // With the default source directory, 1106 characters fill a profile's path exactly.
    const std::string fills(1106, 'f');
    const std::string overflows(1107, 'o');
    const struct {
        const char* name;
        const char* path_argument;
        int labelled;
        int code;
        const char* out;
    } cases[] = {
        {"profile-db", nullptr, 0, PW_OK, "/usr/local/za-ravovidoda3/conf/data/zediviz.pdb\n"},
        {"profile-db", "anything", 0, PW_OK, "/usr/local/za-ravovidoda3/conf/data/zediviz.pdb\n"},
        {"config-bin-root", nullptr, 0, PW_OK, "/usr/local/za-ravovidoda3/conf/data\n"},
        {"sample", "x.eml", 0, PW_OK, "/usr/local/za-ravovidoda3/conf/src/samples/x.eml\n"},
        {"sample", "x.eml", 1, PW_OK, "sample:/usr/local/za-ravovidoda3/conf/src/samples/x.eml\n"},
        {"main-root", nullptr, 1, PW_OK, "main-root:/usr/local/za-ravovidoda3\n"},
        {"hidden-profile", "p1", 0, PW_OK,
         "/usr/local/za-ravovidoda3/conf/src/profiles/hidden/p1\n"},
        {"sample", "", 0, PW_OK, "/usr/local/za-ravovidoda3/conf/src/samples/\n"},
        {"profile", "a:b", 0, PW_OK, "/usr/local/za-ravovidoda3/conf/src/profiles/a:b\n"},
        {"ip-list", "../../x", 0, PW_OK, "/usr/local/za-ravovidoda3/conf/src/iplists/../../x\n"},
        {"sample", nullptr, 0, PW_ERR_NO_PATH_ARGUMENT, ""},
        {"regexp-list", nullptr, 1, PW_ERR_NO_PATH_ARGUMENT, ""},
        {"Profile-DB", nullptr, 0, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {"nosuch", "abc", 1, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {"profile-db ", nullptr, 0, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {"profile-d", nullptr, 0, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {"", nullptr, 0, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {"", "x", 0, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {nullptr, nullptr, 0, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {long_name.c_str(), "x", 0, PW_ERR_UNKNOWN_PATH_NAME, ""},
        {"profile", overflows.c_str(), 1, PW_ERR_PATH_TOO_LONG, ""},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(testing::Message() << (one.name ? one.name : "(null)") << " / "
                                        << (one.path_argument ? one.path_argument : "(none)"));
        printed result = print(one.name, one.path_argument, one.labelled);
        EXPECT_EQ(result.code, one.code);
        EXPECT_EQ(result.out, one.out);
    }
    printed full = print("profile", fills.c_str());
    EXPECT_EQ(full.code, PW_OK);
    EXPECT_EQ(full.out, "/usr/local/za-ravovidoda3/conf/src/profiles/" + fills + "\n");
    EXPECT_EQ(full.out.size(), 1151u);
}

TEST_F(PathNames, PathsFollowTheMovedDirectories) {
    // A moved bin directory carries the programs but not the filter daemon, whose directory only
    // the root moves.
    set_bin_dir("/opt/mf/bin");
    EXPECT_EQ(print("compiler", nullptr).out, "/opt/mf/bin/trellan\n");
    EXPECT_EQ(print("usersdb-compiler", nullptr).out, "/opt/mf/bin/ostrevel\n");
    EXPECT_EQ(print("filter", nullptr).out, "/usr/local/za-ravovidoda3/bin/vastrel\n");

    set_install_root("/opt/mf");
    set_conf_tmp_dir("/t");
    set_tmp_subdir_name("~0042");
    EXPECT_EQ(print("filter", nullptr).out, "/opt/mf/bin/vastrel\n");
    EXPECT_EQ(print("profile-db", nullptr, 1).out, "profile-db:/opt/mf/conf/data/zediviz.pdb\n");
    EXPECT_EQ(print("config-tmp-subdir-emails", nullptr).out, "/t/~0042/emails\n");
    EXPECT_EQ(print("path-log", nullptr).out, "/opt/mf/log\n");
}
