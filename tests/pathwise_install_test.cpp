// Installs the build into a scratch prefix and runs the installed programs there.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/run_program.h"

namespace {

// Runs a shell command line; the test needs the shell for the documented one-line commands.
run_result shell(const std::string& command) {
    return run_program("/bin/sh", {"-c", command});
}

// Installs the build tree into prefix as `cmake --install BUILD --prefix PREFIX` does, with the
// environment entries of env ("NAME=value") added. It runs a copy of the build's install script
// in scratch, whose manifest goes to scratch too: the build tree's install_manifest.txt is left
// as the last real installation wrote it.
run_result install_into(const scratch_dir& scratch, const std::string& prefix,
                        const run_options& options = {},
                        const std::vector<std::string>& env = {}) {
    const std::string build = VT_BUILD_DIR;
    const std::string manifest_write = "file(WRITE \"" + build + "/${CMAKE_INSTALL_MANIFEST}\"";
    std::string install_script = read_file(build + "/cmake_install.cmake");
    size_t at = install_script.find(manifest_write);
    if (at == std::string::npos) return {"", "no manifest line in cmake_install.cmake", -1};
    install_script.replace(at, manifest_write.size(),
                           "file(WRITE \"" + scratch.root + "/${CMAKE_INSTALL_MANIFEST}\"");
    std::string copy = scratch.write("cmake_install.cmake", install_script);
    std::vector<std::string> args = env;
    args.insert(args.end(), {VT_CMAKE_COMMAND, "-DCMAKE_INSTALL_PREFIX=" + prefix, "-P", copy});
    return run_program("/usr/bin/env", args, options);
}

// The installation root that pathwise's built-in layout describes.
const std::string builtin_root = "/usr/local/za-ravovidoda3";

class PathwiseInstall : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix = scratch.path("prefix");
        run_result r = install_into(scratch, prefix);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    std::string bin(const std::string& name) const { return prefix + "/bin/" + name; }

    scratch_dir scratch;
    std::string prefix;
};

