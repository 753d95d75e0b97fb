// End-to-end tests of sumwell over files that a mapping could not sum safely, and over long
// mixed command lines whose output must be what one run per file prints.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "tests/run_program.h"

namespace {

const char unshare_program[] = "/usr/bin/unshare";

// A sparse file on a full memory file system: reading its holes needs no space, but a mapping
// of it does, and the program used to die of SIGBUS there. Needs a private mount namespace,
// so root and unshare.
TEST(SumwellFiles, SparseFileOnAFullMemoryFileSystem) {
    if (geteuid() != 0 || access(unshare_program, X_OK) != 0 ||
        run_program(unshare_program, {"-m", "true"}).status != 0) {
        GTEST_SKIP() << "needs root and unshare -m";
    }
    scratch_dir dir;
    std::string mount_point = dir.path("small");
    std::string zeros = dir.path("zeros");
    ASSERT_EQ(truncate(dir.write("zeros", "").c_str(), 8 << 20), 0);
    run_result expected = run_program("/usr/bin/md5sum", {zeros});
    ASSERT_EQ(expected.status, 0);
    const char script[] = "mkdir \"$1\" && mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 99\n"
                          "head -c 2M /dev/zero >\"$1/fill\" 2>/dev/null\n"
                          "truncate -s 8M \"$1/sparse\" && exec \"$2\" \"$1/sparse\"\n";
    run_result r = run_program(unshare_program,
                               {"-m", "sh", "-c", script, "sh", mount_point, sumwell_program()});
    if (r.status == 99) GTEST_SKIP() << "cannot mount a tmpfs here: " << r.err;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected.out.substr(0, 32) + " *" + mount_point + "/sparse\n");
}

} // namespace
