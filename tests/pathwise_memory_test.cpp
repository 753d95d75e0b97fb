// pathwise under an address-space limit: when memory runs out anywhere on the way to an answer,
// the run ends with status 20 and its message, never with an answer from another file.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/run_program.h"

namespace {

constexpr int requests = 10000;
constexpr long mebibyte = 1024 * 1024;
const std::string no_memory = "ERR:There is not enough memory\n";

// Runs pathwise with args under an address-space limit of limit bytes.
run_result run_limited(long limit, const std::vector<std::string>& args) {
    std::vector<std::string> command = {"--as=" + std::to_string(limit), pathwise_program()};
    command.insert(command.end(), args.begin(), args.end());
    return run_program("/usr/bin/prlimit", command);
}

TEST(PathwiseMemory, EveryAllocationFailureEndsInStatus20) {
    scratch_dir dir;
    std::string conf = dir.write("my.conf", "K0 from-my-conf\n");
    // Tens of thousands of -a requests make the descriptor table and the value array large
    // enough that some limit lets the first be allocated but not the second. The first request
    // is answered from my.conf, the second has no value there (status 5).
    std::vector<std::string> args = {"-c", conf};
    for (int i = 0; i < requests; ++i) {
        args.push_back("-a");
        args.push_back("K" + std::to_string(i));
    }
    const std::string answer = "K0:from-my-conf\n";
    auto answered = [&](const run_result& r) {
        return r.status == 5 && r.out == answer && r.err.empty();
    };

    // The smallest limit (to 64 KiB) under which the run answers, found by bisection.
    long low = 0;
    long high = 256 * mebibyte;
    if (!answered(run_limited(high, args))) {
        GTEST_SKIP() << "pathwise does not run under an address-space limit here (sanitizers?)";
    }
    while (high - low > 64 * 1024) {
        long middle = low + (high - low) / 2;
        (answered(run_limited(middle, args)) ? high : low) = middle;
    }

    // Below it, every limit down to the one that fails the descriptor table, and a margin: the
    // run either cannot start at all, or ends with status 20 and its message.
    int no_memory_runs = 0;
    for (long limit = high - 16 * 1024; limit > high - 3 * mebibyte / 2; limit -= 16 * 1024) {
        run_result r = run_limited(limit, args);
        if (answered(r)) continue;
        std::string what = "limit " + std::to_string(limit);
        EXPECT_EQ(r.out, "") << what;
        if (r.status == 20) {
            EXPECT_EQ(r.err, no_memory) << what;
            ++no_memory_runs;
            continue;
        }
        // Failing to start: the loader's or prlimit's own message, or a refused self-check.
        EXPECT_TRUE(r.status == 1 || r.status == 127 || r.status == 126 || r.status > 128)
            << what << ": status " << r.status << ", " << r.err;
    }
    EXPECT_GT(no_memory_runs, 0);
}

} // namespace
