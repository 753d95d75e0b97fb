// The files in flight: their output on both reading engines, and when the threads' looks at the
// files end out of order.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "md5/md5.h"
#include "sumwell/file_steps.h"
#include "sumwell/in_flight.h"
#include "sumwell/reader.h"
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

// What a run printed: standard output, standard error, or both when they were one stream.
struct printed {
    std::string out, err;
    int status;
};

// The bytes written to file from its start.
std::string contents(FILE* file) {
    fflush(file);
    std::string text;
    rewind(file);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
}

// Sums paths on threads threads, to two streams or, with merged, one for both.
printed sum_paths(std::vector<std::string>& paths, uint32_t tail, int threads, bool merged) {
    std::vector<char*> list;
    for (std::string& p : paths) list.push_back(p.data());
    FILE* out = tmpfile();
    FILE* err = merged ? out : tmpfile();
    file_list files{list.size(), list.data(), nullptr, nullptr};
    printed result;
    result.status = sum_in_flight(files, tail, threads, out, err);
    result.out = contents(out);
    if (!merged) result.err = contents(err);
    fclose(out);
    if (!merged) fclose(err);
    return result;
}

// What one call per file prints: each file summed in a run of its own.
printed one_call_per_file(std::vector<std::string>& paths, uint32_t tail, bool merged) {
    printed all{"", "", 0};
    for (std::string& path : paths) {
        std::vector<std::string> one = {path};
        printed p = sum_paths(one, tail, 1, merged);
        all.out += p.out;
        all.err += p.err;
    }
    return all;
}

// Holds every descriptor the process can still open but spare, until it goes away.
struct descriptor_hog {
    explicit descriptor_hog(int spare) {
        for (;;) {
            int fd = open("/dev/null", O_RDONLY);
            if (fd < 0) break;
            fds.push_back(fd);
        }
        for (int i = 0; i < spare && !fds.empty(); ++i) {
            close(fds.back());
            fds.pop_back();
        }
    }
    ~descriptor_hog() {
        for (int fd : fds) close(fd);
    }
    std::vector<int> fds;
};

} // namespace

// A way of reading, forced through the test seams: the plain and pool engines, the ring engine
// (the one a run takes where the kernel offers it, else the pool's), and the ring engine with
// the small files read whole. The pool and the ring send every other read past the page cache.
struct reading_mode {
    const char* name;
    int engine;
    bool whole;
};
constexpr reading_mode reading_modes[] = {
    {.name = "plain", .engine = READER_PLAIN, .whole = false},
    {.name = "pool", .engine = READER_POOL, .whole = false},
    {.name = "ring", .engine = READER_RING, .whole = false},
    {.name = "ring reading whole", .engine = READER_RING, .whole = true},
};

// Sets the test seams for mode, or back to a run's own choice without one.
void force_reading(const reading_mode* mode) {
    sumwell_reader_plain_only = mode != nullptr && mode->engine == READER_PLAIN;
    sumwell_reader_pool_only = mode != nullptr && mode->engine == READER_POOL;
    sumwell_reader_memory_every_other = mode != nullptr && mode->engine != READER_PLAIN;
    sumwell_reader_whole_always = mode != nullptr && mode->whole;
}

// What the step hook does to the file named "target…" after its look: nothing, remove it, put a
// FIFO in its place, cut it to half or grow it by 5,000 bytes.
enum change { UNCHANGED, REMOVED, TO_FIFO, CUT, GROWN };
change current_change = UNCHANGED;

void change_after_look(int point, const char* path) {
    if (point != HOOK_AFTER_STAT || strstr(path, "target") == nullptr) return;
    struct stat info;
    if (current_change == UNCHANGED || stat(path, &info) != 0) return;
    if (current_change == REMOVED || current_change == TO_FIFO) unlink(path);
    if (current_change == TO_FIFO) mkfifo(path, 0644);
    if (current_change == CUT || current_change == GROWN) {
        off_t size = current_change == CUT ? info.st_size / 2 : info.st_size + 5000;
        ASSERT_EQ(truncate(path, size), 0);
    }
}

