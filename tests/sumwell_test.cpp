// End-to-end tests of sumwell: digests compared with the system's md5sum over the same bytes,
// and every message, output line and exit status a user can see.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/run_program.h"

namespace {

const char md5sum_program[] = "/usr/bin/md5sum";

const char usage_tail[] =
    " [-b repeats] [-t tailbytes] file file...\nWhere:\n -b repeats - run benchmark repeats "
    "times\n -t tailbytes - not count tailbytes bytes from file tail in cksum\n";

const char version_text[] = "Velmar Version 3.0.0 [0284]\n"
                            "VOR30/Release version, built at Jun 27 2008, 12:24:22 by quelm\n";

const char too_small[] = "Error! file size is too small\n";

run_result sumwell(const std::vector<std::string>& args, const run_options& options = {}) {
    return run_program(sumwell_program(), args, options);
}

// Reproducible bytes, every value possible.
std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(generator() & 0xff);
    return s;
}

// The output lines of a run, each without its line end.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// md5sum's digests of paths, in order; empty strings when md5sum failed.
std::vector<std::string> md5sum_digests(const std::vector<std::string>& paths) {
    run_result r = run_program(md5sum_program, paths);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> digests;
    for (const std::string& line : lines_of(r.out)) digests.push_back(line.substr(0, 32));
    digests.resize(paths.size());
    return digests;
}

// The line sumwell prints for a file: digest, space, asterisk, name.
std::string digest_line(const std::string& digest, const std::string& name) {
    return digest + " *" + name;
}

// True when the program under test is a 32-bit ELF executable.
bool program_is_32_bit() {
    std::string head = read_file(sumwell_program()).substr(0, 5);
    return head.size() == 5 && head[4] == 1;
}

// Sums files of the given sizes with tail, and expects each line to carry md5sum's digest of
// the same bytes less the tail (written to a second file for md5sum).
void expect_agreement(const scratch_dir& dir, const std::vector<size_t>& sizes, size_t tail,
                      unsigned seed) {
    std::vector<std::string> files, cut_files;
    for (size_t size : sizes) {
        std::string content = random_bytes(size, seed + static_cast<unsigned>(size));
        std::string name = "f" + std::to_string(size) + "-" + std::to_string(tail);
        files.push_back(dir.write(name, content));
        cut_files.push_back(dir.write(name + ".cut", content.substr(0, size - tail)));
    }
    std::vector<std::string> args = {"-t", std::to_string(tail)};
    args.insert(args.end(), files.begin(), files.end());
    run_result r = sumwell(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> expected = md5sum_digests(cut_files);
    std::vector<std::string> got = lines_of(r.out);
    ASSERT_EQ(got.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(got[i], digest_line(expected[i], files[i])) << "size " << sizes[i];
    }
}

TEST(SumwellDigest, AgreesWithMd5sumForEverySmallSize) {
    scratch_dir dir;
    std::vector<size_t> sizes;
    for (size_t size = 1; size <= 300; ++size) sizes.push_back(size);
    expect_agreement(dir, sizes, 0, 10);
    // With a tail, the same sizes less 7 bytes each (every summed length from 1 to 293).
    std::vector<size_t> longer;
    for (size_t size = 8; size <= 300; ++size) longer.push_back(size);
    expect_agreement(dir, longer, 7, 20);
}

// Whole pages map with one page more than the file; the bytes just around a page boundary must
// be summed and nothing past the end.
TEST(SumwellDigest, AgreesWithMd5sumAroundPageSizes) {
    scratch_dir dir;
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::vector<size_t> sizes;
    for (size_t pages : {1, 2, 3, 16, 257}) {
        for (size_t size : {pages * page - 1, pages * page, pages * page + 1}) {
            sizes.push_back(size);
        }
    }
    expect_agreement(dir, sizes, 0, 30);
    expect_agreement(dir, sizes, 1, 40);
    // A tail that leaves exactly whole pages to sum.
    expect_agreement(dir, {2 * page + 5, 3 * page + 5}, 5, 50);
}

TEST(SumwellDigest, AgreesWithMd5sumForRandomSizesAndTails) {
    scratch_dir dir;
    std::mt19937 generator(99);
    std::uniform_int_distribution<size_t> size_of(1, 4 << 20);
    for (int round = 0; round < 6; ++round) {
        size_t size = size_of(generator);
        size_t tail =
            round % 2 == 0 ? 0 : std::uniform_int_distribution<size_t>(0, size - 1)(generator);
        expect_agreement(dir, {size}, tail, 60 + static_cast<unsigned>(round));
    }
}

TEST(SumwellDigest, Md5sumCheckAcceptsTheOutput) {
    scratch_dir dir;
    std::vector<std::string> args;
    for (const char* name : {"plain", "with space", "page"}) {
        args.push_back(dir.write(name, random_bytes(std::string(name) == "page" ? 4096 : 1000, 5)));
    }
    run_result r = sumwell(args);
    ASSERT_EQ(r.status, 0);
    std::string list = dir.write("list.md5", r.out);
    run_result check = run_program(md5sum_program, {"-c", list});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(lines_of(check.out).size(), args.size()) << check.out;
}

// Each case runs in a scratch directory holding ten = "0123456789", abc = "abc", empty = ""
// and a file named "-t" holding "x"; names are relative, as written on the command line.
struct message_case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
    std::string err;
};

