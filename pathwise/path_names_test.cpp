#include "pathwise/path_names.h"

#include "pathstore/pathstore.h"
#include "pathwise/result_codes.h"

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

struct expected_row {
    const char* name;
    bool needs_argument;
    const char* path; // with the default layout; rows that need one get the argument "ARG"
};

// The documented vocabulary with the default layout, written out independently of the table.
const expected_row documented_rows[] = {
    {"main-root", false, "/usr/local/za-ravovidoda3"},
    {"filter-config", false, "/usr/local/za-ravovidoda3/etc/filter.conf"},
    {"config-root", false, "/usr/local/za-ravovidoda3/conf"},
    {"config-bin-root", false, "/usr/local/za-ravovidoda3/conf/data"},
    {"config-src-root", false, "/usr/local/za-ravovidoda3/conf/src"},
    {"config-tmp-root", false, "/usr/local/za-ravovidoda3/conf/tmp"},
    {"config-prepare-root", false, "/usr/local/za-ravovidoda3/conf/prepare"},
    {"config-backup-root", false, "/usr/local/za-ravovidoda3/conf/backup"},
    {"cfdata-root", false, "/usr/local/za-ravovidoda3/cfdata"},
    {"cfdata-mainset-root", false, "/usr/local/za-ravovidoda3/cfdata/mainset"},
    {"compiler", false, "/usr/local/za-ravovidoda3/bin/trellan"},
    {"quessel", false, "/usr/local/za-ravovidoda3/bin/quessel"},
    {"compiler-script", false, "/usr/local/za-ravovidoda3/bin/quessel"},
    {"brannoch", false, "/usr/local/za-ravovidoda3/bin/brannoch"},
    {"halvick", false, "/usr/local/za-ravovidoda3/bin/halvick"},
    {"halvick-sh", false, "/usr/local/za-ravovidoda3/bin/halvick.sh"},
    {"orlenta", false, "/usr/local/za-ravovidoda3/bin/orlenta"},
    {"sorvane", false, "/usr/local/za-ravovidoda3/bin/sorvane"},
    {"thttpd", false, "/usr/local/za-ravovidoda3/bin/vor-thttpd"},
    {"fennolt", false, "/usr/local/za-ravovidoda3/bin/fennolt"},
    {"updrift", false, "/usr/local/za-ravovidoda3/bin/updrift"},
    {"sumwell", false, "/usr/local/za-ravovidoda3/bin/sumwell"},
    {"usersdb-compiler", false, "/usr/local/za-ravovidoda3/bin/ostrevel"},
    {"filter", false, "/usr/local/za-ravovidoda3/bin/vastrel"},
    {"ruskel", false, "/usr/local/za-ravovidoda3/control/bin/ruskel"},
    {"process-server-pid", false, "/usr/local/za-ravovidoda3/run/dunmere.pid"},
    {"process-server-listen", false, "unix:/usr/local/za-ravovidoda3/run/dunmere.socket"},
    {"spfd-pid", false, "/usr/local/za-ravovidoda3/run/ox-spfd.pid"},
    {"spfd-socket", false, "/usr/local/za-ravovidoda3/run/ox-spfd.socket"},
    {"milter-pid", false, "/usr/local/za-ravovidoda3/run/vor-milter.pid"},
    {"httpd-pid", false, "/usr/local/za-ravovidoda3/run/vor-thttpd.pid"},
    {"updater-ini", false, "/usr/local/za-ravovidoda3/etc/updrift.conf"},
    {"thttpd-ini", false, "/usr/local/za-ravovidoda3/etc/vor-thttpd.conf"},
    {"protected-domains", false, "/usr/local/za-ravovidoda3/conf/protected_domains"},
    {"wex-map", false, "/usr/local/za-ravovidoda3/conf/wex.cfg"},
    {"name-wex", false, "/usr/local/za-ravovidoda3/conf/wex.cfg"},
    {"profile-db", false, "/usr/local/za-ravovidoda3/conf/data/zediviz.pdb"},
    {"list-db", false, "/usr/local/za-ravovidoda3/conf/data/zediviz.ldb"},
    {"config", false, "/usr/local/za-ravovidoda3/conf/data/zediviz.cfg"},
    {"name-cfilter", false, "/usr/local/za-ravovidoda3/conf/data/data.cfb"},
    {"name-gsg", false, "/usr/local/za-ravovidoda3/conf/data/data.gsg"},
    {"cfg-lock", false, "/usr/local/za-ravovidoda3/conf/data/lock.cfg"},
    {"name-lock", false, "/usr/local/za-ravovidoda3/conf/data/lock.cfg"},
    {"name-prepare-cfilter", false, "/usr/local/za-ravovidoda3/conf/prepare/data.cfb"},
    {"name-prepare-gsg", false, "/usr/local/za-ravovidoda3/conf/prepare/data.gsg"},
    {"prepare-lock", false, "/usr/local/za-ravovidoda3/conf/prepare/.lock"},
    {"catlist", false, "/usr/local/za-ravovidoda3/cfdata/mainset/catlist.xml"},
    {"profiles", false, "/usr/local/za-ravovidoda3/conf/src/profiles.xml"},
    {"emails", false, "/usr/local/za-ravovidoda3/conf/src/emails.xml"},
    {"iplists", false, "/usr/local/za-ravovidoda3/conf/src/iplists.xml"},
    {"dnslists", false, "/usr/local/za-ravovidoda3/conf/src/dnsblacklists.xml"},
    {"main", false, "/usr/local/za-ravovidoda3/conf/src/settings.xml"},
    {"samples", false, "/usr/local/za-ravovidoda3/conf/src/samples.xml"},
    {"regexps", false, "/usr/local/za-ravovidoda3/conf/src/regexps.xml"},
    {"profile", true, "/usr/local/za-ravovidoda3/conf/src/profiles/ARG"},
    {"hidden-profile", true, "/usr/local/za-ravovidoda3/conf/src/profiles/hidden/ARG"},
    {"email-list", true, "/usr/local/za-ravovidoda3/conf/src/emails/ARG"},
    {"ip-list", true, "/usr/local/za-ravovidoda3/conf/src/iplists/ARG"},
    {"dns-list", true, "/usr/local/za-ravovidoda3/conf/src/dnsblacklists/ARG"},
    {"sample", true, "/usr/local/za-ravovidoda3/conf/src/samples/ARG"},
    {"regexp-list", true, "/usr/local/za-ravovidoda3/conf/src/regexps/ARG"},
    {"config-tmp-subdir", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000"},
    {"config-tmp-subdir-samples", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/samples"},
    {"config-tmp-subdir-profiles", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/profiles"},
    {"config-tmp-subdir-iplists", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/iplists"},
    {"config-tmp-subdir-emails", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/emails"},
    {"config-tmp-subdir-dnsblacklists", false,
     "/usr/local/za-ravovidoda3/conf/tmp/~0000/dnsblacklists"},
    {"config-tmp-subdir-regexps", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/regexps"},
    {"path-log", false, "/usr/local/za-ravovidoda3/log"},
    {"path-log-sfupdates", false, "/usr/local/za-ravovidoda3/log/sfupdates.log"},
};

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

TEST(PathArgumentSplit, PartsAreCutTo1023CharactersAndBuffersReused) {
    const std::string long_name(3000, 'n');
    const std::string long_argument(3000, 'a');
    EXPECT_EQ(std::string(path_name_of(long_name.c_str())), std::string(1023, 'n'));
    EXPECT_EQ(std::string(path_name_of((long_name + ":x").c_str())), std::string(1023, 'n'));
    const std::string both = "sample:" + long_argument;
    EXPECT_EQ(std::string(path_argument_of(both.c_str())), std::string(1023, 'a'));
    EXPECT_EQ(std::string(path_argument_of((std::string(1023, 'b') + ":c").c_str())), "c");
    // Exactly 1023 fits whole.
    EXPECT_EQ(std::string(path_argument_of(("x:" + std::string(1023, 'z')).c_str())),
              std::string(1023, 'z'));

    const char* first = path_name_of("profile-db");
    const char* second = path_name_of("sample:x");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "sample");
    // A part split from its own buffer comes back unchanged.
    EXPECT_STREQ(path_name_of(path_name_of("list-db:y")), "list-db");
}

TEST_F(PathNames, EveryRowMatchesTheDocumentedVocabulary) {
    ASSERT_EQ(sizeof documented_rows / sizeof documented_rows[0], size_t{PATH_NAME_COUNT});
    for (const expected_row& expected : documented_rows) {
        SCOPED_TRACE(expected.name);
        const path_name_row* row = find_path_name(expected.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->needs_argument, expected.needs_argument);
        // Exactly the accessor its flag calls for.
        EXPECT_EQ(row->plain == nullptr, expected.needs_argument);
        EXPECT_EQ(row->with_argument == nullptr, !expected.needs_argument);
        const char* path = nullptr;
        EXPECT_EQ(resolve_path(expected.name, expected.needs_argument ? "ARG" : nullptr, &path),
                  PW_OK);
        EXPECT_STREQ(path, expected.path);
    }
    // And no row beyond the documented ones.
    for (const path_name_row& row : path_name_rows) {
        bool documented = false;
        for (const expected_row& expected : documented_rows) {
            documented = documented || std::string(expected.name) == row.name;
        }
        EXPECT_TRUE(documented) << row.name;
    }
}

TEST_F(PathNames, PrintPathCodesAndOutput) {
    const std::string long_name(1023, 'p');
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
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(testing::Message() << (one.name ? one.name : "(null)") << " / "
                                        << (one.path_argument ? one.path_argument : "(none)"));
        printed result = print(one.name, one.path_argument, one.labelled);
        EXPECT_EQ(result.code, one.code);
        EXPECT_EQ(result.out, one.out);
    }
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
