// End-to-end tests of sumwell --check: its standard output and exit status are md5sum -c's,
// byte for byte, on the same lists; its standard error is its own ("Error! ..."), and so is
// what -t does; both are checked here against sumwell's documented texts.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/run_program.h"

namespace {

const char md5sum_program[] = "/usr/bin/md5sum";

const std::string abc = "900150983cd24fb0d6963f7d28e17f72";   // MD5 of "abc"
const std::string empty = "d41d8cd98f00b204e9800998ecf8427e"; // MD5 of nothing
const std::string wrong = "0123456789abcdef0123456789abcdef";

// The files every case sees: names a list can only give escaped among them.
void write_files(const scratch_dir& dir) {
    dir.write("abc", "abc");
    dir.write("two  blanks", "abc");
    dir.write("*star", "abc");
    dir.write("back\\slash", "abc");
    dir.write("line\nfeed", "abc");
    dir.write("cr\rname", "abc");
    dir.write("empty", "");
    mkdir(dir.path("dir").c_str(), 0755);
}

// One run: the lists written into the directory, the arguments (with "--check" where
// md5sum gets "-c"), and what standard input holds.
struct check_case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> lists;
    std::vector<std::string> args;
    std::string input;
};

// Runs program on c in dir; check_option stands for --check in c.args.
run_result run_case(const scratch_dir& dir, const std::string& program,
                    const std::string& check_option, const check_case& c) {
    for (const auto& [name, content] : c.lists) dir.write(name, content);
    run_options options;
    options.directory = dir.root;
    options.stdin_path = dir.write("standard input", c.input);
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(a == "--check" ? check_option : a);
    return run_program(program, args, options);
}

// True when the md5sum here is the one whose -c output sumwell --check reproduces.
bool reference_present() {
    if (access(md5sum_program, X_OK) != 0) return false;
    run_result r = run_program(md5sum_program, {"--version"});
    return r.status == 0 && r.out.rfind("md5sum (GNU coreutils) 9.", 0) == 0;
}

TEST(SumwellCheck, PrintsWhatMd5sumPrintsAndEndsTheSame) {
    if (!reference_present()) GTEST_SKIP() << "needs md5sum of GNU coreutils 9";
    const std::string A = abc + "  abc\n";
    const check_case cases[] = {
        {"text form", {{"l", A}}, {"--check", "l"}, ""},
        {"binary form", {{"l", abc + " *abc\n"}}, {"--check", "l"}, ""},
        {"sumwell's own lines", {{"l", abc + " *abc\n" + abc + " **star\n"}}, {"--check", "l"}, ""},
        {"tagged form",
         {{"l", "MD5 (abc) = " + abc + "\nMD5(abc)=" + abc + "\n"}},
         {"--check", "l"},
         ""},
        {"tagged form, bad",
         {{"l", "MD5 (abc) = " + abc + " \nMD5  (abc) = " + abc + "\nMD5 abc = " + abc + "\n" +
                    "MD5 (abc) = " + abc.substr(2) + "\n" + A}},
         {"--check", "l"},
         ""},
        {"tagged name with a parenthesis",
         {{"l", "MD5 (a)bc) = " + abc + "\n"}},
         {"--check", "l"},
         ""},
        {"upper case", {{"l", "900150983CD24FB0D6963F7D28E17F72  abc\n"}}, {"--check", "l"}, ""},
        {"reversed form", {{"l", abc + " abc\n" + abc + "  abc\n"}}, {"--check", "l"}, ""},
        {"reversed after text", {{"l", A + abc + " abc\n"}}, {"--check", "l"}, ""},
        {"tab after digest", {{"l", abc + "\tabc\n"}}, {"--check", "l"}, ""},
        {"leading blanks, comments, empty lines",
         {{"l", " \t" + A + "#" + wrong + "  abc\n\n\r\n"}},
         {"--check", "l"},
         ""},
        {"names with blanks",
         {{"l", abc + "  two  blanks\n" + abc + "  abc \n"}},
         {"--check", "l"},
         ""},
        {"escaped names",
         {{"l", "\\" + abc + "  back\\\\slash\n\\" + abc + "  line\\nfeed\n\\" + abc +
                    "  cr\\rname\n\\MD5 (line\\nfeed) = " + abc + "\n"}},
         {"--check", "l"},
         ""},
        {"bad escapes",
         {{"l", "\\" + abc + "  a\\x\n\\" + abc + "  abc\\\n" + A}},
         {"--check", "l"},
         ""},
        {"unescaped backslash and CR",
         {{"l", abc + "  back\\slash\n" + abc + "  cr\rname\n"}},
         {"--check", "l"},
         ""},
        {"mismatch, name printed escaped",
         {{"l", "\\" + wrong + "  line\\nfeed\n" + wrong + "  abc\n" + A}},
         {"--check", "l"},
         ""},
        {"CR LF and no final line end",
         {{"l", A + abc + "  abc\r\n" + abc + "  abc"}},
         {"--check", "l"},
         ""},
        {"NUL bytes",
         {{"l", abc + "  abc" + std::string(1, '\0') + "x\n\\" + abc + "  ab" +
                    std::string(1, '\0') + "c\nMD5 (abc" + std::string(1, '\0') + ") = " + abc +
                    "\n"}},
         {"--check", "l"},
         ""},
        {"missing, directory, empty file",
         {{"l", A + abc + "  missing\n" + abc + "  dir\n" + empty + "  empty\n"}},
         {"--check", "l"},
         ""},
        {"malformed lines",
         {{"l", "nonsense\n" + abc + "\n" + A + abc + "x  abc\n"}},
         {"--check", "l"},
         ""},
        {"malformed lines, strict", {{"l", "nonsense\n" + A}}, {"--check", "--strict", "l"}, ""},
        {"only malformed lines", {{"l", "nonsense\n"}}, {"--check", "l"}, ""},
        {"quiet",
         {{"l", A + wrong + "  abc\n" + abc + "  missing\n"}},
         {"--check", "--quiet", "l"},
         ""},
        {"quiet, all match", {{"l", A + A}}, {"--quiet", "--check", "l"}, ""},
        {"status", {{"l", A + wrong + "  abc\n"}}, {"--check", "--status", "l"}, ""},
        {"status, all match", {{"l", A}}, {"--status", "--check", "l"}, ""},
        {"ignore missing",
         {{"l", abc + "  missing\n" + A}},
         {"--check", "--ignore-missing", "l"},
         ""},
        {"ignore missing, none there",
         {{"l", abc + "  missing\n"}},
         {"--check", "--ignore-missing", "l"},
         ""},
        {"standard input", {}, {"--check"}, A + wrong + "  abc\n"},
        {"standard input as -", {{"l", A}}, {"--check", "l", "-"}, A},
        {"- named in standard input", {}, {"--check", "-"}, abc + "  -\n" + A},
        {"- named in a list", {{"l", abc + "  -\n"}}, {"--check", "l"}, "abc"},
        {"several lists",
         {{"l", A}, {"m", wrong + "  abc\n"}, {"n", A}},
         {"--check", "l", "m", "n"},
         ""},
        {"a list that is missing or a directory",
         {{"l", A}},
         {"--check", "nolist", "dir", "l"},
         ""},
        {"empty list", {{"l", ""}}, {"--check", "l"}, ""},
        {"warn", {{"l", "bad\n" + A + "worse\n"}}, {"--check", "--warn", "l"}, ""},
    };
    for (const check_case& c : cases) {
        scratch_dir dir;
        write_files(dir);
        run_result expected = run_case(dir, md5sum_program, "-c", c);
        run_result r = run_case(dir, sumwell_program(), "--check", c);
        EXPECT_EQ(r.out, expected.out) << c.what;
        EXPECT_EQ(r.status, expected.status) << c.what;
    }
}

