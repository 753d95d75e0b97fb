// The check mode's line parser fed from memory, and lists longer than one chunk.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sumwell/check_list.h"
#include "tests/scratch_dir.h"

namespace {

const std::string abc = "900150983cd24fb0d6963f7d28e17f72"; // MD5 of "abc"

// The reversed form ("HEX NAME") and the text form with its mark exclude each other: whichever
// comes first decides, for every later line of every list of the run.
TEST(SumwellCheckList, FirstTextLineDecidesTheFormForTheRun) {
    struct parse_case {
        std::vector<std::string> lines;
        std::vector<std::string> names; // "" for a malformed line
    };
    const parse_case cases[] = {
        {{abc + "  a", abc + " b", abc + " *c"}, {"a", "", "c"}},
        {{abc + " a", abc + "  b", abc + " *c"}, {"a", " b", "*c"}},
        {{"MD5 (t) = " + abc, abc + " b", abc + "  c"}, {"t", "b", " c"}},
    };
    for (const parse_case& c : cases) {
        check_parser parser;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            std::string line = c.lines[i] + '\0';
            check_line parsed;
            int kind = parse_check_line(&parser, line.data(), line.size() - 1, false, &parsed);
            if (c.names[i].empty()) {
                EXPECT_EQ(kind, CHECK_LINE_MALFORMED) << c.lines[i];
            } else {
                ASSERT_EQ(kind, CHECK_LINE_FILE) << c.lines[i];
                EXPECT_STREQ(parsed.name, c.names[i].c_str());
                EXPECT_EQ(parsed.digest[0], 0x90);
            }
        }
    }
}

// A list of several chunks, its malformed lines among the files: every file's line and every
// --warn message comes out in list order in one stream, across the chunks' boundaries too.
TEST(SumwellCheckList, LongListKeepsListOrderAcrossChunks) {
    scratch_dir dir;
    std::string file = dir.write("abc", "abc");
    std::string list, expected;
    constexpr int lines = 9000;
    for (int i = 1; i <= lines; ++i) {
        if (i % 1000 == 0 || i == 4097) {
            list += "bad\n";
            expected +=
                "Error! l: " + std::to_string(i) + ": improperly formatted MD5 checksum line\n";
        } else if (i % 7 == 0) {
            list += std::string(32, '0') + "  " + file + "\n";
            expected += file + ": FAILED\n";
        } else {
            list += abc + "  " + file + "\n";
            expected += file + ": OK\n";
        }
    }
    expected += "Error! l: 10 lines are improperly formatted\n"
                "Error! l: 1284 computed checksums did NOT match\n";
    ASSERT_EQ(chdir(dir.root.c_str()), 0);
    dir.write("l", list);
    FILE* both = tmpfile();
    ASSERT_NE(both, nullptr);
    check_settings s;
    s.warn = true;
    s.threads = 2;
    char name[] = "l";
    char* lists[] = {name};
    int write_error = -1;
    EXPECT_EQ(check_lists(1, lists, s, both, both, &write_error), 1);
    EXPECT_EQ(write_error, 0);
    fflush(both);
    rewind(both);
    std::string got;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, both)) > 0) got.append(buffer, n);
    fclose(both);
    EXPECT_EQ(got, expected);
    ASSERT_EQ(chdir("/"), 0);
}

} // namespace
