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

// The long options are only ever matched whole: every other argument that begins with "--"
// gets getopt's diagnostic for "-" as it always did (no "unrecognized option", no
// abbreviations), and after "--" or as -t's argument they are what they were before.
TEST(SumwellOptions, LongOptionsLeaveEveryOtherCommandLineAsItWas) {
    scratch_dir dir;
    dir.write("abc", "abc");
    dir.write("l", abc_digest + "  abc\n");
    const std::string usage =
        "Usage: sumwell [-b repeats] [-t tailbytes] file file...\nWhere:\n -b repeats - run "
        "benchmark repeats times\n -t tailbytes - not count tailbytes bytes from file tail in "
        "cksum\n";
    const std::string invalid_dash = "sumwell: invalid option -- '-'\n";
    struct option_case {
        std::vector<std::string> args;
        std::string out, err;
        int status;
    };
    const option_case cases[] = {
        {{"--foo"}, usage, invalid_dash, 1},
        {{"--chec", "l"}, usage, invalid_dash, 1},
        {{"--check=l"}, usage, invalid_dash, 1},
        {{"-c", "l"}, usage, "sumwell: invalid option -- 'c'\n", 1},
        {{"abc", "-t", "--check"}, abc_digest + " *abc\n", "", 0},
        {{"abc", "--", "--check"},
         abc_digest + " *abc\n",
         "Error! stat --check: No such file or directory\n",
         0},
        {{"--check", "--print-version"},
         "Velmar Version 3.0.0 [0284]\nVOR30/Release version, built at Jun 27 2008, 12:24:22 by "
         "quelm\n",
         "",
         0},
        {{"--check", "l", "-t", "0"}, "abc: OK\n", "", 0},
        {{"l", "--quiet", "--check"}, "", "", 0},
        {{"--quiet", "l"}, usage, "sumwell: option '--quiet' goes only with '--check'\n", 1},
        {{"--check", "-b", "1"}, usage, "sumwell: option '-b' goes only without '--check'\n", 1},
    };
    for (const option_case& c : cases) {
        std::string what = c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "") + " ...";
        for (bool posix : {false, true}) {
            run_result r = sumwell_in(dir, c.args, posix);
            EXPECT_EQ(r.out, c.out) << what;
            EXPECT_EQ(r.err, c.err) << what;
            EXPECT_EQ(r.status, c.status) << what;
        }
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