// Runs each case in dir and expects status 0 with exactly its output and messages.
template <size_t N>
void expect_messages(const scratch_dir& dir, const message_case (&cases)[N]) {
    run_options options;
    options.directory = dir.root;
    for (const message_case& c : cases) {
        run_result r = sumwell(c.args, options);
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

TEST(SumwellMessages, FilesTailsAndOptions) {
    scratch_dir dir;
    dir.write("ten", "0123456789");
    dir.write("abc", "abc");
    dir.write("empty", "");
    dir.write("-t", "x");
    const std::string abc = "900150983cd24fb0d6963f7d28e17f72";
    const std::string first_of_ten = "cfcd208495d565ef66e7dff9f98764da"; // "0"
    const std::string ten = "781e5e245d69b566979b86e28d23f2c7";
    const std::string nine = "22975d8a5ed1b91445f6c55ac121505b"; // "012345678"
    const std::string ab = "187ef4436122d1cc2f40dc2b92f0eba0";
    const std::string x = "9dd4e461268c8034f5c8564e155c67a6";
    const std::string no_such = std::string(": ") + strerror(ENOENT) + "\n";
    const message_case cases[] = {
        {"the RFC message abc", {"abc"}, digest_line(abc, "abc") + "\n", ""},
        {"an empty file", {"empty"}, "", too_small},
        {"a tail equal to the size", {"-t", "10", "ten"}, "", too_small},
        {"a tail one short of the size",
         {"-t", "9", "ten"},
         digest_line(first_of_ten, "ten") + "\n",
         ""},
        {"a negative tail", {"-t", "-1", "ten", "abc"}, "", std::string(too_small) + too_small},
        {"a tail of 2^32 - 1 written out", {"-t", "4294967295", "abc"}, "", too_small},
        {"a missing file among others",
         {"abc", "missing", "ten"},
         digest_line(abc, "abc") + "\n" + digest_line(ten, "ten") + "\n",
         "Error! stat missing" + no_such},
        {"a missing directory in the path", {"nodir/abc"}, "", "Error! stat nodir/abc" + no_such},
        {"options after file names",
         {"abc", "ten", "-t", "1"},
         digest_line(ab, "abc") + "\n" + digest_line(nine, "ten") + "\n",
         ""},
        {"the last tail wins", {"-t", "5", "-t", "1", "abc"}, digest_line(ab, "abc") + "\n", ""},
        {"-- ends the options", {"--", "-t"}, digest_line(x, "-t") + "\n", ""},
        {"no file arguments", {}, "", ""},
        {"only a tail", {"-t", "3"}, "", ""},
    };
    expect_messages(dir, cases);
}

// A directory passes stat and open; mapping it fails (or it is too small where its size is 0).
TEST(SumwellMessages, DirectoryArgument) {
    scratch_dir dir;
    mkdir(dir.path("sub").c_str(), 0755);
    dir.write("abc", "abc");
    struct stat info;
    ASSERT_EQ(stat(dir.path("sub").c_str(), &info), 0);
    std::string expected =
        info.st_size == 0 ? std::string(too_small)
                          : "Error! couldn't mmap sub: " + std::string(strerror(ENODEV)) + "\n";
    run_options options;
    options.directory = dir.root;
    run_result r = sumwell({"sub", "abc"}, options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.out, "900150983cd24fb0d6963f7d28e17f72 *abc\n");
}

TEST(SumwellMessages, PrintVersionAnywhere) {
    scratch_dir dir;
    std::string abc = dir.write("abc", "abc");
    const std::vector<std::string> arg_lists[] = {
        {"--print-version"},
        {abc, "--print-version"},
        {"-t", "1", abc, "--print-version", "missing"},
        {"-x", "--print-version"},
        {"--", "--print-version"},
        {"-b", "3", "--print-version"},
    };
    for (const auto& args : arg_lists) {
        run_result r = sumwell(args);
        EXPECT_EQ(r.status, 0) << args.size();
        EXPECT_EQ(r.out, version_text);
        EXPECT_EQ(r.err, "");
    }
    // Only the whole argument counts.
    run_result r = sumwell({"--print-version=yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Usage: "), std::string::npos);
}

TEST(SumwellMessages, OptionErrorsPrintUsage) {
    scratch_dir dir;
    std::string abc = dir.write("abc", "abc");
    struct option_case {
        std::vector<std::string> args;
        const char* diagnostic; // what getopt says on standard error
    };
    const option_case cases[] = {
        {{"-x", abc}, "invalid option -- 'x'"},
        {{abc, "-q"}, "invalid option -- 'q'"},
        {{abc, "-t"}, "option requires an argument -- 't'"},
        {{"-b"}, "option requires an argument -- 'b'"},
    };
    run_options options;
    options.argv0 = "my-sumwell";
    for (const option_case& c : cases) {
        run_result r = sumwell(c.args, options);
        EXPECT_EQ(r.status, 1) << c.diagnostic;
        EXPECT_EQ(r.out, "Usage: my-sumwell" + std::string(usage_tail)) << c.diagnostic;
        EXPECT_NE(r.err.find(c.diagnostic), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Error!"), std::string::npos) << r.err;
    }
}

// The digest line of the program under test, named as argv0 says.
std::string own_line(const std::string& argv0, size_t tail = 0) {
    std::string content = read_file(sumwell_program());
    scratch_dir dir;
    std::string cut = dir.write("cut", content.substr(0, content.size() - tail));
    return digest_line(md5sum_digests({cut})[0], argv0) + "\n";
}

TEST(SumwellBenchmark, SumsItsOwnExecutable) {
    scratch_dir dir;
    std::string abc = dir.write("abc", "abc");
    std::string program = sumwell_program();
    std::string line = own_line(program);

    run_result r = sumwell({"-b", "3", abc, "missing"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, line + line + line);
    EXPECT_EQ(r.err, "");

    // The last -b wins; a tail applies to the executable too.
    r = sumwell({"-b", "5", "-t", "100", "-b", "1"});
    EXPECT_EQ(r.out, own_line(program, 100));

    for (const char* repeats : {"0", "-2", "none"}) {
        r = sumwell({"-b", repeats, abc});
        EXPECT_EQ(r.status, 0) << repeats;
        EXPECT_EQ(r.out, "") << repeats;
        EXPECT_EQ(r.err, "") << repeats;
    }

    r = sumwell({"-b", "2", "-t", "-1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string(too_small) + too_small);
}

// argv[0] names only what is printed: the bytes summed are the running executable's.
TEST(SumwellBenchmark, IgnoresWhatArgv0Names) {
    scratch_dir dir;
    run_options options;
    for (std::string argv0 :
         {dir.write("other", "abc"), dir.path("missing"), std::string("sumwell")}) {
        options.argv0 = argv0;
        run_result r = sumwell({"-b", "2"}, options);
        EXPECT_EQ(r.status, 0) << argv0;
        EXPECT_EQ(r.out, own_line(argv0) + own_line(argv0)) << argv0;
        EXPECT_EQ(r.err, "") << argv0;
    }
}

// A failed write to standard output is reported and the status is not 0.
TEST(SumwellOutput, FullDeviceFails) {
    scratch_dir dir;
    std::string abc = dir.write("abc", "abc");
    run_options options;
    options.stdout_path = "/dev/full";
    const std::string message =
        "Error! write to standard output failed: " + std::string(strerror(ENOSPC)) + "\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{abc}, {"--print-version"}, {"-b", "2"}}) {
        run_result r = sumwell(args, options);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_EQ(r.err, message) << args[0];
    }
    // Many lines: the buffer fills long before the end; one message all the same.
    std::vector<std::string> many(2000, abc);
    run_result r = sumwell(many, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, message);
}

// A sparse file past 4 GiB: a 32-bit size would sum only the few bytes above 4 GiB. The bytes
// written straddle the 4 GiB mark, sit at the start, and in the tail left out.
TEST(SumwellLargeFile, PastFourGibibytes) {
    if (sizeof(off_t) < 8) GTEST_SKIP() << "this test build cannot make a file past 4 GiB";
    scratch_dir dir;
    const uint64_t four_gib = uint64_t{1} << 32;
    const uint64_t size = four_gib + 100;
    const uint64_t tail = 30;
    struct piece {
        uint64_t offset;
        const char* bytes;
    };
    const piece pieces[] = {
        {0, "start of file"},
        {four_gib - 5, "across the mark"},
        {size - 40, "before tail"},
        {size - 20, "in tail"},
    };
    // Writes the sparse file of length bytes holding the pieces that fit.
    auto make = [&](const std::string& path, uint64_t length) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(length)), 0);
        for (const piece& p : pieces) {
            size_t n = strlen(p.bytes);
            if (p.offset + n > length) n = p.offset < length ? length - p.offset : 0;
            if (n == 0) continue;
            ASSERT_EQ(pwrite(fd, p.bytes, n, static_cast<off_t>(p.offset)),
                      static_cast<ssize_t>(n));
        }
        close(fd);
    };
    std::string big = dir.path("big");
    make(big, size);
    run_result r = sumwell({"-t", std::to_string(tail), big});
    EXPECT_EQ(r.status, 0);
    if (program_is_32_bit()) {
        // Such a file cannot be mapped in a 32-bit process: an error, never a wrong digest.
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("Error! ", 0), 0u) << r.err;
        return;
    }
    EXPECT_EQ(r.err, "");
    std::string cut = dir.path("cut");
    make(cut, size - tail);
    EXPECT_EQ(r.out, digest_line(md5sum_digests({cut})[0], big) + "\n");
}

// A negative tail makes every file too small, also one of 3 or 5 GiB, which the tail read as an
// unsigned 32-bit number (2 GiB or 4 GiB less a byte) would leave a prefix of to sum. The sparse
// files are never read. A 32-bit program cannot stat files of 2 GiB or more at all.
TEST(SumwellLargeFile, NegativeTailRefusesEveryFile) {
    if (sizeof(off_t) < 8) GTEST_SKIP() << "this test build cannot make a file past 4 GiB";
    scratch_dir dir;
    const uint64_t gib = uint64_t{1} << 30;
    for (const char* name : {"h3", "h5"}) {
        int fd = open(dir.path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>((name[1] - '0') * gib)), 0);
        close(fd);
    }
    dir.write("abc", "abc");
    const bool stat_fails = program_is_32_bit();
    // What sumwell writes for the large file name.
    auto refused = [&](const std::string& name) {
        if (!stat_fails) return std::string(too_small);
        return "Error! stat " + name + ": " + strerror(EOVERFLOW) + "\n";
    };
    const std::string missing = "Error! stat missing: " + std::string(strerror(ENOENT)) + "\n";
    const message_case cases[] = {
        {"-1, 3 GiB", {"-t", "-1", "h3"}, "", refused("h3")},
        {"-1, 5 GiB", {"-t", "-1", "h5"}, "", refused("h5")},
        {"the lowest tail, 3 GiB", {"-t", "-2147483648", "h3"}, "", refused("h3")},
        {"the lowest tail, 5 GiB", {"-t", "-2147483648", "h5"}, "", refused("h5")},
        {"below the lowest tail",
         {"-t", "-3000000000", "h3", "h5"},
         "",
         refused("h3") + refused("h5")},
        {"-1 among small files",
         {"abc", "h5", "-t", "-1", "missing", "h3"},
         "",
         too_small + refused("h5") + missing + refused("h3")},
        {"the lowest tail among small files",
         {"-t", "-2147483648", "h3", "abc", "h5", "abc"},
         "",
         refused("h3") + too_small + refused("h5") + too_small},
    };
    expect_messages(dir, cases);
}

} // namespace
