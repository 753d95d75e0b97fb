// End-to-end tests of sumwell over files that a mapping could not sum safely, and over long
// mixed command lines whose output must be what one run per file prints.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/run_program.h"

namespace {

const char unshare_program[] = "/usr/bin/unshare";

// A sparse file on a full memory file system: reading its holes needs no space, but a mapping
// of it does, and the program used to die of SIGBUS there. Needs a private mount namespace,
// so root and unshare.
TEST(SumwellFiles, SparseFileOnAFullMemoryFileSystem) {
    if (geteuid() != 0 || access(unshare_program, X_OK) != 0 ||
        run_program(unshare_program, {"-m", "true"}).status != 0) {
        GTEST_SKIP() << "needs root and unshare -m";
    }
    scratch_dir dir;
    std::string mount_point = dir.path("small");
    std::string zeros = dir.path("zeros");
    ASSERT_EQ(truncate(dir.write("zeros", "").c_str(), 8 << 20), 0);
    run_result expected = run_program("/usr/bin/md5sum", {zeros});
    ASSERT_EQ(expected.status, 0);
    const char script[] = "mkdir \"$1\" && mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 99\n"
                          "head -c 2M /dev/zero >\"$1/fill\" 2>/dev/null\n"
                          "truncate -s 8M \"$1/sparse\" && exec \"$2\" \"$1/sparse\"\n";
    run_result r = run_program(unshare_program,
                               {"-m", "sh", "-c", script, "sh", mount_point, sumwell_program()});
    if (r.status == 99) GTEST_SKIP() << "cannot mount a tmpfs here: " << r.err;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected.out.substr(0, 32) + " *" + mount_point + "/sparse\n");
}

// What one call printed: standard output, standard error, and both sent to one file.
struct streams {
    std::string out, err, merged;
};

// Runs sumwell with args in dir twice: once with its streams apart, once with both sent to one
// file, and expects status 0 both times.
streams sumwell_streams(const scratch_dir& dir, const std::vector<std::string>& args) {
    run_options options;
    options.directory = dir.root;
    run_result apart = run_program(sumwell_program(), args, options);
    EXPECT_EQ(apart.status, 0) << apart.err;
    std::vector<std::string> shell_args = {"-c", "exec \"$0\" \"$@\" >merged 2>&1",
                                           sumwell_program()};
    shell_args.insert(shell_args.end(), args.begin(), args.end());
    run_result together = run_program("/bin/sh", shell_args, options);
    EXPECT_EQ(together.status, 0);
    return {apart.out, apart.err, read_file(dir.path("merged"))};
}

// One call over a few hundred files of every kind prints, byte for byte, what one call per file
// prints, on each stream and with both streams in one file: the files summed at once must not
// change the order or the text of anything.
TEST(SumwellFiles, OneCallPrintsWhatOneCallPerFilePrints) {
    scratch_dir dir;
    std::mt19937 generator(7);
    mkdir(dir.path("directory").c_str(), 0755);
    mkfifo(dir.path("fifo").c_str(), 0644);
    dir.write("empty", "");
    chmod(dir.write("unreadable", "secret").c_str(), 0);
    // Kinds of argument, drawn at random: files of sizes from a few bytes to past the batch
    // limit, and each way a file can fail.
    std::vector<std::string> kinds = {"small",   "small", "small",     "medium", "large",
                                      "missing", "empty", "directory", "fifo",   "nodir/x"};
    // Root reads a file whatever its mode, so the open message cannot be met as root.
    if (geteuid() != 0) kinds.push_back("unreadable");
    std::vector<std::string> files;
    for (int i = 0; i < 250; ++i) {
        std::string kind = kinds[generator() % kinds.size()];
        size_t size = kind == "small"    ? 1 + generator() % 9000
                      : kind == "medium" ? 60000 + generator() % 10000
                      : kind == "large"  ? 200000 + generator() % 400000
                                         : 0;
        if (size == 0) {
            files.push_back(kind);
            continue;
        }
        std::string name = "f" + std::to_string(i);
        std::string content(size, '\0');
        for (char& c : content) c = static_cast<char>(generator());
        dir.write(name, content);
        files.push_back(name);
    }
    streams all = sumwell_streams(dir, files);
    // A call with one file writes one line or one message: merged, it is the two streams joined.
    std::string out, err, merged;
    run_options options;
    options.directory = dir.root;
    for (const std::string& file : files) {
        run_result one = run_program(sumwell_program(), {file}, options);
        EXPECT_EQ(one.status, 0) << file;
        out += one.out;
        err += one.err;
        merged += one.out + one.err;
    }
    EXPECT_EQ(all.out, out);
    EXPECT_EQ(all.err, err);
    EXPECT_EQ(all.merged, merged);
}

// Benchmark mode sums its own executable on several threads too: one call with a count prints
// what that many calls print.
TEST(SumwellFiles, BenchmarkCountPrintsWhatSeparateCallsPrint) {
    scratch_dir dir;
    streams all = sumwell_streams(dir, {"-b", "40"});
    streams one = sumwell_streams(dir, {"-b", "1"});
    std::string forty;
    for (int i = 0; i < 40; ++i) forty += one.out;
    EXPECT_EQ(all.out, forty);
    EXPECT_EQ(all.merged, forty);
    EXPECT_EQ(all.err, "");
}

} // namespace
