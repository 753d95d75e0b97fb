// Trailer format, verification and stamping on scratch files.
#include "selfcheck/selfcheck.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "md5/md5.h"
#include "selfcheck/stamp.h"
#include "tests/scratch_dir.h"

namespace {

// A scratch directory of its own for each test, removed with its contents afterwards.
class SelfcheckFiles : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(root.empty()); }

    // Writes content to name in the scratch directory and returns its path.
    std::string write(const std::string& name, const std::string& content) {
        std::string path = root + "/" + name;
        FILE* file = fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (file == nullptr) return path;
        fwrite(content.data(), 1, content.size(), file);
        fclose(file);
        return path;
    }

    // Reads the whole file at path.
    static std::string read(const std::string& path) {
        std::string content;
        FILE* file = fopen(path.c_str(), "rb");
        if (file == nullptr) return content;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
        fclose(file);
        return content;
    }

    scratch_dir scratch;
    const std::string root = scratch.root;
};

// The trailer that records the digest of body.
std::string trailer_of(const std::string& body) {
    uint8_t digest[16];
    md5_digest(reinterpret_cast<const uint8_t*>(body.data()), static_cast<uint32_t>(body.size()),
               digest);
    char trailer[SELFCHECK_TRAILER_SIZE];
    selfcheck_format_trailer(digest, trailer);
    return std::string(trailer, sizeof trailer);
}

// A body longer than the read chunk and not a whole number of pages or MD5 blocks.
std::string long_body() {
    std::string body(200003, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131 + i / 977);
    return body;
}

TEST(SelfcheckTrailer, FormatsReadableTextOfFixedLength) {
    EXPECT_EQ(trailer_of("abc"), "\nintegrity-md5:900150983cd24fb0d6963f7d28e17f72\n");
    EXPECT_EQ(trailer_of(""), "\nintegrity-md5:d41d8cd98f00b204e9800998ecf8427e\n");
    EXPECT_EQ(trailer_of(long_body()).size(), SELFCHECK_TRAILER_SIZE);
}

TEST(SelfcheckTrailer, ParsesOnlyWellMadeTrailers) {
    const std::string good = "\nintegrity-md5:900150983cd24fb0d6963f7d28e17f72\n";
    uint8_t digest[16] = {};
    ASSERT_EQ(selfcheck_parse_trailer(good.data(), digest), SELFCHECK_OK);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);

    struct bad_case {
        const char* what;
        std::string text;
    };
    const bad_case cases[] = {
        {"upper-case digit", "\nintegrity-md5:900150983CD24fb0d6963f7d28e17f72\n"},
        {"not a digit", "\nintegrity-md5:900150983cd24fb0d6963f7d28e17f7g\n"},
        {"blank among digits", "\nintegrity-md5:900150983cd24fb0 6963f7d28e17f72\n"},
        {"other magic", "\nintegrity-sha:900150983cd24fb0d6963f7d28e17f72\n"},
        {"no leading line end", " integrity-md5:900150983cd24fb0d6963f7d28e17f72\n"},
        {"no final line end", "\nintegrity-md5:900150983cd24fb0d6963f7d28e17f72 "},
        {"NUL in digits", std::string("\nintegrity-md5:9001\0"
                                      "0983cd24fb0d6963f7d28e17f72\n",
                                      48)},
    };
    for (const bad_case& c : cases) {
        ASSERT_EQ(c.text.size(), SELFCHECK_TRAILER_SIZE) << c.what;
        EXPECT_EQ(selfcheck_parse_trailer(c.text.data(), digest), SELFCHECK_NO_TRAILER) << c.what;
    }
}

