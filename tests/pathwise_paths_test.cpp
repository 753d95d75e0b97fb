// End-to-end tests of the -p vocabulary: every path name run through the built pathwise with the
// default layout, the names that need an argument, and the split of a -p argument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/documented_paths.h"
#include "tests/run_program.h"

namespace {

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

TEST_F(PathwisePaths, OverLongPartsAreRefusedNotOverrun) {
    // A path argument too long for any path is refused rather than cut.
    const std::string long_argument(3000, 'a');
    run_result cut = run({"-p", "sample:" + long_argument});
    EXPECT_EQ(cut.out, "");
    EXPECT_EQ(cut.status, 9);

    // A path name too long for its buffer can match nothing.
    const std::string long_name = "profile-db" + std::string(3000, 'x');
    run_result unknown = run({"-p", long_name});
    EXPECT_EQ(unknown.status, 7);
    EXPECT_EQ(unknown.out, "");
}