TEST_F(PathwiseInstall, PutsEveryFileInItsPlaceUnchanged) {
    // The installed programs must be the stamped ones byte for byte: a rewrite breaks the trailer.
    EXPECT_TRUE(read_file(bin("pathwise")) == read_file(pathwise_program()));
    EXPECT_TRUE(read_file(bin("sumwell")) == read_file(sumwell_program()));
    struct stat info;
    ASSERT_EQ(stat(bin("pathwise").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);

    const std::string source = VT_SOURCE_DIR;
    struct file_case {
        const char* installed;
        const char* from;
    };
    const file_case files[] = {
        {"/share/man/man1/pathwise.1", "/man/pathwise.1"},
        {"/share/man/man1/sumwell.1", "/man/sumwell.1"},
        {"/share/man/man5/filter.conf.5", "/man/filter.conf.5"},
    };
    for (const file_case& f : files) {
        EXPECT_EQ(read_file(prefix + f.installed), read_file(source + f.from)) << f.installed;
    }

    // The completion is registered for the pathwise installed beside it.
    std::string completion = read_file(VT_COMPLETION_SCRIPT);
    const std::string registered = "'" + builtin_root + "/bin/pathwise'";
    size_t at = completion.find(registered);
    ASSERT_NE(at, std::string::npos);
    completion.replace(at, registered.size(), "'" + bin("pathwise") + "'");
    EXPECT_EQ(read_file(prefix + "/share/bash-completion/completions/pathwise"), completion);

    // The sample is rooted at the prefix: its RootPath line is live, and no default it shows
    // still names the built-in root.
    std::string conf = read_file(prefix + "/etc/filter.conf");
    EXPECT_NE(conf.find("\nRootPath " + prefix + "\n"), std::string::npos) << conf;
    EXPECT_EQ(conf.find(builtin_root), std::string::npos) << conf;
    // What was staged for the rewritten files went away.
    for (const char* staged :
         {"/etc/.filter.conf.staged", "/share/bash-completion/completions/.pathwise.staged"}) {
        EXPECT_NE(stat((prefix + staged).c_str(), &info), 0) << staged;
    }
}

TEST_F(PathwiseInstall, InstalledProgramsPassTheirSelfcheckAndAnswerInsideThePrefix) {
    // Under the installed configuration every answer lies inside the prefix, and pathwise names
    // the sumwell installed beside it.
    std::string conf = prefix + "/etc/filter.conf";
    run_result where =
        run_program(bin("pathwise"), {"-c", conf, "-p", "sumwell", "-p", "profile-db", "-p",
                                      "filter-config", "-p", "main-root"});
    EXPECT_EQ(where.status, 0) << where.err;
    EXPECT_EQ(where.out, "sumwell:" + bin("sumwell") + "\nprofile-db:" + prefix +
                             "/conf/data/zediviz.pdb\nfilter-config:" + conf +
                             "\nmain-root:" + prefix + "\n");

    // The installed sumwell starts (its self-check passes) and sums a file.
    std::string file = scratch.write("abc", "abc");
    run_result sum = run_program(bin("sumwell"), {file});
    EXPECT_EQ(sum.status, 0) << sum.err;
    EXPECT_EQ(sum.out, "900150983cd24fb0d6963f7d28e17f72 *" + file + "\n");

    // The documented hand check: sumwell -t 48 prints what the trailer records.
    run_result check = shell("\"" + bin("sumwell") + "\" -t 48 \"" + bin("pathwise") +
                             "\" | cut -c1-32; tail -c 33 \"" + bin("pathwise") + "\"");
    ASSERT_EQ(check.out.size(), 66u) << check.out << check.err;
    EXPECT_EQ(check.out.substr(0, 33), check.out.substr(33));
}

TEST_F(PathwiseInstall, KeepsAnExistingConfigurationOnReinstall) {
    std::string conf = prefix + "/etc/filter.conf";
    std::string sample = read_file(conf);
    FILE* file = fopen(conf.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs("RootPath /srv/live\n", file);
    fclose(file);

    run_result again = install_into(scratch, prefix);
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(read_file(conf), "RootPath /srv/live\n");
    EXPECT_EQ(read_file(conf + ".sample"), sample);
}

// Installs the build under the built-in root (into a DESTDIR) and under a relative prefix with a
// trailing slash: the first gets the sample as it is, the second is rooted at its full path.
TEST(PathwiseInstallRoots, BuiltinRootKeepsTheSampleAndOtherRootsAreMadeAbsolute) {
    scratch_dir scratch;
    run_result staged =
        install_into(scratch, builtin_root, {}, {"DESTDIR=" + scratch.path("stage")});
    ASSERT_EQ(staged.status, 0) << staged.out << staged.err;
    std::string stage_root = scratch.path("stage") + builtin_root;
    EXPECT_EQ(read_file(stage_root + "/etc/filter.conf"),
              read_file(std::string(VT_SOURCE_DIR) + "/examples/filter.conf"));
    EXPECT_EQ(read_file(stage_root + "/share/bash-completion/completions/pathwise"),
              read_file(VT_COMPLETION_SCRIPT));
    // The manifest (in scratch) lists what was installed, and nothing that was staged.
    std::string manifest = read_file(scratch.path("install_manifest.txt"));
    EXPECT_NE(manifest.find(builtin_root + "/bin/pathwise\n"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find(".staged"), std::string::npos) << manifest;

    run_options in_scratch;
    in_scratch.directory = scratch.root;
    run_result relative = install_into(scratch, "relative/./prefix/", in_scratch);
    ASSERT_EQ(relative.status, 0) << relative.out << relative.err;
    std::string root = scratch.path("relative/prefix");
    run_result where =
        run_program(root + "/bin/pathwise", {"-c", root + "/etc/filter.conf", "-p", "profile-db"});
    EXPECT_EQ(where.status, 0) << where.err;
    EXPECT_EQ(where.out, root + "/conf/data/zediviz.pdb\n");
}

// A prefix that the installed configuration cannot hold as its RootPath stops the installation
// before anything is copied, with a message that says why.
TEST(PathwiseInstallRoots, APrefixThatNoRootPathCanHoldInstallsNothing) {
    scratch_dir scratch;
    const std::string stage = scratch.path("stage");
    for (const std::string& prefix : {scratch.path("my prefix"), scratch.path("tab\there"),
                                      scratch.path("line\nend"), std::string("/")}) {
        run_result r = install_into(scratch, prefix, {}, {"DESTDIR=" + stage});
        EXPECT_NE(r.status, 0) << prefix;
        EXPECT_NE(r.err.find("Nothing was installed: pathwise could not answer inside the prefix"),
                  std::string::npos)
            << r.err;
        struct stat info;
        EXPECT_NE(stat(stage.c_str(), &info), 0) << prefix;
        EXPECT_EQ(read_file(scratch.path("install_manifest.txt")), "") << prefix;
    }
}

// The README's first command, in a fresh copy of the source tree, builds everything that
// `cmake --install` copies; the installation writes its manifest, and the README's uninstall
// command removes every file but the configuration. Without the completion the installation
// stops before it copies anything and names the step that builds it.
TEST(PathwiseInstallFresh, InstallsAfterTheFirstReadmeCommand) {
    scratch_dir scratch;
    const std::string source = scratch.path("source");
    ASSERT_EQ(shell("mkdir \"" + source +
                    "\" && tar -C \"" VT_SOURCE_DIR
                    "\" --exclude=./build --exclude=./.git -cf - . | tar -C \"" +
                    source + "\" -xf -")
                  .status,
              0);
    run_result built = shell("cd \"" + source +
                             "\" && \"" VT_CMAKE_COMMAND
                             "\" --workflow --preset programs >build.log 2>&1 || cat build.log");
    ASSERT_EQ(built.status, 0);
    ASSERT_EQ(built.out, "");

    const std::string build = source + "/build/default";
    const std::string prefix = scratch.path("prefix");
    run_result installed = run_program(VT_CMAKE_COMMAND, {"--install", build, "--prefix", prefix});
    ASSERT_EQ(installed.status, 0) << installed.out << installed.err;
    const char* files[] = {"/bin/pathwise",
                           "/bin/sumwell",
                           "/etc/filter.conf",
                           "/share/bash-completion/completions/pathwise",
                           "/share/bash-completion/completions/sumwell",
                           "/share/man/man1/pathwise.1",
                           "/share/man/man1/sumwell.1",
                           "/share/man/man5/filter.conf.5"};
    std::string listed;
    for (const char* file : files) listed += prefix + file + "\n";
    std::string sorted = shell("sort \"" + build + "/install_manifest.txt\"").out;
    EXPECT_EQ(sorted, listed);
    EXPECT_EQ(
        run_program(prefix + "/bin/pathwise", {"-c", prefix + "/etc/filter.conf", "-p", "sumwell"})
            .out,
        prefix + "/bin/sumwell\n");

    ASSERT_EQ(shell("cd \"" + source +
                    "\" && grep -v '/etc/filter\\.conf$' "
                    "build/default/install_manifest.txt | xargs -d '\\n' rm -f --")
                  .status,
              0);
    EXPECT_EQ(shell("cd \"" + prefix + "\" && find . -type f").out, "./etc/filter.conf\n");

    ASSERT_EQ(unlink((build + "/completion/pathwise").c_str()), 0);
    const std::string other = scratch.path("other");
    run_result refused = run_program(VT_CMAKE_COMMAND, {"--install", build, "--prefix", other});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("Nothing was installed"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--target pathwise_completion"), std::string::npos) << refused.err;
    struct stat info;
    EXPECT_NE(stat(other.c_str(), &info), 0);
}

TEST_F(PathwiseInstall, StrippedProgramRefusesUntilStampedAgain) {
    if (shell("command -v strip").status != 0) GTEST_SKIP() << "strip is not installed";
    std::string program = scratch.path("stripped");
    ASSERT_EQ(
        shell("cp \"" + bin("pathwise") + "\" \"" + program + "\" && strip \"" + program + "\"")
            .status,
        0);
    std::vector<std::string> args = {"-c", prefix + "/etc/filter.conf", "-p", "main-root"};
    run_result refused = run_program(program, args);
    EXPECT_EQ(refused.status, 126);
    EXPECT_EQ(refused.err, "ERR:Executable integrity check failed\n");

    // The documented command that stamps a stripped program again.
    ASSERT_EQ(shell("f=\"" + program +
                    "\"; printf '\\nintegrity-md5:%s\\n' \"$(md5sum < \"$f\" | cut -c1-32)\" "
                    ">> \"$f\"")
                  .status,
              0);
    run_result restamped = run_program(program, args);
    EXPECT_EQ(restamped.status, 0) << restamped.err;
    EXPECT_EQ(restamped.out, prefix + "\n");
}

} // namespace