TEST_F(SelfcheckFiles, VerifiesEachKindOfFile) {
    const std::string body = "\x7f"
                             "ELF pretend program\n";
    const std::string stamped = body + trailer_of(body);
    std::string altered = stamped;
    altered[3] ^= 0x01;
    std::string wrong_digest = stamped;
    char& last_digit = wrong_digest[wrong_digest.size() - 2];
    last_digit = last_digit == '0' ? '1' : '0';
    std::string damaged = stamped;
    damaged[damaged.size() - 10] = 'X';
    const std::string big = long_body();

    struct file_case {
        const char* what;
        std::string content;
        int status;
    };
    const file_case cases[] = {
        {"stamped", stamped, SELFCHECK_OK},
        {"stamped long body", big + trailer_of(big), SELFCHECK_OK},
        {"trailer alone (empty body)", trailer_of(""), SELFCHECK_OK},
        {"byte changed before the trailer", altered, SELFCHECK_MISMATCH},
        {"last byte before the trailer changed",
         body.substr(0, body.size() - 1) + "?" + trailer_of(body), SELFCHECK_MISMATCH},
        {"digest digit changed", wrong_digest, SELFCHECK_MISMATCH},
        {"long body altered at its end", big + "x" + trailer_of(big + "y"), SELFCHECK_MISMATCH},
        {"trailer cut off", body, SELFCHECK_NO_TRAILER},
        {"trailer damaged", damaged, SELFCHECK_NO_TRAILER},
        {"byte added after the trailer", stamped + "\n", SELFCHECK_NO_TRAILER},
        {"trailer cut short", stamped.substr(0, stamped.size() - 1), SELFCHECK_NO_TRAILER},
        {"shorter than a trailer", "short", SELFCHECK_NO_TRAILER},
        {"empty", "", SELFCHECK_NO_TRAILER},
    };
    int n = 0;
    for (const file_case& c : cases) {
        std::string path = write("file" + std::to_string(n++), c.content);
        EXPECT_EQ(selfcheck_verify_file(path.c_str()), c.status) << c.what;
    }
    EXPECT_EQ(selfcheck_verify_file((root + "/missing").c_str()), SELFCHECK_UNREADABLE);
    EXPECT_EQ(selfcheck_verify_file(root.c_str()), SELFCHECK_UNREADABLE) << "a directory";
}

TEST_F(SelfcheckFiles, DigestsOnlyBytesTheFileHolds) {
    const std::string body = long_body();
    std::string path = write("data", body);
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    uint8_t expected[16];
    uint8_t actual[16];
    md5_digest(reinterpret_cast<const uint8_t*>(body.data()), 100000, expected);
    EXPECT_EQ(selfcheck_digest_prefix(fd, 100000, actual), SELFCHECK_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(actual), 16),
              std::string(reinterpret_cast<char*>(expected), 16));
    // Asking for more than the file holds must fail, not digest a shorter file as if whole.
    EXPECT_EQ(selfcheck_digest_prefix(fd, body.size() + 4096, actual), SELFCHECK_UNREADABLE);
    close(fd);
}

TEST_F(SelfcheckFiles, StampsOnceAndRefusesAlteredFiles) {
    const std::string body = "program bytes";
    std::string path = write("program", body);

    EXPECT_EQ(stamp_file(path.c_str(), 0), STAMP_ADDED);
    EXPECT_EQ(read(path), body + trailer_of(body));
    EXPECT_EQ(selfcheck_verify_file(path.c_str()), SELFCHECK_OK);

    // Stamping twice must not pile up trailers.
    EXPECT_EQ(stamp_file(path.c_str(), 0), STAMP_UNCHANGED);
    EXPECT_EQ(read(path), body + trailer_of(body));

    // An altered stamped file is not silently re-blessed...
    const std::string altered = "Program bytes";
    write("program", altered + trailer_of(body));
    EXPECT_EQ(stamp_file(path.c_str(), 0), STAMP_REFUSED);
    EXPECT_EQ(read(path), altered + trailer_of(body));
    // ...only when replacing is asked for, and then in place.
    EXPECT_EQ(stamp_file(path.c_str(), 1), STAMP_REPLACED);
    EXPECT_EQ(read(path), altered + trailer_of(altered));

    // A stripped program (trailer gone) is stamped again like a fresh one.
    write("program", altered);
    EXPECT_EQ(stamp_file(path.c_str(), 0), STAMP_ADDED);
    EXPECT_EQ(selfcheck_verify_file(path.c_str()), SELFCHECK_OK);

    std::string empty = write("empty", "");
    EXPECT_EQ(stamp_file(empty.c_str(), 0), STAMP_ADDED);
    EXPECT_EQ(read(empty), trailer_of(""));

    EXPECT_EQ(stamp_file((root + "/missing").c_str(), 0), STAMP_UNWRITABLE);
    EXPECT_EQ(stamp_file(root.c_str(), 0), STAMP_UNWRITABLE) << "a directory";
}

