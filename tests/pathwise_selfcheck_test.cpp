// pathwise's integrity self-check, run on altered and untouched copies of the built program.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/altered_program.h"
#include "tests/run_program.h"

namespace {

constexpr size_t trailer_size = 48;
const std::string magic = "\nintegrity-md5:";
const std::string refusal = "ERR:Executable integrity check failed\n";

class PathwiseSelfcheck : public ::testing::Test {
  protected:
    void SetUp() override {
        original = read_file(pathwise_program());
        ASSERT_GT(original.size(), trailer_size);
        ASSERT_EQ(original.substr(original.size() - trailer_size, magic.size()), magic)
            << "the built pathwise carries no integrity trailer";
        config = scratch.write("filter.conf", "RootPath /opt/mf\n");
    }
    // Arguments that make an intact pathwise print /opt/mf and exit 0.
    std::vector<std::string> request() const { return {"-c", config, "-p", "main-root"}; }

    std::string original;
    scratch_dir scratch;
    std::string config;
};

TEST_F(PathwiseSelfcheck, AlteredCopiesStopWith126BeforeDoingAnything) {
    size_t text = original.find("Velmar Version");
    ASSERT_NE(text, std::string::npos);
    std::string text_changed = original;
    text_changed[text] = 'W';
    std::string before_trailer = original;
    before_trailer[before_trailer.size() - trailer_size - 1] ^= 0x20;
    std::string other_digest = original;
    other_digest[other_digest.size() - 2] =
        other_digest[other_digest.size() - 2] == '0' ? '1' : '0';

    struct altered_case {
        const char* what;
        std::string content;
    };
    const altered_case cases[] = {
        {"version text changed", text_changed},
        {"last byte before the trailer changed", before_trailer},
        {"trailer cut off", original.substr(0, original.size() - trailer_size)},
        {"trailer records another digest", other_digest},
    };
    int n = 0;
    for (const altered_case& c : cases) {
        std::string copy = scratch.write_program("pathwise" + std::to_string(n++), c.content);
        std::vector<std::string> args = request();
        args.push_back("-q"); // quiet mode does not silence the refusal
        run_result r = run_program(copy, args);
        EXPECT_EQ(r.status, 126) << c.what;
        EXPECT_EQ(r.err, refusal) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
    }
}

TEST_F(PathwiseSelfcheck, UntouchedCopyUnderAnotherNameRunsNormally) {
    std::string copy = scratch.write_program("where-is", original);
    run_result r = run_program(copy, request());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "/opt/mf\n");

    run_options missing_name;
    missing_name.argv0 = "pathwise-started-by-another-name";
    EXPECT_EQ(run_program(copy, request(), missing_name).out, "/opt/mf\n");
}

TEST_F(PathwiseSelfcheck, AFaultOrAHangInTheDigestCodeEndsInTheRefusal) {
    std::string intact = original;
    ASSERT_TRUE(restamp(intact));
    ASSERT_EQ(intact, original) << "restamping the intact program changed its trailer";
    int n = 0;
    for (const fault_case& c : digest_faults) {
        std::string altered = original;
        if (alter_functions(altered, symbols_of(pathwise_program()), c.functions, *c.code) == 0) {
            GTEST_SKIP() << "the built pathwise carries no symbol table";
        }
        // Stamped again: the fault or the hang, not the changed digest, must bring the refusal.
        ASSERT_TRUE(restamp(altered)) << c.what;
        std::string copy = scratch.write_program("faulty" + std::to_string(n++), altered);
        std::vector<std::string> command = {"/usr/bin/timeout", "20", copy};
        for (const std::string& arg : request()) command.push_back(arg);
        run_result r = run_command(command);
        EXPECT_EQ(r.status, 126) << c.what;
        EXPECT_EQ(r.err, refusal) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
    }
}

TEST_F(PathwiseSelfcheck, AFaultInCodeThatRunsBeforeTheCheckEndsInTheRefusal) {
    // The guard from the program's start covers everything before the check: constructors, and
    // here pathwise_main's first instructions, before it calls the check.
    std::string altered = original;
    if (alter_functions(altered, symbols_of(pathwise_program()), {"pathwise_main"},
                        illegal_instruction) == 0) {
        GTEST_SKIP() << "the built pathwise carries no symbol table";
    }
    run_result r = run_program(scratch.write_program("early", altered), request());
    EXPECT_EQ(r.status, 126);
    EXPECT_EQ(r.err, refusal);
    EXPECT_EQ(r.out, "");
}

TEST_F(PathwiseSelfcheck, NeverChecksAFileTheCallerNames) {
    // An execute-only program cannot be read through /proc/self/exe: the check must not fall
    // back to argv[0], which here names an intact copy.
    std::string intact = scratch.write_program("intact", original);
    std::string text_changed = original;
    text_changed[original.find("Velmar Version")] = 'W';
    std::string altered = scratch.write_program("altered", text_changed);
    std::string unreadable = scratch.write_program("unreadable", original);
    ASSERT_EQ(chmod(altered.c_str(), 0111), 0);
    ASSERT_EQ(chmod(unreadable.c_str(), 0111), 0);
    if (!execute_only_runs(unreadable, "--print-version")) {
        GTEST_SKIP() << "execute-only programs cannot run here";
    }

    struct caller_case {
        const char* what;
        std::vector<std::string> command;
    };
    const caller_case cases[] = {
        {"altered, started as the intact copy", started_as(intact, altered, request())},
        {"intact but unreadable", started_as(intact, unreadable, request())},
    };
    for (const caller_case& c : cases) {
        std::vector<std::string> command = without_read_override(c.command);
        if (command.empty()) GTEST_SKIP() << "cannot drop the permission override";
        run_result r = run_command(command);
        EXPECT_EQ(r.status, 126) << c.what;
        EXPECT_EQ(r.err, refusal) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
    }
}

TEST_F(PathwiseSelfcheck, WithoutProcReadsTheNameTheKernelExecuted) {
    std::string intact = scratch.write_program("intact", original);
    std::vector<std::string> hidden = without_proc(scratch.path("another-name"), intact, request());
    if (hidden.empty()) GTEST_SKIP() << "cannot run the program without /proc here";
    run_result r = run_command(hidden);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/opt/mf\n");
}

} // namespace
