// End-to-end tests of sumwell's numeric options past 32 bits: the tail and the repeat count are
// 32-bit values, and numbers outside that range must stop at its limits in every build, as they
// do where long has 32 bits, instead of wrapping around to small values in a 64-bit build.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/run_program.h"

namespace {

const char too_small[] = "Error! file size is too small\n";
const char abc_line[] = "900150983cd24fb0d6963f7d28e17f72 *abc\n";

struct width_case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
    std::string err;
};

TEST(SumwellWidths, OutOfRangeNumbersStopAtTheLimits) {
    scratch_dir dir;
    dir.write("abc", "abc");
    const width_case cases[] = {
        // Wrapped, 2^32 would be a tail of 0 and 2^32 + 2 a tail of 2.
        {"a tail of 2^32", {"-t", "4294967296", "abc"}, "", too_small},
        {"a tail of 2^32 + 2", {"-t", "4294967298", "abc"}, "", too_small},
        {"a tail of -2^32", {"-t", "-4294967296", "abc"}, "", too_small},
        {"a tail past every integer", {"-t", "99999999999999999999", "abc"}, "", too_small},
        {"the largest tail", {"-t", "2147483647", "abc"}, "", too_small},
        {"a tail of 0 still sums all", {"-t", "0", "abc"}, abc_line, ""},
        // Wrapped, 1 - 2^32 would be one repeat: it is the most negative count, so none.
        {"a repeat count of 1 - 2^32", {"-b", "-4294967295", "abc"}, "", ""},
    };
    run_options options;
    options.directory = dir.root;
    for (const width_case& c : cases) {
        run_result r = run_program(sumwell_program(), c.args, options);
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

} // namespace
