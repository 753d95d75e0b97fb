// sumwell's integrity self-check, run on altered and untouched copies of the built program.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/altered_program.h"
#include "tests/run_program.h"

namespace {

constexpr size_t trailer_size = 48;
const std::string magic = "\nintegrity-md5:";
const std::string refusal = "Error! executable integrity check failed\n";

// The program's bytes with a character of its version text changed: data that nothing reads
// before the self-check, so the copy still starts and only the check can notice.
std::string with_text_changed(std::string program) {
    size_t at = program.find("Velmar Version");
    if (at != std::string::npos) program[at] = 'W';
    return program;
}

// The program's bytes with the trailer's last digest digit replaced by replacement, or by another
// digit when replacement is 0.
std::string with_digit(std::string program, char replacement) {
    char& digit = program[program.size() - 2];
    digit = replacement != 0 ? replacement : (digit == '0' ? '1' : '0');
    return program;
}

class SumwellSelfcheck : public ::testing::Test {
  protected:
    void SetUp() override {
        original = read_file(sumwell_program());
        ASSERT_GT(original.size(), trailer_size);
        ASSERT_EQ(original.substr(original.size() - trailer_size, magic.size()), magic)
            << "the built sumwell carries no integrity trailer";
    }
    std::string original;
    scratch_dir scratch;
};

TEST_F(SumwellSelfcheck, AlteredCopiesStopWith126BeforeDoingAnything) {
    std::string before_trailer = original;
    before_trailer[before_trailer.size() - trailer_size - 1] ^= 0x20;
    ASSERT_NE(original.find("Velmar Version"), std::string::npos);

    struct altered_case {
        const char* what;
        std::string content;
    };
    const altered_case cases[] = {
        {"version text changed", with_text_changed(original)},
        {"last byte before the trailer changed", before_trailer},
        {"trailer cut off", original.substr(0, original.size() - trailer_size)},
        {"trailer records another digest", with_digit(original, 0)},
        {"trailer damaged", with_digit(original, 'X')},
        {"bytes appended after the trailer", original + "junk\n"},
    };
    int n = 0;
    for (const altered_case& c : cases) {
        std::string copy = scratch.write_program("sumwell" + std::to_string(n++), c.content);
        run_result r = run_program(copy, {"--print-version"});
        EXPECT_EQ(r.status, 126) << c.what;
        EXPECT_EQ(r.err, refusal) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
    }
}

TEST_F(SumwellSelfcheck, ChecksTheRunningFileNotTheNameItWasStartedBy) {
    std::string copy = scratch.write_program("renamed-tool", original);
    run_result untouched = run_program(copy, {"--print-version"});
    EXPECT_EQ(untouched.status, 0) << untouched.err;
    EXPECT_EQ(untouched.err, "");
    EXPECT_EQ(untouched.out.rfind("Velmar Version 3.0.0 [0284]\n", 0), 0u) << untouched.out;

    // A first argument that names no file, or names the intact original, changes nothing.
    run_options missing_name;
    missing_name.argv0 = scratch.path("no-such-program");
    EXPECT_EQ(run_program(copy, {"--print-version"}, missing_name).status, 0);

    std::string altered = scratch.write_program("altered", with_text_changed(original));
    run_options intact_name;
    intact_name.argv0 = sumwell_program();
    run_result r = run_program(altered, {"--print-version"}, intact_name);
    EXPECT_EQ(r.status, 126);
    EXPECT_EQ(r.err, refusal);
}

TEST_F(SumwellSelfcheck, TailOfTrailerLengthPrintsTheRecordedDigest) {
    // The documented way to check a program by hand.
    std::string program = sumwell_program();
    std::string recorded = original.substr(original.size() - 33, 32);
    run_result r = run_program(program, {"-t", std::to_string(trailer_size), program});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, recorded + " *" + program + "\n");
}

TEST_F(SumwellSelfcheck, AFaultOrAHangInTheDigestCodeEndsInTheRefusal) {
    std::string abc = scratch.write("abc", "abc");
    std::string intact = original;
    ASSERT_TRUE(restamp(intact));
    ASSERT_EQ(intact, original) << "restamping the intact program changed its trailer";
    int n = 0;
    for (const fault_case& c : digest_faults) {
        std::string altered = original;
        if (alter_functions(altered, symbols_of(sumwell_program()), c.functions, *c.code) == 0) {
            GTEST_SKIP() << "the built sumwell carries no symbol table";
        }
        // Stamped again: the fault or the hang, not the changed digest, must bring the refusal.
        ASSERT_TRUE(restamp(altered)) << c.what;
        std::string copy = scratch.write_program("faulty" + std::to_string(n++), altered);
        run_result r = run_command({"/usr/bin/timeout", "20", copy, abc});
        EXPECT_EQ(r.status, 126) << c.what;
        EXPECT_EQ(r.err, refusal) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
    }
}

TEST_F(SumwellSelfcheck, NeverChecksAFileTheCallerNames) {
    std::string intact = scratch.write_program("intact", original);
    std::string altered = scratch.write_program("altered", with_text_changed(original));
    std::string unreadable = scratch.write_program("unreadable", original);
    ASSERT_EQ(chmod(altered.c_str(), 0111), 0);
    ASSERT_EQ(chmod(unreadable.c_str(), 0111), 0);
    if (!execute_only_runs(unreadable, "--print-version")) {
        GTEST_SKIP() << "execute-only programs cannot run here";
    }
    const std::vector<std::vector<std::string>> commands = {
        started_as(intact, altered, {"--print-version"}),
        started_as(intact, unreadable, {"--print-version"}),
    };
    for (const std::vector<std::string>& plain : commands) {
        std::vector<std::string> command = without_read_override(plain);
        if (command.empty()) GTEST_SKIP() << "cannot drop the permission override";
        run_result r = run_command(command);
        EXPECT_EQ(r.status, 126) << plain[4];
        EXPECT_EQ(r.err, refusal) << plain[4];
        EXPECT_EQ(r.out, "") << plain[4];
    }
}

TEST_F(SumwellSelfcheck, WithoutProcBenchmarksTheProgramThatRuns) {
    // Named as it was started, by another file.
    std::string intact = scratch.write_program("intact", original);
    std::string other = scratch.write("other", "abc");
    std::vector<std::string> hidden = without_proc(other, intact, {"-b", "2"});
    if (hidden.empty()) GTEST_SKIP() << "cannot run the program without /proc here";
    run_result own = run_program(intact, {intact});
    ASSERT_EQ(own.status, 0) << own.err;
    std::string line = own.out.substr(0, 32) + " *" + other + "\n";
    run_result r = run_command(hidden);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, line + line);
}

} // namespace
