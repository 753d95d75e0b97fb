// End-to-end tests of the -p vocabulary: every path name run through the built pathwise with the
// default layout, the names that need an argument, and the split of a -p argument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/run_program.h"

namespace {

struct documented_path {
    const char* name;
    bool needs_argument;
    const char* path; // for a name that needs an argument, the path of the argument "x.eml"
};

// The default layout of every path name, written out by hand. filter-config is the default
// configuration file; a -c option moves it.
const documented_path documented_paths[] = {
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
    {"profile", true, "/usr/local/za-ravovidoda3/conf/src/profiles/x.eml"},
    {"hidden-profile", true, "/usr/local/za-ravovidoda3/conf/src/profiles/hidden/x.eml"},
    {"email-list", true, "/usr/local/za-ravovidoda3/conf/src/emails/x.eml"},
    {"ip-list", true, "/usr/local/za-ravovidoda3/conf/src/iplists/x.eml"},
    {"dns-list", true, "/usr/local/za-ravovidoda3/conf/src/dnsblacklists/x.eml"},
    {"sample", true, "/usr/local/za-ravovidoda3/conf/src/samples/x.eml"},
    {"regexp-list", true, "/usr/local/za-ravovidoda3/conf/src/regexps/x.eml"},
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

// The -p argument that asks for one documented path.
std::string request_of(const documented_path& one) {
    return std::string(one.name) + (one.needs_argument ? ":x.eml" : "");
}

// Runs pathwise on an empty configuration file of its own, so no installed file is read.
class PathwisePaths : public testing::Test {
  protected:
    run_result run(const std::vector<std::string>& requests) {
        std::vector<std::string> args = {"-c", conf};
        args.insert(args.end(), requests.begin(), requests.end());
        run_options options;
        options.directory = dir.root;
        return run_program(pathwise_program(), args, options);
    }
    // The path a documented name prints in these runs: the same, but for filter-config, which
    // names the configuration file that -c gave.
    std::string expected_path(const documented_path& one) const {
        return std::string(one.name) == "filter-config" ? conf : one.path;
    }
    scratch_dir dir;
    std::string conf = dir.write("empty.conf", "");
};

} // namespace

TEST_F(PathwisePaths, EveryPathNamePrintsItsDefaultPath) {
    ASSERT_EQ(sizeof documented_paths / sizeof documented_paths[0], 70u);
    for (const documented_path& one : documented_paths) {
        SCOPED_TRACE(one.name);
        run_result r = run({"-p", request_of(one)});
        EXPECT_EQ(r.out, expected_path(one) + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(PathwisePaths, AllPathNamesInOneRunAreLabelledInOrder) {
    std::vector<std::string> requests;
    std::string expected;
    for (const documented_path& one : documented_paths) {
        requests.push_back("-p");
        requests.push_back(request_of(one));
        expected += std::string(one.name) + ":" + expected_path(one) + "\n";
    }
    run_result r = run(requests);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(PathwisePaths, NamesThatNeedAnArgumentRefuseNoneAndAcceptAnEmptyOne) {
    int needing = 0;
    for (const documented_path& one : documented_paths) {
        if (!one.needs_argument) continue;
        SCOPED_TRACE(one.name);
        ++needing;
        run_result refused = run({"-p", one.name});
        EXPECT_EQ(refused.status, 8);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err,
                  "ERR:Parameter for path name (" + std::string(one.name) + ") wasn't specified\n");

        // An empty argument counts: the directory with a trailing "/".
        std::string directory(one.path);
        directory.resize(directory.size() - std::string("x.eml").size());
        run_result empty = run({"-p", std::string(one.name) + ":"});
        EXPECT_EQ(empty.out, directory + "\n");
        EXPECT_EQ(empty.err, "");
        EXPECT_EQ(empty.status, 0);
    }
    EXPECT_EQ(needing, 7);
}

TEST_F(PathwisePaths, ArgumentSplitAndUnknownNames) {
    const std::string src = "/usr/local/za-ravovidoda3/conf/src";
    const struct {
        const char* request;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"profile:a:b", 0, src + "/profiles/a:b\n", ""},
        {"sample:../x/y z", 0, src + "/samples/../x/y z\n", ""},
        {"profile-db:ignored", 0, "/usr/local/za-ravovidoda3/conf/data/zediviz.pdb\n", ""},
        {"Profile-DB", 7, "", "ERR:Specified path name (Profile-DB) doesn't exist\n"},
        {"nosuch:abc", 7, "", "ERR:Specified path name (nosuch:abc) doesn't exist\n"},
        {":x.eml", 7, "", "ERR:Specified path name (:x.eml) doesn't exist\n"},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.request);
        run_result r = run({"-p", one.request});
        EXPECT_EQ(r.status, one.status);
        EXPECT_EQ(r.out, one.out);
        EXPECT_EQ(r.err, one.err);
    }
}

TEST_F(PathwisePaths, OverLongPartsAreCutNotOverrun) {
    // A path argument keeps its first 1023 characters.
    const std::string long_argument(3000, 'a');
    run_result cut = run({"-p", "sample:" + long_argument});
    EXPECT_EQ(cut.out,
              "/usr/local/za-ravovidoda3/conf/src/samples/" + std::string(1023, 'a') + "\n");
    EXPECT_EQ(cut.status, 0);

    // A path name too long for its buffer can match nothing.
    const std::string long_name = "profile-db" + std::string(3000, 'x');
    run_result unknown = run({"-p", long_name});
    EXPECT_EQ(unknown.status, 7);
    EXPECT_EQ(unknown.out, "");
}
