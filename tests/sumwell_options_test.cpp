// sumwell's command line means the same whatever the environment: options after file names are
// options, "--" ends the options, bad options get getopt's diagnostic and the usage text.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/run_program.h"

namespace {

const std::string ab_digest = "187ef4436122d1cc2f40dc2b92f0eba0";  // MD5 of "ab"
const std::string abc_digest = "900150983cd24fb0d6963f7d28e17f72"; // MD5 of "abc"

// Runs sumwell in dir with args, with POSIXLY_CORRECT set to 1 or unset.
run_result sumwell_in(const scratch_dir& dir, const std::vector<std::string>& args, bool posix) {
    if (posix) {
        setenv("POSIXLY_CORRECT", "1", 1);
    } else {
        unsetenv("POSIXLY_CORRECT");
    }
    run_options options;
    options.directory = dir.root;
    options.argv0 = "sumwell";
    run_result r = run_program(sumwell_program(), args, options);
    unsetenv("POSIXLY_CORRECT");
    return r;
}

TEST(SumwellOptions, MixedOptionsAndFilesMeanTheSameWhateverTheEnvironment) {
    scratch_dir dir;
    dir.write("abc", "abc");
    dir.write("def", "abc");
    dir.write("-b", "abc");
    struct option_case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const option_case cases[] = {
        {{"abc", "-t", "1"}, ab_digest + " *abc\n", 0},
        {{"abc", "-t", "1", "def"}, ab_digest + " *abc\n" + ab_digest + " *def\n", 0},
        {{"abc", "-t1", "def", "-t", "0"}, abc_digest + " *abc\n" + abc_digest + " *def\n", 0},
        {{"abc", "-t", "1", "--", "-b", "def"},
         ab_digest + " *abc\n" + ab_digest + " *-b\n" + ab_digest + " *def\n",
         0},
        {{"--", "-b", "abc", "-t", "1"}, "", 0}, // after "--", -t and 1 name (missing) files
        {{"abc", "-q"}, "", 1},
    };
    for (const option_case& c : cases) {
        run_result plain = sumwell_in(dir, c.args, false);
        run_result posix = sumwell_in(dir, c.args, true);
        std::string what = c.args[0] + " " + c.args[1] + " ...";
        if (!c.out.empty()) {
            EXPECT_EQ(plain.out, c.out) << what;
        }
        EXPECT_EQ(plain.status, c.status) << what;
        EXPECT_EQ(posix.out, plain.out) << what;
        EXPECT_EQ(posix.err, plain.err) << what;
        EXPECT_EQ(posix.status, plain.status) << what;
    }
}

TEST(SumwellOptions, DoubleDashStillEndsTheOptions) {
    scratch_dir dir;
    dir.write("-b", "abc");
    run_result r = sumwell_in(dir, {"--", "-b", "-t", "1"}, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, abc_digest + " *-b\n");
    EXPECT_EQ(r.err, "Error! stat -t: No such file or directory\n"
                     "Error! stat 1: No such file or directory\n");
}

} // namespace
