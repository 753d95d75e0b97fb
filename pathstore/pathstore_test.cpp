// The store is process-wide and cannot be reset, so every test below starts from the default
// layout put back through the setters (set_install_root restores 18 values, the other two are set
// directly), and the tests of the very first call run in a freshly started process.
#include "pathstore/pathstore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string ROOT = "/usr/local/za-ravovidoda3";

// Puts all 20 values back to their defaults.
void restore_defaults() {
    set_install_root(ROOT.c_str());
    set_config_file((ROOT + "/etc/filter.conf").c_str());
    set_tmp_subdir_name("~0000");
}

using layout = std::map<std::string, std::string>;

// What the store shows of all 20 values: the 14 getters, and for each of the six values without
// a getter one composed path that starts with it.
layout snapshot() {
    return {
        {"install_root", get_install_root()},
        {"config_file", get_config_file()},
        {"control_dir", get_control_dir()},
        {"control_bin_dir", get_control_bin_dir()},
        {"control_tmp_dir", get_control_tmp_dir()},
        {"conf_dir", get_conf_dir()},
        {"conf_src_dir", get_conf_src_dir()},
        {"conf_data_dir", get_conf_data_dir()},
        {"conf_def_dir", get_conf_def_dir()},
        {"conf_tmp_dir", get_conf_tmp_dir()},
        {"conf_prepare_dir", get_conf_prepare_dir()},
        {"conf_backup_dir", get_conf_backup_dir()},
        {"cfdata_dir", get_cfdata_dir()},
        {"cfdata_mainset_dir", get_cfdata_mainset_dir()},
        {"bin_dir/trellan", trellan_path()},
        {"run_dir/dunmere.pid", process_server_pid_path()},
        {"filter_bin_dir/vastrel", filter_daemon_path()},
        {"etc_dir/updrift.conf", updrift_conf_path()},
        {"conf_tmp_dir/tmp_subdir_name", tmp_subdir_path()},
        {"cfdata_bases_dir/CFData/black.lst", black_list_path()},
    };
}

// The layout that set_install_root(root) gives, with config_file and the working subdirectory
// name at their defaults.
layout layout_under(const std::string& root) {
    return {
        {"install_root", root},
        {"config_file", ROOT + "/etc/filter.conf"},
        {"control_dir", root + "/control"},
        {"control_bin_dir", root + "/control/bin"},
        {"control_tmp_dir", root + "/control/tmp"},
        {"conf_dir", root + "/conf"},
        {"conf_src_dir", root + "/conf/src"},
        {"conf_data_dir", root + "/conf/data"},
        {"conf_def_dir", root + "/conf/def"},
        {"conf_tmp_dir", root + "/conf/tmp"},
        {"conf_prepare_dir", root + "/conf/prepare"},
        {"conf_backup_dir", root + "/conf/backup"},
        {"cfdata_dir", root + "/cfdata"},
        {"cfdata_mainset_dir", root + "/cfdata/mainset"},
        {"bin_dir/trellan", root + "/bin/trellan"},
        {"run_dir/dunmere.pid", root + "/run/dunmere.pid"},
        {"filter_bin_dir/vastrel", root + "/bin/vastrel"},
        {"etc_dir/updrift.conf", root + "/etc/updrift.conf"},
        {"conf_tmp_dir/tmp_subdir_name", root + "/conf/tmp/~0000"},
        {"cfdata_bases_dir/CFData/black.lst", root + "/cfdata/bases/CFData/black.lst"},
    };
}

// Sets the six values below the conf directory in the expected layout to conf + their names.
void put_conf_children(layout& expected, const std::string& conf) {
    expected["conf_src_dir"] = conf + "/src";
    expected["conf_def_dir"] = conf + "/def";
    expected["conf_data_dir"] = conf + "/data";
    expected["conf_tmp_dir"] = conf + "/tmp";
    expected["conf_prepare_dir"] = conf + "/prepare";
    expected["conf_backup_dir"] = conf + "/backup";
    expected["conf_tmp_dir/tmp_subdir_name"] = conf + "/tmp/~0000";
}