// Standard error, where sumwell speaks for itself: the files it cannot read, the malformed
// lines (--warn), the counts at the end of each list, the lists it cannot read.
TEST(SumwellCheck, WritesItsOwnMessagesOnStandardError) {
    const std::string A = abc + "  abc\n";
    struct message_case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> lists;
        std::vector<std::string> args;
        std::string input;
        std::string err;
        int status;
    };
    const message_case cases[] = {
        {"counts",
         {{"l", A + "bad\nworse\n" + wrong + "  abc\n" + abc + "  missing\n" + abc + "  dir\n"}},
         {"--check", "l"},
         "",
         "Error! stat missing: No such file or directory\n"
         "Error! couldn't mmap dir: No such device\n"
         "Error! l: 2 lines are improperly formatted\n"
         "Error! l: 2 listed files could not be read\n"
         "Error! l: 1 computed checksum did NOT match\n",
         1},
        {"warn",
         {{"l", "bad\n" + A + "\nworse\n"}},
         {"--check", "--warn", "l"},
         "",
         "Error! l: 1: improperly formatted MD5 checksum line\n"
         "Error! l: 4: improperly formatted MD5 checksum line\n"
         "Error! l: 2 lines are improperly formatted\n",
         0},
        {"status hides the counts",
         {{"l", "bad\n" + wrong + "  abc\n" + abc + "  missing\n"}},
         {"--check", "--status", "l"},
         "",
         "Error! stat missing: No such file or directory\n",
         1},
        {"nothing to check",
         {{"l", "bad\n"}},
         {"--check", "--status", "l"},
         "",
         "Error! l: no properly formatted MD5 checksum lines found\n",
         1},
        {"nothing verified",
         {{"l", abc + "  missing\n"}},
         {"--check", "--ignore-missing", "l"},
         "",
         "Error! l: no file was verified\n",
         1},
        {"lists that cannot be read",
         {{"l", A}},
         {"--check", "nolist", "dir", "l"},
         "",
         "Error! open nolist: No such file or directory\nError! read dir: Is a directory\n",
         1},
        {"standard input",
         {},
         {"--check"},
         "x\n" + A,
         "Error! standard input: 1 line is improperly formatted\n",
         0},
        // -t leaves the tail out of every sum: "ab" is what is left of "abc".
        {"tail",
         {{"l", "187ef4436122d1cc2f40dc2b92f0eba0  abc\n" + empty + "  empty\n"}},
         {"--check", "-t", "1", "l"},
         "",
         "Error! file size is too small\nError! l: 1 listed file could not be read\n",
         1},
        // A line longer than any name that opens is malformed, whatever its form.
        {"over-long line",
         {{"l", abc + "  " + std::string(20000, 'a') + "\n" + A}},
         {"--check", "--warn", "l"},
         "",
         "Error! l: 1: improperly formatted MD5 checksum line\n"
         "Error! l: 1 line is improperly formatted\n",
         0},
    };
    for (const message_case& c : cases) {
        scratch_dir dir;
        write_files(dir);
        run_result r =
            run_case(dir, sumwell_program(), "--check", {c.what, c.lists, c.args, c.input});
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
    }
}

// A failed write to standard output ends the check with the status a sum run gives it.
TEST(SumwellCheck, FailedOutputEndsWithStatus2) {
    scratch_dir dir;
    write_files(dir);
    std::string list = dir.write("l", abc + "  abc\n");
    run_options options;
    options.directory = dir.root;
    options.stdout_path = "/dev/full";
    run_result r = run_program(sumwell_program(), {"--check", list}, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Error! write to standard output failed: No space left on device\n");
}

} // namespace
