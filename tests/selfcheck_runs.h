// The self-check tests that both programs share, written once: copies of the built program,
// altered or untouched, run with ordinary arguments. Each program's test file derives its fixture
// from SelfcheckRuns and calls these with its own program.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/altered_program.h"
#include "tests/run_program.h"

// One program under check: its built file, its refusal text, and arguments with which an intact
// copy runs and succeeds.
struct checked_program {
    std::string path;
    std::string refusal;
    std::vector<std::string> args;
};

class SelfcheckRuns : public ::testing::Test {
  protected:
    static constexpr size_t trailer_size = 48;

    // Reads the built program into original; it must end in a trailer.
    void read_original(const std::string& path) {
        original = read_file(path);
        ASSERT_GT(original.size(), trailer_size);
        ASSERT_EQ(original.substr(original.size() - trailer_size, magic.size()), magic)
            << "the built program " << path << " carries no integrity trailer";
    }

    // The original with a character of its version text changed: data that nothing reads before
    // the self-check, so the copy still starts and only the check can notice.
    std::string with_text_changed() const {
        std::string program = original;
        size_t at = program.find("Velmar Version");
        if (at != std::string::npos) program[at] = 'W';
        return program;
    }

    // The original with the trailer's last digest digit replaced by replacement, or by another
    // digit when replacement is 0.
    std::string with_digit(char replacement) const {
        std::string program = original;
        char& digit = program[program.size() - 2];
        digit = replacement != 0 ? replacement : (digit == '0' ? '1' : '0');
        return program;
    }

    // Runs command and expects the refusal with status 126 and nothing on standard output.
    static void expect_refusal(const checked_program& p, const std::vector<std::string>& command,
                               const std::string& what) {
        run_result r = run_command(command);
        EXPECT_EQ(r.status, 126) << what;
        EXPECT_EQ(r.err, p.refusal) << what;
        EXPECT_EQ(r.out, "") << what;
    }

    // Copies altered in their code, their data or their trailer stop with the refusal.
    void expect_altered_copies_refused(const checked_program& p) {
        ASSERT_NE(original.find("Velmar Version"), std::string::npos);
        std::string before_trailer = original;
        before_trailer[before_trailer.size() - trailer_size - 1] ^= 0x20;
        struct altered_case {
            const char* what;
            std::string content;
        };
        const altered_case cases[] = {
            {"version text changed", with_text_changed()},
            {"last byte before the trailer changed", before_trailer},
            {"trailer cut off", original.substr(0, original.size() - trailer_size)},
            {"trailer records another digest", with_digit(0)},
            {"trailer damaged", with_digit('X')},
            {"bytes appended after the trailer", original + "junk\n"},
        };
        int n = 0;
        for (const altered_case& c : cases) {
            std::vector<std::string> command = {
                scratch.write_program("altered" + std::to_string(n++), c.content)};
            command.insert(command.end(), p.args.begin(), p.args.end());
            expect_refusal(p, command, c.what);
        }
    }

    // A fault or a hang in the code that computes the digest, in a copy stamped again so that the
    // digest matches, still ends in the refusal.
    void expect_digest_faults_refused(const checked_program& p) {
        std::string intact = original;
        ASSERT_TRUE(restamp(intact));
        ASSERT_EQ(intact, original) << "restamping the intact program changed its trailer";
        int n = 0;
        for (const fault_case& c : digest_faults) {
            std::string altered = original;
            if (alter_functions(altered, symbols_of(p.path), c.functions, *c.code) == 0) {
                GTEST_SKIP() << "the built program carries no symbol table";
            }
            ASSERT_TRUE(restamp(altered)) << c.what;
            std::vector<std::string> command = {
                "/usr/bin/timeout", "20",
                scratch.write_program("faulty" + std::to_string(n++), altered)};
            command.insert(command.end(), p.args.begin(), p.args.end());
            expect_refusal(p, command, c.what);
        }
    }

    // An execute-only program cannot be read through /proc/self/exe: the check must not fall back
    // to argv[0], which here names an intact copy.
    void expect_callers_name_ignored(const checked_program& p) {
        std::string intact = scratch.write_program("intact", original);
        std::string altered = scratch.write_program("altered", with_text_changed());
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
            {"altered, started as the intact copy", started_as(intact, altered, p.args)},
            {"intact but unreadable", started_as(intact, unreadable, p.args)},
        };
        for (const caller_case& c : cases) {
            std::vector<std::string> command = without_read_override(c.command);
            if (command.empty()) GTEST_SKIP() << "cannot drop the permission override";
            expect_refusal(p, command, c.what);
        }
    }

    const std::string magic = "\nintegrity-md5:";
    std::string original;
    scratch_dir scratch;
};