// Every kind of file, in every reading mode, prints byte for byte what one call per file
// prints: to two streams and to one, with and without a tail, with files in flight on two and
// three threads, and with descriptors so few that files wait for others to close.
TEST(SumwellInFlight, EveryEnginePrintsWhatOneCallPerFilePrints) {
    scratch_dir dir;
    ASSERT_FALSE(dir.root.empty());
    std::vector<std::string> paths;
    // Sizes around the pieces and blocks that the lanes and the reader cut files into.
    const size_t sizes[] = {1,     7,     8,     63,     64,     65,      4095,   4096,
                            65535, 65536, 65537, 131072, 200001, 1 << 20, 3000000};
    for (size_t i = 0; i < 60; ++i) {
        size_t size = sizes[i % (sizeof sizes / sizeof sizes[0])];
        std::string name = "f" + std::to_string(i);
        std::string content(size, char('a' + i % 26));
        for (size_t at = 0; at < size; at += 997) content[at] = char(at * 31 + i);
        paths.push_back(dir.write(name, content));
        if (i % 9 == 4) paths.push_back(dir.path("missing" + std::to_string(i)));
    }
    paths.insert(paths.begin() + 3, dir.root);
    paths.insert(paths.begin() + 7, "/dev/null");
    paths.insert(paths.begin() + 11, "/proc/self/status");
    std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    paths.insert(paths.begin() + 13, fifo);
    paths.push_back(dir.write("empty", ""));
    // A file whose size promises more than it holds, where the system has one.
    const char* sysfs = "/sys/kernel/uevent_seqnum";
    if (access(sysfs, R_OK) == 0) paths.insert(paths.begin() + 17, sysfs);
    struct engine_case {
        uint32_t tail;
        bool merged;
        int threads;
        int spare; // descriptors left free, or -1 for no limit
    };
    const engine_case cases[] = {
        {0, false, 2, -1},    {7, false, 3, -1}, {0, true, 2, -1},
        {65536, true, 2, -1}, {0, false, 2, 4},  {0, true, 3, 5},
    };
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    for (const engine_case& c : cases) {
        printed expected = one_call_per_file(paths, c.tail, c.merged);
        for (const reading_mode& mode : reading_modes) {
            force_reading(&mode);
            printed got;
            if (c.spare < 0) {
                got = sum_paths(paths, c.tail, c.threads, c.merged);
            } else {
                // The ring engine needs its rings' descriptors beside the files: a limit of
                // 100 lets it run, and the hog leaves only spare of the 100 free.
                rlimit tight = {100, saved.rlim_max};
                ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
                {
                    descriptor_hog hog(c.spare);
                    got = sum_paths(paths, c.tail, c.threads, c.merged);
                }
                ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
            }
            force_reading(nullptr);
            std::string label = std::string(mode.name) + ", tail " + std::to_string(c.tail) + ", " +
                                std::to_string(c.threads) + " threads, spare " +
                                std::to_string(c.spare);
            EXPECT_EQ(got.status, 0) << label;
            EXPECT_EQ(got.out, expected.out) << label;
            EXPECT_EQ(got.err, expected.err) << label;
        }
    }
}

// A file that changes between its look and its read, in every reading mode, prints what one
// call per file prints when it changes at the same step: small files read whole that did not
// hold just the bytes their look found are summed again step by step.
TEST(SumwellInFlight, FileChangedAfterItsLookPrintsWhatOneCallPerFilePrints) {
    const change changes[] = {REMOVED, TO_FIFO, CUT, GROWN};
    const char* names[] = {"", "removed", "swapped for a FIFO", "cut", "grown"};
    sumwell_step_hook = change_after_look;
    for (change c : changes) {
        for (const reading_mode& mode : reading_modes) {
            scratch_dir dir;
            ASSERT_FALSE(dir.root.empty());
            // Files of 100 to 1,543 bytes, every fifth one changed after its look; written
            // afresh before each run.
            std::vector<std::string> paths;
            auto write_files = [&] {
                paths.clear();
                for (int i = 0; i < 40; ++i) {
                    std::string name = (i % 5 == 2 ? "target" : "f") + std::to_string(i);
                    unlink(dir.path(name).c_str());
                    std::string content(size_t(100 + 37 * i), char('a' + i % 26));
                    paths.push_back(dir.write(name, content));
                }
            };
            write_files();
            current_change = c;
            printed expected = one_call_per_file(paths, 3, true);
            write_files();
            force_reading(&mode);
            printed got = sum_paths(paths, 3, 2, true);
            force_reading(nullptr);
            current_change = UNCHANGED;
            std::string label = std::string(names[c]) + ", " + mode.name;
            EXPECT_EQ(got.status, 0) << label;
            EXPECT_EQ(got.out, expected.out) << label;
        }
    }
    sumwell_step_hook = nullptr;
}

// Notes each thread that opens a file for its lanes, and takes 10 ms over each open, so that a
// thread woken late still finds files left; holds up the look at "first" as delay_first does.
std::mutex openers_lock;
std::set<pthread_t> openers;
void note_opener(int point, const char* path) {
    delay_first(point, path);
    if (point != HOOK_AFTER_FSTAT) return;
    {
        std::lock_guard<std::mutex> held(openers_lock);
        openers.insert(pthread_self());
    }
    usleep(10 * 1000);
}

// A list short enough for one look: the thread that arrives while another looks at every file
// waits for the look to end and takes its share, rather than leave the other to sum them alone.
TEST(SumwellInFlight, EveryThreadTakesPartWhileAnotherLooksAtEveryFile) {
    scratch_dir dir;
    ASSERT_FALSE(dir.root.empty());
    std::vector<std::string> paths = {dir.write("first", "abc")};
    for (int i = 1; i < 20; ++i) paths.push_back(dir.write("f" + std::to_string(i), "abc"));
    openers.clear();
    sumwell_step_hook = note_opener;
    printed got = sum_paths(paths, 0, 2, false);
    sumwell_step_hook = nullptr;
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(openers.size(), 2u);
}

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
