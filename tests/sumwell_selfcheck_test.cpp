// sumwell's integrity self-check, run on altered and untouched copies of the built program.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/selfcheck_runs.h"

namespace {

const std::string refusal = "Error! executable integrity check failed\n";

class SumwellSelfcheck : public SelfcheckRuns {
  protected:
    void SetUp() override { read_original(sumwell_program()); }
    // sumwell, with arguments that make an intact copy print its version lines.
    static checked_program sumwell() { return {sumwell_program(), refusal, {"--print-version"}}; }
};

TEST_F(SumwellSelfcheck, AlteredCopiesStopWith126BeforeDoingAnything) {
    expect_altered_copies_refused(sumwell());
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

    std::string altered = scratch.write_program("altered", with_text_changed());
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
    expect_digest_faults_refused(sumwell());
}

TEST_F(SumwellSelfcheck, NeverChecksAFileTheCallerNames) {
    expect_callers_name_ignored(sumwell());
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
