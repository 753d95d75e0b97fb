// pathwise's integrity self-check, run on altered and untouched copies of the built program.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/selfcheck_runs.h"

namespace {

const std::string refusal = "ERR:Executable integrity check failed\n";

class PathwiseSelfcheck : public SelfcheckRuns {
  protected:
    void SetUp() override {
        read_original(pathwise_program());
        config = scratch.write("filter.conf", "RootPath /opt/mf\n");
    }
    // Arguments that make an intact pathwise print /opt/mf and exit 0.
    std::vector<std::string> request() const { return {"-c", config, "-p", "main-root"}; }
    // pathwise with that request, quiet: quiet mode does not silence the refusal.
    checked_program pathwise() const {
        std::vector<std::string> args = request();
        args.push_back("-q");
        return {pathwise_program(), refusal, args};
    }

    std::string config;
};

TEST_F(PathwiseSelfcheck, AlteredCopiesStopWith126BeforeDoingAnything) {
    expect_altered_copies_refused(pathwise());
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
    expect_digest_faults_refused(pathwise());
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
    expect_callers_name_ignored(pathwise());
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
