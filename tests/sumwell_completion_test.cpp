// The bash completion of sumwell: sourced in bash, driven through COMP_WORDS and COMP_CWORD,
// and its offers in COMPREPLY checked.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/run_program.h"

namespace {

// The offers for the last of words (the command first), from the function that the script at
// script registered for the command, one per line; its compopt calls are left out.
std::string offers(const std::string& script, const std::vector<std::string>& words,
                   const std::string& directory) {
    run_result r = complete_in_bash(script, words, directory);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string kept;
    size_t start = 0;
    for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
        if (r.out.compare(start, 8, "compopt ") != 0) kept += r.out.substr(start, end + 1 - start);
    }
    return kept;
}

TEST(SumwellCompletion, OffersTheOptionsAndFileNames) {
    scratch_dir dir;
    dir.write("--list", "");
    const std::string script = VT_SUMWELL_COMPLETION_SCRIPT;
    struct completion_case {
        std::vector<std::string> words;
        std::string offers;
    };
    const completion_case cases[] = {
        {{"sumwell", "--"},
         "--check\n--quiet\n--status\n--strict\n--warn\n--ignore-missing\n"
         "--print-version\n"},
        {{"sumwell", "--s"}, "--status\n--strict\n"},
        {{"sumwell", "-t", ""}, "\n"},
        {{"sumwell", "--check", "--l"}, "\n"},
        {{"sumwell", "--check", "--", "--l"}, "--list\n"},
        {{"/usr/local/za-ravovidoda3/bin/sumwell", "--ig"}, "--ignore-missing\n"},
    };
    for (const completion_case& c : cases) {
        EXPECT_EQ(offers(script, c.words, dir.root), c.offers) << c.words.back();
    }
    // Installed under a prefix, it completes for the program beside it.
    std::string installed = dir.path("p/share/bash-completion/completions/sumwell");
    ASSERT_EQ(run_program("/bin/sh",
                          {"-c", "mkdir -p \"${1%/*}\" && cp \"$0\" \"$1\"", script, installed})
                  .status,
              0);
    EXPECT_EQ(offers(installed, {dir.path("p/bin/sumwell"), "--wa"}, dir.root), "--warn\n");
}

} // namespace
