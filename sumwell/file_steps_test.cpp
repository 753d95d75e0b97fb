// A file that changes while sumwell sums it: cut, grown, or swapped for a FIFO at the exact
// point between looking at it and reading it, through every way of reading (one thread, a
// reader thread, and the files in flight).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "md5/md5.h"
#include "sumwell/file_steps.h"
#include "sumwell/in_flight.h"
#include "tests/scratch_dir.h"

namespace {

// What the hook does to the file named "target", and at which point.
enum change { CUT, GROW, TO_FIFO };
change current_change;

void change_target(int point, const char* path) {
    size_t length = strlen(path);
    if (length < 6 || strcmp(path + length - 6, "target") != 0) return;
    struct stat info;
    if (current_change == TO_FIFO) {
        if (point != HOOK_AFTER_STAT) return;
        unlink(path);
        mkfifo(path, 0644);
        return;
    }
    if (point != HOOK_AFTER_FSTAT || stat(path, &info) != 0) return;
    off_t size = current_change == CUT ? info.st_size / 2 : info.st_size + 5000;
    ASSERT_EQ(truncate(path, size), 0);
}

std::string hex_of(const std::string& bytes) {
    uint8_t digest[16];
    md5_digest(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
               digest);
    char hex[33];
    format_hex_digest(digest, hex);
    return hex;
}

// Runs sum_in_flight over paths and returns what it wrote to out and err.
void run(std::vector<std::string>& paths, int threads, std::string* out, std::string* err) {
    std::vector<char*> list;
    for (std::string& p : paths) list.push_back(p.data());
    char* out_text = nullptr;
    char* err_text = nullptr;
    size_t out_size = 0, err_size = 0;
    FILE* out_file = open_memstream(&out_text, &out_size);
    FILE* err_file = open_memstream(&err_text, &err_size);
    file_list files{list.size(), list.data(), nullptr, nullptr};
    EXPECT_EQ(sum_in_flight(files, 0, threads, out_file, err_file), 0);
    fclose(out_file);
    fclose(err_file);
    out->assign(out_text, out_size);
    err->assign(err_text, err_size);
    free(out_text);
    free(err_text);
}

TEST(SumwellFileSteps, FileChangedBeforeItsFirstRead) {
    struct change_case {
        const char* what;
        change how;
        bool summed;     // the original bytes' digest line is printed
        std::string err; // the message after "target"'s path, or nothing
    };
    const change_case cases[] = {
        {"cut", CUT, false, ": file shrank while it was read\n"},
        {"grown", GROW, true, ""},
        {"swapped for a FIFO", TO_FIFO, false, ""},
    };
    // A small file (read whole, digested in a batch) and one large enough to be streamed.
    const size_t sizes[] = {3000, 1 << 20};
    // Thread counts and whether abc files surround the target: one file on one thread, one
    // file with a reader thread, and the files in flight on one and on two threads.
    struct mode {
        int threads;
        bool neighbours;
    };
    const mode modes[] = {{1, false}, {2, false}, {1, true}, {2, true}};
    const std::string abc_line = hex_of("abc") + " *";
    sumwell_step_hook = change_target;
    for (const change_case& c : cases) {
        for (size_t size : sizes) {
            for (const mode& m : modes) {
                scratch_dir dir;
                std::mt19937 generator(static_cast<unsigned>(size));
                std::string content(size, '\0');
                for (char& ch : content) ch = static_cast<char>(generator());
                std::string target = dir.write("target", content);
                std::string abc = dir.write("abc", "abc");
                std::vector<std::string> paths = {target};
                if (m.neighbours) paths = {abc, target, abc};
                current_change = c.how;
                std::string out, err;
                run(paths, m.threads, &out, &err);

                std::string target_out = c.summed ? hex_of(content) + " *" + target + "\n" : "";
                std::string target_err = c.err.empty() ? "" : "Error! read " + target + c.err;
                if (c.how == TO_FIFO) target_err = "Error! file size is too small\n";
                std::string abc_out = m.neighbours ? abc_line + abc + "\n" : "";
                std::string where = std::string(c.what) + ", size " + std::to_string(size) +
                                    ", threads " + std::to_string(m.threads) +
                                    (m.neighbours ? ", among others" : "");
                EXPECT_EQ(out, abc_out + target_out + abc_out) << where;
                EXPECT_EQ(err, target_err) << where;
            }
        }
    }
    sumwell_step_hook = nullptr;
}

// Every kind of outcome writes its line or message, and a message never overtakes the lines
// before it when both streams share one file (out buffered, err not, as for a program).
TEST(SumwellFileSteps, OutcomesWrittenInOrderToOneFile) {
    scratch_dir dir;
    FILE* shared = fopen(dir.path("shared").c_str(), "w+");
    ASSERT_NE(shared, nullptr);
    FILE* out = fdopen(dup(fileno(shared)), "w");
    FILE* err = fdopen(dup(fileno(shared)), "w");
    setvbuf(out, nullptr, _IOFBF, 4096);
    setvbuf(err, nullptr, _IONBF, 0);
    struct outcome_case {
        file_outcome outcome;
        std::string text;
    };
    // The system's text for an error number, and a line end.
    auto reason = [](int error) { return std::string(strerror(error)) + "\n"; };
    const outcome_case cases[] = {
        {{OUTCOME_DIGEST, 0, {0xd4, 0x1d, 0x8c, 0xd9}}, "d41d8cd9000000000000000000000000 *f\n"},
        {{OUTCOME_STAT, ENOENT, {}}, "Error! stat f: " + reason(ENOENT)},
        {{OUTCOME_TOO_SMALL, 0, {}}, "Error! file size is too small\n"},
        {{OUTCOME_OPEN, EACCES, {}}, "Error! open f: " + reason(EACCES)},
        {{OUTCOME_MMAP, ENODEV, {}}, "Error! couldn't mmap f: " + reason(ENODEV)},
        {{OUTCOME_READ, EIO, {}}, "Error! read f: " + reason(EIO)},
        {{OUTCOME_ENDED_EARLY, 0, {}}, "Error! read f: file shrank while it was read\n"},
        {{OUTCOME_DIGEST, 0, {0xff}}, "ff000000000000000000000000000000 *f\n"},
    };
    std::string expected;
    for (const outcome_case& c : cases) {
        EXPECT_EQ(write_outcome(c.outcome, "f", out, err), 0) << c.text;
        expected += c.text;
    }
    fclose(out);
    fclose(err);
    rewind(shared);
    std::string written(expected.size() + 10, '\0');
    written.resize(fread(written.data(), 1, written.size(), shared));
    fclose(shared);
    EXPECT_EQ(written, expected);
}

} // namespace
