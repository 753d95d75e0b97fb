// The files in flight when the threads' looks at the files end out of order.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "md5/md5.h"
#include "sumwell/file_steps.h"
#include "sumwell/in_flight.h"
#include "tests/scratch_dir.h"

namespace {

// Holds up the look at the file named "first" (the run's first file) long enough for the other
// thread to look at many files after it.
void delay_first(int point, const char* path) {
    size_t length = strlen(path);
    if (point != HOOK_AFTER_STAT || length < 5 || strcmp(path + length - 5, "first") != 0) return;
    usleep(300 * 1000);
}

// In a child process: sums list with two threads into a full device and ends with status 0
// when the run stopped at its failed write, 1 otherwise. The child re-executed the test up to
// here and made dir for itself; it removes dir before it ends.
[[noreturn]] void sum_into_full_device(std::vector<char*>& list, scratch_dir& dir) {
    alarm(30);
    sumwell_step_hook = delay_first;
    FILE* full = fopen("/dev/full", "w");
    int status = 3;
    if (full != nullptr) {
        file_list files{list.size(), list.data(), nullptr, nullptr};
        status = sum_in_flight(files, 0, 2, full, stderr) == ENOSPC ? 0 : 1;
    }
    dir.remove();
    _exit(status);
}

} // namespace

// The first files, held up in their look, still go to the lanes before the huge files looked at
// meanwhile: the writer needs the first file's result first, and its write to a full device
// stops the run at once. Had the huge files taken every lane, the run would go on for minutes,
// until the time limit ends the child: a guard against the minutes, not a measure of speed.
TEST(SumwellInFlight, FirstFilesHeldUpInTheirLookStillGoFirst) {
    // Re-executed rather than forked: under ThreadSanitizer a forked child may not start threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    scratch_dir dir;
    ASSERT_FALSE(dir.root.empty());
    // A missing file second: its message makes the writer flush the first file's line, and the
    // write fails at once.
    std::vector<std::string> paths = {dir.write("first", "abc"), dir.path("missing")};
    for (int i = 2; i < 16; ++i) paths.push_back(dir.write("small" + std::to_string(i), "abc"));
    // More huge files than two threads have lanes, all zeros but their first bytes.
    for (size_t i = 0; i < 2 * md5_lane_limit + 32; ++i) {
        std::string path = dir.path("huge" + std::to_string(i));
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t{8} << 30), 0);
        ASSERT_EQ(pwrite(fd, path.data(), path.size(), 0), static_cast<ssize_t>(path.size()));
        close(fd);
        paths.push_back(path);
    }
    std::vector<char*> list;
    for (std::string& p : paths) list.push_back(p.data());
    EXPECT_EXIT(sum_into_full_device(list, dir), testing::ExitedWithCode(0), "");
}