class PathStore : public testing::Test {
  protected:
    void SetUp() override { restore_defaults(); }
};

// In a freshly started process: ends the process with status 0 when every got equals its want,
// else reports the differences on standard error and ends with status 1.
[[noreturn]] void exit_on_match(const std::vector<std::pair<std::string, std::string>>& checks) {
    int mismatches = 0;
    for (const auto& [got, want] : checks) {
        if (got == want) continue;
        fprintf(stderr, "got  %s\nwant %s\n", got.c_str(), want.c_str());
        ++mismatches;
    }
    fflush(stderr);
    _exit(mismatches == 0 ? 0 : 1);
}

} // namespace

// The "threadsafe" style starts each child afresh from the executable, so the store in the child
// has never been touched when the statement runs, whatever ran before in this process.
TEST(PathStoreFirstCall, LoadsTheDefaultsWhicheverAccessorComesFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit_on_match({
                    {black_list_path(), ROOT + "/cfdata/bases/CFData/black.lst"},
                    {tmp_profiles_xml_path(), ROOT + "/conf/tmp/~0000/profiles.xml"},
                }),
                testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exit_on_match({{src_sample_path("x.eml"), ROOT + "/conf/src/samples/x.eml"}}),
                testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exit_on_match({{milter_socket_address(), "local:/var/run/vor-milter.socket"},
                               {get_cfdata_mainset_dir(), ROOT + "/cfdata/mainset"}}),
                testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exit_on_match({{get_conf_def_dir(), ROOT + "/conf/def"}}),
                testing::ExitedWithCode(0), "");
    // A setter that comes first replaces its values on top of the defaults, which a later read
    // must not bring back.
    EXPECT_EXIT(
        {
            set_conf_dir("/cf");
            exit_on_match({{get_conf_src_dir(), "/cf/src"},
                           {get_install_root(), ROOT},
                           {get_control_dir(), ROOT + "/control"},
                           {tmp_subdir_path(), "/cf/tmp/~0000"}});
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            set_tmp_subdir_name("~0001");
            exit_on_match({{tmp_subdir_path(), ROOT + "/conf/tmp/~0001"}});
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(PathStore, DefaultLayout) {
    layout expected = {
        {"install_root", "/usr/local/za-ravovidoda3"},
        {"config_file", "/usr/local/za-ravovidoda3/etc/filter.conf"},
        {"control_dir", "/usr/local/za-ravovidoda3/control"},
        {"control_bin_dir", "/usr/local/za-ravovidoda3/control/bin"},
        {"control_tmp_dir", "/usr/local/za-ravovidoda3/control/tmp"},
        {"conf_dir", "/usr/local/za-ravovidoda3/conf"},
        {"conf_src_dir", "/usr/local/za-ravovidoda3/conf/src"},
        {"conf_data_dir", "/usr/local/za-ravovidoda3/conf/data"},
        {"conf_def_dir", "/usr/local/za-ravovidoda3/conf/def"},
        {"conf_tmp_dir", "/usr/local/za-ravovidoda3/conf/tmp"},
        {"conf_prepare_dir", "/usr/local/za-ravovidoda3/conf/prepare"},
        {"conf_backup_dir", "/usr/local/za-ravovidoda3/conf/backup"},
        {"cfdata_dir", "/usr/local/za-ravovidoda3/cfdata"},
        {"cfdata_mainset_dir", "/usr/local/za-ravovidoda3/cfdata/mainset"},
        {"bin_dir/trellan", "/usr/local/za-ravovidoda3/bin/trellan"},
        {"run_dir/dunmere.pid", "/usr/local/za-ravovidoda3/run/dunmere.pid"},
        {"filter_bin_dir/vastrel", "/usr/local/za-ravovidoda3/bin/vastrel"},
        {"etc_dir/updrift.conf", "/usr/local/za-ravovidoda3/etc/updrift.conf"},
        {"conf_tmp_dir/tmp_subdir_name", "/usr/local/za-ravovidoda3/conf/tmp/~0000"},
        {"cfdata_bases_dir/CFData/black.lst",
         "/usr/local/za-ravovidoda3/cfdata/bases/CFData/black.lst"},
    };
    EXPECT_EQ(snapshot(), expected);
}

TEST_F(PathStore, InstallRootMovesEighteenValuesButNotConfigFileOrSubdirName) {
    EXPECT_EQ(set_install_root("/opt/x"), 0);
    EXPECT_EQ(snapshot(), layout_under("/opt/x"));
    EXPECT_STREQ(filter_daemon_path(), "/opt/x/bin/vastrel");
    EXPECT_STREQ(get_config_file(), "/usr/local/za-ravovidoda3/etc/filter.conf");
    EXPECT_STREQ(tmp_subdir_path(), "/opt/x/conf/tmp/~0000");
    EXPECT_STREQ(compiler_log_path(), "/opt/x/control/tmp/compiler.log");
    EXPECT_STREQ(mainset_file_path(), "/opt/x/cfdata/mainset/mainset");
    EXPECT_STREQ(get_conf_def_dir(), "/opt/x/conf/def");
    EXPECT_STREQ(process_server_listen_address(), "unix:/opt/x/run/dunmere.socket");
}

// A child is not tied to its parent: setting a parent again overwrites what the child's own
// setter stored, and setting a child leaves the parent alone.
TEST_F(PathStore, CascadesAppliedAgainOverwriteChildrenInOrderOfCalls) {
    set_install_root("/opt/x");
    EXPECT_EQ(set_conf_dir("/cf"), 0);
    layout expected = layout_under("/opt/x");
    expected["conf_dir"] = "/cf";
    put_conf_children(expected, "/cf");
    EXPECT_EQ(snapshot(), expected);

    set_conf_src_dir("/own/src");
    set_control_bin_dir("/own/cbin");
    expected["conf_src_dir"] = "/own/src";
    expected["control_bin_dir"] = "/own/cbin";
    EXPECT_EQ(snapshot(), expected);

    set_install_root("/opt/x");
    EXPECT_EQ(snapshot(), layout_under("/opt/x"));
}

TEST_F(PathStore, SettersBelowTheRootCascadeOnlyDownward) {
    EXPECT_EQ(set_control_dir("/c"), 0);
    EXPECT_EQ(set_cfdata_dir("/d"), 0);
    set_etc_dir("/e");
    set_bin_dir("/b");
    layout expected = layout_under(ROOT);
    expected["control_dir"] = "/c";
    expected["control_bin_dir"] = "/c/bin";
    expected["control_tmp_dir"] = "/c/tmp";
    expected["cfdata_dir"] = "/d";
    expected["cfdata_mainset_dir"] = "/d/mainset";
    expected["cfdata_bases_dir/CFData/black.lst"] = "/d/bases/CFData/black.lst";
    expected["etc_dir/updrift.conf"] = "/e/updrift.conf"; // config_file stays where it was
    expected["bin_dir/trellan"] = "/b/trellan";           // filter_bin_dir is a value of its own
    EXPECT_EQ(snapshot(), expected);
    EXPECT_STREQ(vor_thttpd_conf_path(), "/e/vor-thttpd.conf");
    EXPECT_STREQ(ruskel_path(), "/c/bin/ruskel");
    EXPECT_STREQ(cfg_api_lock_path(), "/c/tmp/lock_cfg_api.lck");
}

TEST_F(PathStore, EveryLeafSetterReturnsZeroAndChangesOnlyItsValue) {
    struct leaf {
        int (*set)(const char*);
        const char* key;
        const char* shown; // what the snapshot shows after setting "/new"
    };
    const leaf leaves[] = {
        {set_bin_dir, "bin_dir/trellan", "/new/trellan"},
        {set_run_dir, "run_dir/dunmere.pid", "/new/dunmere.pid"},
        {set_filter_bin_dir, "filter_bin_dir/vastrel", "/new/vastrel"},
        {set_etc_dir, "etc_dir/updrift.conf", "/new/updrift.conf"},
        {set_config_file, "config_file", "/new"},
        {set_control_bin_dir, "control_bin_dir", "/new"},
        {set_control_tmp_dir, "control_tmp_dir", "/new"},
        {set_conf_src_dir, "conf_src_dir", "/new"},
        {set_conf_data_dir, "conf_data_dir", "/new"},
        {set_conf_def_dir, "conf_def_dir", "/new"},
        {set_conf_tmp_dir, "conf_tmp_dir", "/new"},
        {set_conf_prepare_dir, "conf_prepare_dir", "/new"},
        {set_conf_backup_dir, "conf_backup_dir", "/new"},
        {set_tmp_subdir_name, "conf_tmp_dir/tmp_subdir_name",
         "/usr/local/za-ravovidoda3/conf/tmp//new"},
        {set_cfdata_mainset_dir, "cfdata_mainset_dir", "/new"},
        {set_cfdata_bases_dir, "cfdata_bases_dir/CFData/black.lst", "/new/CFData/black.lst"},
    };
    for (const leaf& one : leaves) {
        SCOPED_TRACE(one.key);
        restore_defaults();
        layout expected = snapshot();
        EXPECT_EQ(one.set("/new"), 0);
        expected[one.key] = one.shown;
        if (one.set == set_conf_tmp_dir) expected["conf_tmp_dir/tmp_subdir_name"] = "/new/~0000";
        EXPECT_EQ(snapshot(), expected);
    }
}

// Every stored value gets a short distinct text, so each composed path shows which value it reads
// (in the default layout bin_dir and filter_bin_dir, for one, cannot be told apart).
TEST_F(PathStore, EveryComposedPathReadsItsOwnValue) {
    set_install_root("/R");
    set_bin_dir("/B");
    set_run_dir("/RUN");
    set_filter_bin_dir("/F");
    set_etc_dir("/E");
    set_control_bin_dir("/CB");
    set_control_tmp_dir("/CT");
    set_conf_dir("/C");
    set_conf_src_dir("/S");
    set_conf_data_dir("/D");
    set_conf_tmp_dir("/T");
    set_conf_prepare_dir("/P");
    set_tmp_subdir_name("w");
    set_cfdata_mainset_dir("/M");
    set_cfdata_bases_dir("/BA");
    struct row {
        const char* accessor;
        const char* (*path)();
        const char* expected;
    };
    const row rows[] = {
        {"trellan_path", trellan_path, "/B/trellan"},
        {"quessel_path", quessel_path, "/B/quessel"},
        {"compiler_script_path", compiler_script_path, "/B/quessel"},
        {"orlenta_path", orlenta_path, "/B/orlenta"},
        {"brannoch_path", brannoch_path, "/B/brannoch"},
        {"halvick_path", halvick_path, "/B/halvick"},
        {"halvick_sh_path", halvick_sh_path, "/B/halvick.sh"},
        {"fennolt_path", fennolt_path, "/B/fennolt"},
        {"sorvane_path", sorvane_path, "/B/sorvane"},
        {"updrift_path", updrift_path, "/B/updrift"},
        {"sumwell_path", sumwell_path, "/B/sumwell"},
        {"ostrevel_path", ostrevel_path, "/B/ostrevel"},
        {"vor_thttpd_path", vor_thttpd_path, "/B/vor-thttpd"},
        {"yarbeck_path", yarbeck_path, "/B/yarbeck"},
        {"quillon_path", quillon_path, "/B/quillon"},
        {"filter_daemon_path", filter_daemon_path, "/F/vastrel"},
        {"updrift_conf_path", updrift_conf_path, "/E/updrift.conf"},
        {"vor_thttpd_conf_path", vor_thttpd_conf_path, "/E/vor-thttpd.conf"},
        {"process_server_pid_path", process_server_pid_path, "/RUN/dunmere.pid"},
        {"spfd_pid_path", spfd_pid_path, "/RUN/ox-spfd.pid"},
        {"spfd_socket_path", spfd_socket_path, "/RUN/ox-spfd.socket"},
        {"milter_pid_path", milter_pid_path, "/RUN/vor-milter.pid"},
        {"thttpd_pid_path", thttpd_pid_path, "/RUN/vor-thttpd.pid"},
        {"process_server_listen_address", process_server_listen_address,
         "unix:/RUN/dunmere.socket"},
        {"milter_socket_address", milter_socket_address, "local:/var/run/vor-milter.socket"},
        {"ostlane_path", ostlane_path, "/CB/ostlane"},
        {"ruskel_path", ruskel_path, "/CB/ruskel"},
        {"compiler_log_path", compiler_log_path, "/CT/compiler.log"},
        {"cfg_api_lock_path", cfg_api_lock_path, "/CT/lock_cfg_api.lck"},
        {"protected_domains_path", protected_domains_path, "/C/protected_domains"},
        {"wex_map_path", wex_map_path, "/C/wex.cfg"},
        {"profile_db_path", profile_db_path, "/D/zediviz.pdb"},
        {"list_db_path", list_db_path, "/D/zediviz.ldb"},
        {"filter_cfg_path", filter_cfg_path, "/D/zediviz.cfg"},
        {"data_cfb_path", data_cfb_path, "/D/data.cfb"},
        {"data_gsg_path", data_gsg_path, "/D/data.gsg"},
        {"cfg_lock_path", cfg_lock_path, "/D/lock.cfg"},
        {"prepare_cfb_path", prepare_cfb_path, "/P/data.cfb"},
        {"prepare_gsg_path", prepare_gsg_path, "/P/data.gsg"},
        {"prepare_lock_path", prepare_lock_path, "/P/.lock"},
        {"catlist_path", catlist_path, "/M/catlist.xml"},
        {"mainset_file_path", mainset_file_path, "/M/mainset"},
        {"black_list_path", black_list_path, "/BA/CFData/black.lst"},
        {"log_dir_path", log_dir_path, "/R/log"},
        {"sfupdates_log_path", sfupdates_log_path, "/R/log/sfupdates.log"},
        {"src_profiles_xml_path", src_profiles_xml_path, "/S/profiles.xml"},
        {"src_emails_xml_path", src_emails_xml_path, "/S/emails.xml"},
        {"src_iplists_xml_path", src_iplists_xml_path, "/S/iplists.xml"},
        {"src_settings_xml_path", src_settings_xml_path, "/S/settings.xml"},
        {"src_dnsblacklists_xml_path", src_dnsblacklists_xml_path, "/S/dnsblacklists.xml"},
        {"src_regexps_xml_path", src_regexps_xml_path, "/S/regexps.xml"},
        {"src_samples_xml_path", src_samples_xml_path, "/S/samples.xml"},
        {"tmp_subdir_path", tmp_subdir_path, "/T/w"},
        {"tmp_samples_dir_path", tmp_samples_dir_path, "/T/w/samples"},
        {"tmp_profiles_dir_path", tmp_profiles_dir_path, "/T/w/profiles"},
        {"tmp_iplists_dir_path", tmp_iplists_dir_path, "/T/w/iplists"},
        {"tmp_emails_dir_path", tmp_emails_dir_path, "/T/w/emails"},
        {"tmp_dnsblacklists_dir_path", tmp_dnsblacklists_dir_path, "/T/w/dnsblacklists"},
        {"tmp_regexps_dir_path", tmp_regexps_dir_path, "/T/w/regexps"},
        {"tmp_profiles_xml_path", tmp_profiles_xml_path, "/T/w/profiles.xml"},
        {"tmp_emails_xml_path", tmp_emails_xml_path, "/T/w/emails.xml"},
        {"tmp_iplists_xml_path", tmp_iplists_xml_path, "/T/w/iplists.xml"},
        {"tmp_settings_xml_path", tmp_settings_xml_path, "/T/w/settings.xml"},
        {"tmp_dnsblacklists_xml_path", tmp_dnsblacklists_xml_path, "/T/w/dnsblacklists.xml"},
        {"tmp_regexps_xml_path", tmp_regexps_xml_path, "/T/w/regexps.xml"},
        {"tmp_samples_xml_path", tmp_samples_xml_path, "/T/w/samples.xml"},
    };
    for (const row& one : rows) EXPECT_STREQ(one.path(), one.expected) << one.accessor;

    struct named_row {
        const char* accessor;
        const char* (*path)(const char*);
        const char* expected;
    };
    const named_row named_rows[] = {
        {"src_profile_path", src_profile_path, "/S/profiles/N"},
        {"src_hidden_profile_path", src_hidden_profile_path, "/S/profiles/hidden/N"},
        {"src_email_list_path", src_email_list_path, "/S/emails/N"},
        {"src_ip_list_path", src_ip_list_path, "/S/iplists/N"},
        {"src_dns_list_path", src_dns_list_path, "/S/dnsblacklists/N"},
        {"src_sample_path", src_sample_path, "/S/samples/N"},
        {"src_regexp_list_path", src_regexp_list_path, "/S/regexps/N"},
        {"tmp_profile_path", tmp_profile_path, "/T/w/profiles/N"},
        {"tmp_email_list_path", tmp_email_list_path, "/T/w/emails/N"},
        {"tmp_ip_list_path", tmp_ip_list_path, "/T/w/iplists/N"},
        {"tmp_dns_list_path", tmp_dns_list_path, "/T/w/dnsblacklists/N"},
        {"tmp_regexp_list_path", tmp_regexp_list_path, "/T/w/regexps/N"},
        {"tmp_sample_path", tmp_sample_path, "/T/w/samples/N"},
    };
    for (const named_row& one : named_rows)
        EXPECT_STREQ(one.path("N"), one.expected) << one.accessor;
}

TEST_F(PathStore, TextsAreJoinedUnchanged) {
    set_install_root("");
    EXPECT_EQ(snapshot(), layout_under(""));
    EXPECT_STREQ(get_conf_src_dir(), "/conf/src");

    set_install_root("/opt/x/");
    EXPECT_STREQ(trellan_path(), "/opt/x//bin/trellan");
    EXPECT_STREQ(get_conf_dir(), "/opt/x//conf");

    // The name argument passes through as given: parent steps, slashes, colons, blanks.
    restore_defaults();
    EXPECT_STREQ(src_profile_path("../../etc/passwd"),
                 "/usr/local/za-ravovidoda3/conf/src/profiles/../../etc/passwd");
    EXPECT_STREQ(tmp_sample_path("a:b c/d"),
                 "/usr/local/za-ravovidoda3/conf/tmp/~0000/samples/a:b c/d");
    EXPECT_STREQ(src_sample_path(""), "/usr/local/za-ravovidoda3/conf/src/samples/");
    // A name with a conversion in it is text, not a format.
    EXPECT_STREQ(src_ip_list_path("%s%n%d"), "/usr/local/za-ravovidoda3/conf/src/iplists/%s%n%d");
}

TEST_F(PathStore, ComposedResultsShareOneBufferGettersDoNot) {
    const char* first = trellan_path();
    const char* second = profile_db_path();
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "/usr/local/za-ravovidoda3/conf/data/zediviz.pdb");

    // A getter's pointer stays the value's buffer and shows later changes.
    const char* conf = get_conf_dir();
    set_conf_dir("/elsewhere");
    EXPECT_STREQ(conf, "/elsewhere");
    EXPECT_EQ(conf, get_conf_dir());

    EXPECT_STREQ(quessel_path(), "/usr/local/za-ravovidoda3/bin/quessel");
    std::string quessel = quessel_path();
    EXPECT_EQ(quessel, compiler_script_path());

    set_run_dir("/elsewhere/run");
    EXPECT_STREQ(milter_socket_address(), "local:/var/run/vor-milter.socket");
    EXPECT_STREQ(milter_pid_path(), "/elsewhere/run/vor-milter.pid");
}

TEST_F(PathStore, StoredValuesAreCutTo1023Characters) {
    const std::string long_text(1500, 'a');
    const std::string kept(1023, 'a');
    set_conf_src_dir(long_text.c_str());
    EXPECT_EQ(get_conf_src_dir(), kept);

    // A cascading setter forms the children from the value as stored (already cut), and each
    // child is cut again: root + "/bin" leaves nothing beyond the root's 1023 characters.
    set_install_root(long_text.c_str());
    EXPECT_EQ(get_install_root(), kept);
    EXPECT_EQ(get_conf_dir(), kept);
    EXPECT_EQ(get_conf_backup_dir(), kept);
    EXPECT_EQ(get_cfdata_mainset_dir(), kept);

    const std::string conf(1020, 'c');
    set_conf_dir(conf.c_str());
    EXPECT_EQ(get_conf_src_dir(), conf + "/sr");
    EXPECT_EQ(get_conf_data_dir(), conf + "/da");
    EXPECT_EQ(get_conf_backup_dir(), conf + "/ba");
    EXPECT_EQ(get_conf_def_dir(), conf + "/de");

    // Exactly 1023 is kept whole.
    set_config_file(kept.c_str());
    EXPECT_EQ(get_config_file(), kept);

    // Reading a cut value, or a path composed from one, is seen until it is cleared; a value
    // that fits, also one set over a cut one, is not.
    struct cut_case {
        const char* what;
        const char* (*read)();
        int cut;
    };
    set_cfdata_mainset_dir("/short");
    const cut_case cuts[] = {
        {"the cut root", get_install_root, 1},
        {"a cascaded child", get_cfdata_dir, 1},
        {"a path below the cut root", log_dir_path, 1},
        {"a child set since", get_cfdata_mainset_dir, 0},
        {"1023 characters", get_config_file, 0},
        {"the children of 1020", get_conf_src_dir, 1},
    };
    for (const cut_case& c : cuts) {
        pathstore_clear_cut();
        c.read();
        EXPECT_EQ(pathstore_cut_seen(), c.cut) << c.what;
        EXPECT_EQ(pathstore_cut_seen(), c.cut) << c.what << ", asked again";
    }
}

TEST_F(PathStore, ComposedPathsAreCutTo1150Characters) {
    const std::string dir(1023, 'd'); // with "/profiles/" that leaves 117 for the name
    set_conf_src_dir(dir.c_str());
    const struct {
        size_t name_length;
        size_t kept_length;
    } cases[] = {{116, 116}, {117, 117}, {118, 117}, {2000, 117}};
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name_length);
        const std::string name(one.name_length, 'n');
        pathstore_clear_cut();
        std::string path = src_profile_path(name.c_str());
        EXPECT_EQ(path, dir + "/profiles/" + std::string(one.kept_length, 'n'));
        EXPECT_EQ(pathstore_cut_seen(), one.name_length > one.kept_length ? 1 : 0);
    }

    // Two long stored values in one format: the cut falls inside the second.
    set_conf_tmp_dir(dir.c_str());
    set_tmp_subdir_name(std::string(1023, 's').c_str());
    std::string path = tmp_profiles_xml_path();
    EXPECT_EQ(path, dir + "/" + std::string(126, 's'));
    EXPECT_EQ(path.size(), 1150u);
}

