// Installs the build into a scratch prefix and runs the installed programs there.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/run_program.h"

namespace {

// Runs a shell command line; the test needs the shell for the documented one-line commands.
run_result shell(const std::string& command) {
    return run_program("/bin/sh", {"-c", command});
}

// Installs the build tree into prefix.
run_result install_into(const std::string& prefix) {
    return run_program(VT_CMAKE_COMMAND, {"--install", VT_BUILD_DIR, "--prefix", prefix});
}

class PathwiseInstall : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix = scratch.path("prefix");
        run_result r = install_into(prefix);
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
        {"/etc/filter.conf", "/examples/filter.conf"},
        {"/share/man/man1/pathwise.1", "/man/pathwise.1"},
        {"/share/man/man1/sumwell.1", "/man/sumwell.1"},
        {"/share/man/man5/filter.conf.5", "/man/filter.conf.5"},
    };
    for (const file_case& f : files) {
        EXPECT_EQ(read_file(prefix + f.installed), read_file(source + f.from)) << f.installed;
    }
}

TEST_F(PathwiseInstall, InstalledProgramsPassTheirSelfcheckAndFindEachOther) {
    std::string conf = prefix + "/etc/filter.conf";
    run_result sample = run_program(bin("pathwise"), {"-c", conf, "-p", "main-root"});
    EXPECT_EQ(sample.status, 0) << sample.err;
    EXPECT_EQ(sample.out, "/usr/local/za-ravovidoda3\n");

    // With the prefix as root, pathwise names the sumwell installed beside it.
    std::string rooted = scratch.write("rooted.conf", "RootPath " + prefix + "\n");
    run_result where = run_program(bin("pathwise"), {"-c", rooted, "-p", "sumwell"});
    EXPECT_EQ(where.status, 0) << where.err;
    ASSERT_EQ(where.out, bin("sumwell") + "\n");

    run_result version = run_program(bin("sumwell"), {"--print-version"});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.err, "");

    // The documented hand check: sumwell -t 48 prints what the trailer records.
    run_result check = shell("\"" + bin("sumwell") + "\" -t 48 \"" + bin("pathwise") +
                             "\" | cut -c1-32; tail -c 33 \"" + bin("pathwise") + "\"");
    ASSERT_EQ(check.out.size(), 66u) << check.out << check.err;
    EXPECT_EQ(check.out.substr(0, 33), check.out.substr(33));
}

TEST_F(PathwiseInstall, KeepsAnExistingConfigurationOnReinstall) {
    std::string conf = prefix + "/etc/filter.conf";
    FILE* file = fopen(conf.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs("RootPath /srv/live\n", file);
    fclose(file);

    run_result again = install_into(prefix);
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(read_file(conf), "RootPath /srv/live\n");
    EXPECT_EQ(read_file(conf + ".sample"),
              read_file(std::string(VT_SOURCE_DIR) + "/examples/filter.conf"));
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
    EXPECT_EQ(restamped.out, "/usr/local/za-ravovidoda3\n");
}

} // namespace
