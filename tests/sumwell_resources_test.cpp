// End-to-end tests of sumwell under scarce resources and behind a failed write: few
// descriptors, a full output device with huge files behind, a message that must not wait for
// the large files after it, and memory so short that only a one-file run still works.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/run_program.h"

namespace {

// What one call per file prints, streams apart and joined.
struct expected_output {
    std::string out, err;
};

expected_output one_call_per_file(const scratch_dir& dir, const std::vector<std::string>& files) {
    run_options options;
    options.directory = dir.root;
    expected_output e;
    for (const std::string& file : files) {
        run_result r = run_program(sumwell_program(), {file}, options);
        EXPECT_EQ(r.status, 0) << file;
        e.out += r.out;
        e.err += r.err;
    }
    return e;
}

// Runs sumwell with args in dir after the shell's setting (a ulimit, say); stdout_path as in
// run_options.
run_result sumwell_after(const scratch_dir& dir, const std::string& setting,
                         const std::vector<std::string>& args,
                         const std::string& stdout_path = "") {
    std::vector<std::string> shell_args = {"-c", setting + " && exec \"$0\" \"$@\"",
                                           sumwell_program()};
    shell_args.insert(shell_args.end(), args.begin(), args.end());
    run_options options;
    options.directory = dir.root;
    options.stdout_path = stdout_path;
    return run_program("/bin/sh", shell_args, options);
}

// Writes a file of size bytes, all zeros but for a few marks, without storing the zeros.
void make_sparse(const std::string& path, uint64_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    ASSERT_EQ(pwrite(fd, path.data(), path.size(), 0), static_cast<ssize_t>(path.size()));
    close(fd);
}

// Files that hold a descriptor for a while (more than one read's worth) and small ones, each
// different.
std::vector<std::string> mixed_files(const scratch_dir& dir, int count) {
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        std::string name = "z" + std::to_string(i);
        size_t size = i % 3 == 2 ? 100 + size_t(i) : 65537 + 4096 * size_t(i);
        dir.write(name, std::string(size, char('a' + i % 26)) + name);
        files.push_back(name);
    }
    return files;
}

// With only a few descriptors to spare, a file that cannot be opened while the run holds
// others waits for one of them to close: every file is summed as a call of its own sums it.
TEST(SumwellResources, FewDescriptorsStillSumEveryFile) {
    scratch_dir dir;
    std::vector<std::string> files = mixed_files(dir, 40);
    files.insert(files.begin() + 5, "missing");
    expected_output expected = one_call_per_file(dir, files);
    std::vector<std::string> eight(files.begin(), files.begin() + 8);
    expected_output expected_eight = one_call_per_file(dir, eight);
    struct limit_case {
        int descriptors;
        const std::vector<std::string>* files;
        const expected_output* expected;
    };
    // Standard input, output and error take three: 5 leaves two, 4 leaves one. With one to
    // spare the two threads meet at every open, so that case runs many times: a close between
    // one thread's failed open and its look at the others' descriptors was once lost, and so
    // was one whose descriptor was given back before its close was counted.
    std::vector<limit_case> cases(30, {4, &eight, &expected_eight});
    cases.push_back({5, &eight, &expected_eight});
    cases.push_back({5, &files, &expected});
    cases.push_back({10, &files, &expected});
    for (const limit_case& c : cases) {
        run_result r = sumwell_after(dir, "ulimit -n " + std::to_string(c.descriptors), *c.files);
        if (c.descriptors == 4 && r.status != 0 && r.out.empty()) {
            // A sanitizer's run-time needs descriptors of its own to start.
            continue;
        }
        EXPECT_EQ(r.status, 0) << c.descriptors << " descriptors: " << r.err;
        EXPECT_EQ(r.out, c.expected->out) << c.descriptors << " descriptors";
        EXPECT_EQ(r.err, c.expected->err) << c.descriptors << " descriptors";
    }
}

// Huge sparse files, just small enough for a 32-bit build to look at: a run that gets through
// what these tests ask within a few processor seconds never summed many of them.
constexpr uint64_t huge = (uint64_t{2} << 30) - 4096;

// After a failed write to standard output nothing more is summed: the run stops at once, even
// with files in flight that would take hours. The processor-time limit is a guard against the
// hours, not a measure of speed: stopping takes milliseconds.
TEST(SumwellResources, FailedWriteStopsWithHugeFilesBehind) {
    scratch_dir dir;
    std::vector<std::string> files = {dir.write("s1", "abc"), "missing"};
    for (int i = 3; i <= 32; ++i) files.push_back(dir.write("s" + std::to_string(i), "abc"));
    for (int i = 1; i <= 96; ++i) {
        std::string path = dir.path("b" + std::to_string(i));
        make_sparse(path, huge);
        files.push_back(path);
    }
    run_result r = sumwell_after(dir, "ulimit -t 20", files, "/dev/full");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err, "Error! stat missing: " + std::string(strerror(ENOENT)) +
                         "\nError! write to standard output failed: " +
                         std::string(strerror(ENOSPC)) + "\n");
}

// A message whose file comes first is written before the files after it are summed, on one
// processor too: the writing thread writes what is ready before it takes more work. The run
// is ended by its processor-time limit long before it could sum the huge files; by then the
// message must be out.
TEST(SumwellResources, FirstMessageDoesNotWaitForTheLargeFilesAfterIt) {
    if (access("/usr/bin/taskset", X_OK) != 0) GTEST_SKIP() << "taskset is missing";
    scratch_dir dir;
    std::vector<std::string> files = {"missing"};
    for (int i = 1; i <= 15; ++i) {
        std::string path = dir.path("b" + std::to_string(i));
        make_sparse(path, huge);
        files.push_back(path);
    }
    run_result r = sumwell_after(dir, "ulimit -S -t 1 && taskset -p -c 0 $$ >/dev/null", files);
    EXPECT_EQ(r.status, 128 + SIGXCPU) << "the run was meant to end at its limit";
    EXPECT_EQ(r.err, "Error! stat missing: " + std::string(strerror(ENOENT)) + "\n");
    EXPECT_EQ(r.out, "");
}

// Under an address-space limit that leaves a one-file run just enough, a run of many large
// files sums every one of them too: its buffers are taken once at the start, with fewer lanes
// or threads where memory is short, and never one per file.
TEST(SumwellResources, TightMemorySumsWhatOneFileRunsSum) {
    scratch_dir dir;
    std::vector<std::string> files = mixed_files(dir, 12);
    std::string first = files[0];
    // The smallest limit, in KiB, at which a call with the first file alone prints its line.
    expected_output alone = one_call_per_file(dir, {first});
    auto works = [&](long kib) {
        run_result r = sumwell_after(dir, "ulimit -v " + std::to_string(kib), {first});
        return r.status == 0 && r.out == alone.out;
    };
    long high = 1 << 20;
    if (!works(high)) GTEST_SKIP() << "sumwell does not run under an address-space limit here";
    long low = 0;
    while (high - low > 64) {
        long middle = (low + high) / 2;
        (works(middle) ? high : low) = middle;
    }
    expected_output expected = one_call_per_file(dir, files);
    for (long kib : {high, high + 512, high + 4096}) {
        run_result r = sumwell_after(dir, "ulimit -v " + std::to_string(kib), files);
        EXPECT_EQ(r.status, 0) << kib << " KiB: " << r.err;
        EXPECT_EQ(r.out, expected.out) << kib << " KiB";
        EXPECT_EQ(r.err, expected.err) << kib << " KiB";
    }
}

} // namespace