// A setter or a name argument may be handed a buffer of the store itself.
TEST_F(PathStore, TextsTakenFromTheStoreItself) {
    set_conf_dir("/cf");
    set_conf_dir(get_conf_dir());
    EXPECT_STREQ(get_conf_dir(), "/cf");
    EXPECT_STREQ(get_conf_prepare_dir(), "/cf/prepare");

    set_conf_src_dir(profile_db_path());
    EXPECT_STREQ(get_conf_src_dir(), "/cf/data/zediviz.pdb");

    EXPECT_STREQ(src_email_list_path(wex_map_path()), "/cf/data/zediviz.pdb/emails//cf/wex.cfg");

    // The root is copied before its cascade reuses the shared buffer the text came from.
    set_install_root(log_dir_path());
    EXPECT_EQ(snapshot(), layout_under("/usr/local/za-ravovidoda3/log"));
}

TEST_F(PathStore, AbsentTextsReadAsEmpty) {
    EXPECT_EQ(set_conf_dir(nullptr), 0);
    EXPECT_STREQ(get_conf_dir(), "");
    EXPECT_STREQ(get_conf_src_dir(), "/src");
    EXPECT_STREQ(src_regexp_list_path(nullptr), "/src/regexps/");
    EXPECT_STREQ(tmp_regexp_list_path(nullptr), "/tmp/~0000/regexps/");
}