TEST_F(SelfcheckFiles, OpensTheExecutedNameOnlyWithoutTheSelfLink) {
    std::string first = write("first", "first");
    std::string second = write("second", "second");

    struct open_case {
        const char* what;
        const char* self_path;
        const char* execfn;
        std::string opens; // content of the file expected open, empty for none
    };
    const std::string missing = root + "/missing";
    const open_case cases[] = {
        {"self link wins over the executed name", first.c_str(), second.c_str(), "first"},
        {"executed name without the self link", missing.c_str(), second.c_str(), "second"},
        {"no self link path at all", nullptr, second.c_str(), "second"},
        {"neither opens", missing.c_str(), missing.c_str(), ""},
        {"no executed name", missing.c_str(), nullptr, ""},
        {"empty executed name", missing.c_str(), "", ""},
    };
    for (const open_case& c : cases) {
        int fd = selfcheck_open_executable(c.self_path, c.execfn);
        if (c.opens.empty()) {
            EXPECT_EQ(fd, -1) << c.what;
            if (fd >= 0) close(fd);
            continue;
        }
        ASSERT_GE(fd, 0) << c.what;
        char buffer[16];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), c.opens) << c.what;
        close(fd);
    }
}

TEST(SelfcheckRun, RefusesAnUnstampedExecutable) {
    // This test program is linked without a trailer.
    EXPECT_EQ(selfcheck_run("refused\n"), SELFCHECK_NO_TRAILER);
    EXPECT_NE(selfcheck_executable_path(), nullptr);
    EXPECT_EXIT(selfcheck_require("refused\n"), ::testing::ExitedWithCode(SELFCHECK_REFUSAL_STATUS),
                "^refused\n$");
}

void counting_handler(int) {}

TEST(SelfcheckGuard, FaultsAndTheTimeLimitEndInTheRefusal) {
    const int faults[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS, SIGABRT};
    for (int fault : faults) {
        EXPECT_EXIT(
            {
                selfcheck_guard_begin("refused\n", SELFCHECK_TIME_LIMIT);
                raise(fault);
            },
            ::testing::ExitedWithCode(SELFCHECK_REFUSAL_STATUS), "^refused\n$")
            << strsignal(fault);
    }
    EXPECT_EXIT(
        {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGSEGV);
            sigprocmask(SIG_BLOCK, &blocked, nullptr);
            selfcheck_guard_begin("blocked before\n", SELFCHECK_TIME_LIMIT);
            raise(SIGSEGV);
        },
        ::testing::ExitedWithCode(SELFCHECK_REFUSAL_STATUS), "^blocked before\n$");
    EXPECT_EXIT(
        {
            selfcheck_guard_begin("too slow\n", 1);
            for (;;) pause();
        },
        ::testing::ExitedWithCode(SELFCHECK_REFUSAL_STATUS), "^too slow\n$");
}

TEST(SelfcheckGuard, PutsBackWhatItReplaced) {
    struct sigaction own = {};
    own.sa_handler = counting_handler;
    struct sigaction before;
    sigaction(SIGSEGV, &own, &before);
    sigaction(SIGALRM, &own, nullptr);
    alarm(100);

    // A guard begun twice (from the program's start, then by the check) is ended once.
    selfcheck_guard_begin("refused\n", SELFCHECK_TIME_LIMIT);
    selfcheck_guard_begin("refused\n", SELFCHECK_TIME_LIMIT);
    selfcheck_guard_end();
    selfcheck_guard_end();

    unsigned left = alarm(0);
    EXPECT_GE(left, 98u);
    EXPECT_LE(left, 100u);
    for (int signal_number : {SIGSEGV, SIGALRM}) {
        struct sigaction now;
        sigaction(signal_number, nullptr, &now);
        EXPECT_EQ(now.sa_handler, counting_handler) << strsignal(signal_number);
    }
    sigaction(SIGSEGV, &before, nullptr);
    signal(SIGALRM, SIG_DFL);
}

} // namespace
