// Tests of the command-line pass: options, switches and counters across passes, where a pass
// stops, the error-callback protocol, defaults, and the version and help exits.
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "params/lcf.h"
#include "params/test_support.h"

namespace {

const char* const LEVELS[] = {"error", "warning", "debug", nullptr};

parameter_descriptor option(int32_t id, const char* name, char short_name, const char* long_name,
                            int32_t type, const char* default_value = nullptr) {
    return {id,      name, short_name,    long_name,
            type,    0,    default_value, type == LCF_TYPE_ENUM ? LEVELS : nullptr,
            nullptr, 0,    nullptr,       nullptr};
}

std::vector<parameter_descriptor> standard_rows() {
    return {
        option(10, nullptr, 'c', "config-file", LCF_TYPE_STRING),
        option(11, nullptr, 'v', "verbose", LCF_TYPE_BOOL),
        option(12, nullptr, 'd', "debug", LCF_TYPE_COUNTER),
        option(13, "RootPath", 'r', "root", LCF_TYPE_STRING),
        option(14, "Flag", 0, "flag", LCF_TYPE_BOOL),
        option(15, nullptr, 0, "level", LCF_TYPE_ENUM, "warning"),
        option(16, nullptr, 0, "port", LCF_TYPE_INT),
        option(17, "Def", 0, nullptr, LCF_TYPE_STRING, "file-default"),
        option(18, nullptr, 0, "on", LCF_TYPE_BOOL, "YES"),
        option(19, "Count", 0, "count", LCF_TYPE_COUNTER),
    };
}

// What an error callback was asked.
struct callback_call {
    uint32_t data;
    int32_t code;
    int32_t index;
    int32_t id;
};
std::vector<callback_call> calls;
int answer = 0;

int recording_callback(uint32_t data, int32_t code, int32_t index, int32_t id) {
    calls.push_back({data, code, index, id});
    return answer;
}

class CommandLine : public ::testing::Test {
  protected:
    std::vector<parameter_descriptor> rows = standard_rows();
    parser_handle* handle = nullptr;

    void SetUp() override {
        handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data());
        calls.clear();
        answer = 0;
    }
    void TearDown() override { lcf_destroy(handle); }
    int32_t pass(std::vector<std::string> words, uint32_t flags = 0) {
        std::vector<char*> arguments;
        for (std::string& word : words) arguments.push_back(word.data());
        arguments.push_back(nullptr);
        kept.push_back(std::move(words));
        return lcf_parse_command_line(handle, arguments.data(),
                                      static_cast<int32_t>(arguments.size() - 1), flags);
    }
    std::string text(int32_t id) { return text_of(handle, id); }
    bool has_entry(int32_t id) { return has_entry_for(handle, id); }

  private:
    std::vector<std::vector<std::string>> kept; // argument texts outlive the pass
};

TEST_F(CommandLine, WhereThePassStops) {
    struct stop_case {
        std::vector<std::string> words;
        int32_t result;
    };
    const stop_case cases[] = {
        {{}, 0},
        {{"-c", "a.conf"}, 2},
        {{"--config-file", "a.conf", "-v"}, 3},
        {{"--", "-c", "x"}, 1}, // "--" is taken, nothing after it is looked at
        {{"-v", "--", "x"}, 2},
        {{"word", "-c", "x"}, 0}, // not an option
        {{"-v", "--nope", "-c", "x"}, 1},
        {{"-C", "x"}, 0}, // options are case-sensitive
        {{"-", "x"}, 0},
        {{"---c", "x", "-p", "a"}, 2},
    };
    for (const stop_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first word: " << (c.words.empty() ? "" : c.words[0]));
        lcf_destroy(handle);
        handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data());
        EXPECT_EQ(pass(c.words), c.result);
        EXPECT_EQ(lcf_last_error(handle), LCF_OK);
        EXPECT_EQ(has_entry(10), c.result >= 2 && c.words[0] != "-v");
    }
}

TEST_F(CommandLine, SwitchesFlip) {
    EXPECT_EQ(pass({"-v"}), 1);
    EXPECT_EQ(lcf_get_type(handle, 11), LCF_TYPE_BOOL);
    EXPECT_EQ(text(11), "no"); // first met without a default: "no"
    EXPECT_EQ(pass({"--verbose"}), 1);
    EXPECT_EQ(text(11), "yes"); // met again in a later pass: flipped
    EXPECT_EQ(lcf_get_int(handle, 11), 1);
    EXPECT_EQ(pass({"-v", "-v", "-v"}), 3);
    EXPECT_EQ(text(11), "no");
    EXPECT_EQ(pass({"--on"}), 1);
    EXPECT_EQ(text(18), "yes"); // first met: its default, in any case
    // A switch set by the configuration file flips from the file's value.
    const std::string file = "Flag yes\n";
    EXPECT_EQ(lcf_parse_buffer(handle, file.data(), file.size()), LCF_OK);
    EXPECT_EQ(pass({"--flag"}), 1);
    EXPECT_EQ(text(14), "no");
    EXPECT_EQ(lcf_get_int(handle, 14), 0);
}

TEST_F(CommandLine, CountersCount) {
    EXPECT_EQ(pass({"-d", "--debug", "-d"}), 3);
    EXPECT_EQ(lcf_get_type(handle, 12), LCF_TYPE_COUNTER);
    EXPECT_EQ(lcf_get_int(handle, 12), 3);
    EXPECT_EQ(text(12), "3");
    EXPECT_EQ(pass({"-d", "-d"}), 2); // a second pass counts on
    EXPECT_EQ(text(12), "5");
    // A count from the file goes on from there, with text and number always alike.
    const std::string file = "Count 1999999999\n";
    EXPECT_EQ(lcf_parse_buffer(handle, file.data(), file.size()), LCF_OK);
    EXPECT_EQ(pass({"--count"}), 1);
    EXPECT_EQ(lcf_get_int(handle, 19), 2000000000);
    EXPECT_EQ(text(19), "2000000000");
    const std::string top = "Count 2147483647\n";
    EXPECT_EQ(lcf_parse_buffer(handle, top.data(), top.size()), LCF_OK);
    EXPECT_EQ(pass({"--count"}), 1);
    EXPECT_EQ(lcf_get_int(handle, 19), 2147483647);
    EXPECT_EQ(text(19), "2147483647");
    const std::string low = "Count -2147483648 below\n";
    EXPECT_EQ(lcf_parse_buffer(handle, low.data(), low.size()), LCF_OK);
    EXPECT_EQ(pass({"--count"}), 1);
    EXPECT_EQ(text(19), "-2147483647");
}

TEST_F(CommandLine, CommandLineOnlyPassStepsOverFileParameters) {
    EXPECT_EQ(pass({"-r", "/x", "--flag", "-c", "a.conf", "stop"}, LCF_PARSE_CMDLINE_ONLY), 5);
    EXPECT_FALSE(has_entry(13));
    EXPECT_FALSE(has_entry(14));
    EXPECT_EQ(text(10), "a.conf");
    // The same options are taken by a pass without the flag.
    EXPECT_EQ(pass({"-r", "/x", "--flag", "-c", "b.conf"}), 5);
    EXPECT_EQ(text(13), "/x");
    EXPECT_EQ(text(14), "no");
}

TEST_F(CommandLine, MissingValue) {
    // Without an error callback the error stays and the pass returns the count.
    EXPECT_EQ(pass({"-v", "-c"}), 2);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_MISSED_PARAM_VALUE);
    EXPECT_EQ(lcf_get_string(handle, 10), nullptr);
    EXPECT_EQ(pass({"-c", "a", "--root"}, LCF_PARSE_CMDLINE_ONLY), 3);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_MISSED_PARAM_VALUE);
    // Dropped by the callback: the pass returns the option that lacks its value.
    lcf_set_callback(handle, 0, lcf_ignore_errors);
    EXPECT_EQ(pass({"-c"}, LCF_PARSE_CMDLINE_ONLY | LCF_PARSE_DEFAULTS), 0);
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
    EXPECT_EQ(pass({"-c", "a", "--root"}, LCF_PARSE_CMDLINE_ONLY), 2);
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
}

TEST_F(CommandLine, MissingValueKeptByTheCallback) {
    lcf_set_callback(handle, 77, recording_callback);
    answer = 1;
    EXPECT_EQ(pass({"-v", "-c"}), 1);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_MISSED_PARAM_VALUE);
    EXPECT_EQ(lcf_error_line(handle), 1);
    EXPECT_STREQ(lcf_error_context(handle), "-c");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].data, 77u);
    EXPECT_EQ(calls[0].code, LCF_ERROR_MISSED_PARAM_VALUE);
    EXPECT_EQ(calls[0].index, 1);
    EXPECT_EQ(calls[0].id, 10);
    // A stepped-over option is not the current entry: the last option acted on is.
    calls.clear();
    EXPECT_EQ(pass({"-v", "--root"}, LCF_PARSE_CMDLINE_ONLY), 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].index, 1);
    EXPECT_EQ(calls[0].id, 11);
    EXPECT_STREQ(lcf_error_context(handle), "--root");
}

TEST_F(CommandLine, RefusedValueWithoutCallback) {
    EXPECT_EQ(pass({"--port", "abc"}), 2);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(text(16), "abc"); // kept although refused
    EXPECT_EQ(lcf_get_type(handle, 16), LCF_TYPE_NONE);
    EXPECT_EQ(pass({"--port", "abc", "-c", "x"}), 4); // the next value option clears it
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
}

TEST_F(CommandLine, RefusedValueDroppedByTheCallback) {
    lcf_set_callback(handle, 5, recording_callback);
    EXPECT_EQ(pass({"--port", "25", "--port", "a b", "-v"}), 5);
    EXPECT_EQ(lcf_last_error(handle), LCF_OK);
    EXPECT_EQ(text(16), "a b");
    EXPECT_EQ(lcf_get_int(handle, 16), 25); // the number stays as it was
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(calls[0].index, 2);
    EXPECT_EQ(calls[0].id, 16);
}

TEST_F(CommandLine, RefusedValueStopsThePass) {
    lcf_set_callback(handle, 5, recording_callback);
    answer = 1;
    EXPECT_EQ(pass({"-v", "--level", "verbose", "-c", "x"}), 1);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_WRONG_ENUM_VALUE);
    EXPECT_EQ(lcf_error_line(handle), 1);
    EXPECT_STREQ(lcf_error_context(handle), "--level verbose");
    ASSERT_EQ(calls.size(), 1u); // asked once, not again at the end of the pass
    EXPECT_EQ(calls[0].code, LCF_ERROR_DIFFERENT_PARAMETER_TYPE);
    EXPECT_EQ(calls[0].index, 1);
    EXPECT_FALSE(has_entry(10));
    // The context is cut to 1023 characters.
    std::string long_value(2000, 'w');
    EXPECT_EQ(pass({"--port", long_value + " more"}), 0);
    EXPECT_EQ(std::string(lcf_error_context(handle)), ("--port " + long_value).substr(0, 1023));
}

TEST_F(CommandLine, Defaults) {
    EXPECT_EQ(pass({"--level", "DEBUG"}, LCF_PARSE_CMDLINE_ONLY | LCF_PARSE_DEFAULTS), 2);
    EXPECT_EQ(lcf_get_int(handle, 15), 2); // never replaced by its default
    EXPECT_EQ(text(15), "DEBUG");
    EXPECT_EQ(lcf_get_int(handle, 18), 1);
    EXPECT_FALSE(has_entry(17)); // a file parameter waits for the file
    EXPECT_EQ(pass({}, LCF_PARSE_DEFAULTS), 0);
    EXPECT_EQ(text(17), "file-default");
    // Sorted by id after the pass.
    for (uint32_t i = 1; i < lcf_value_count(handle); ++i) {
        EXPECT_LT(lcf_value_id_at(handle, i - 1), lcf_value_id_at(handle, i));
    }
}

TEST(CommandLineDefaults, EmptyVectorAndBadEnumDefault) {
    std::vector<parameter_descriptor> rows = {option(1, nullptr, 0, "mode", LCF_TYPE_ENUM, "loud"),
                                              option(2, nullptr, 0, "on", LCF_TYPE_BOOL, "no")};
    parser_handle* handle = lcf_create(2, rows.data());
    char* none[] = {nullptr};
    EXPECT_EQ(lcf_parse_command_line(handle, none, 0, LCF_PARSE_DEFAULTS), 0);
    EXPECT_EQ(lcf_last_error(handle), LCF_ERROR_WRONG_DEFAULT_ENUM_VALUE);
    EXPECT_STREQ(lcf_get_string(handle, 1), "loud");
    EXPECT_STREQ(lcf_get_string(handle, 2), "no");
    EXPECT_EQ(lcf_get_int(handle, 2), 0);
    lcf_destroy(handle);
}

TEST(CommandLineDefaults, NothingToParse) {
    std::vector<parameter_descriptor> rows = standard_rows();
    parser_handle* handle = lcf_create(static_cast<uint32_t>(rows.size()), rows.data());
    char word[] = "-v";
    char* arguments[] = {word, nullptr};
    EXPECT_EQ(lcf_parse_command_line(nullptr, arguments, 1, 0), 0);
    EXPECT_EQ(lcf_parse_command_line(handle, nullptr, 1, LCF_PARSE_DEFAULTS), 0);
    EXPECT_EQ(lcf_parse_command_line(handle, arguments, -1, LCF_PARSE_DEFAULTS), 0);
    EXPECT_EQ(lcf_value_count(handle), 0u);
    // An empty table knows no option.
    parser_handle* empty = lcf_create(0, nullptr);
    EXPECT_EQ(lcf_parse_command_line(empty, arguments, 1, LCF_PARSE_DEFAULTS), 0);
    EXPECT_EQ(lcf_value_count(empty), 0u);
    lcf_destroy(empty);
    lcf_destroy(handle);
}

// What an option callback saw: the value it was given and the one stored at that moment.
std::vector<std::string> seen;

int recording_option(parser_handle* handle, uint32_t data, int32_t id, const char* value) {
    const char* stored = lcf_get_string(handle, id);
    seen.push_back(std::to_string(data) + ":" + (value ? value : "<null>") + ":" +
                   (stored ? stored : "<null>"));
    return 0;
}

TEST_F(CommandLine, OptionCallbacksRunBeforeTheValueIsStored) {
    seen.clear();
    ASSERT_EQ(lcf_set_param_callback(handle, 10, recording_option, 3), 0);
    ASSERT_EQ(lcf_set_param_callback(handle, 11, recording_option, 4), 0);
    EXPECT_EQ(pass({"-c", "a", "-v", "-c", "b", "-c"}), 6);
    EXPECT_EQ(seen, (std::vector<std::string>{"3:a:<null>", "4:<null>:<null>", "3:b:a"}));
    EXPECT_EQ(text(10), "b");
}

// Runs body in a child process with its standard output caught; returns the exit status and
// the output.
std::pair<int, std::string> run_in_child(void (*body)()) {
    int pipe_ends[2];
    EXPECT_EQ(pipe(pipe_ends), 0);
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        close(pipe_ends[0]);
        body();
        fflush(stdout);
        _exit(99);
    }
    close(pipe_ends[1]);
    std::string output;
    char chunk[256];
    ssize_t got = 0;
    while ((got = read(pipe_ends[0], chunk, sizeof chunk)) > 0) output.append(chunk, got);
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

const char* const VERSION_LINES =
    "Velmar Version 3.0.0 [0284]\n"
    "VOR30/Release version, built at Jun 27 2008, 12:24:22 by quelm\n";
const char* const HELP_BANNER = "Tarnwell 3.0.0[0284]\n\n\n-c config-file-name\n\n";

// The rows a program declares for its version and help switches.
void parse_exit_option(const char* argument) {
    parameter_descriptor rows[] = {
        {20002, nullptr, 'c', "config-file", LCF_TYPE_STRING, 0, nullptr, nullptr, nullptr, 0,
         nullptr, nullptr},
        {20000, nullptr, 0, "print-version", LCF_TYPE_BOOL, 0, nullptr, nullptr,
         lcf_print_version_and_exit, 0, nullptr, nullptr},
        {20000, nullptr, 0, "help", LCF_TYPE_BOOL, 0, nullptr, nullptr, lcf_print_help_and_exit, 0,
         nullptr, nullptr},
    };
    parser_handle* handle = lcf_create(3, rows);
    std::string words[] = {"-c", "x.conf", argument, "-c", "y.conf"};
    char* arguments[] = {words[0].data(), words[1].data(), words[2].data(),
                         words[3].data(), words[4].data(), nullptr};
    lcf_parse_command_line(handle, arguments, 5, LCF_PARSE_CMDLINE_ONLY | LCF_PARSE_DEFAULTS);
    printf("not reached\n");
    lcf_destroy(handle);
}

TEST(VersionAndHelp, Texts) {
    auto version = run_in_child([] { exit(lcf_print_version()); });
    EXPECT_EQ(version.first, 0);
    EXPECT_EQ(version.second, VERSION_LINES);
    char buffer[64];
    EXPECT_EQ(lcf_version_string(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "Velmar Version 3.0.0 [0284], VOR30/Release");
    char small[7];
    EXPECT_EQ(lcf_version_string(small, sizeof small), 0);
    EXPECT_STREQ(small, "Velmar");
    EXPECT_EQ(lcf_version_string(nullptr, 10), 0);
}

TEST(VersionAndHelp, ExitCallbacksEndThePass) {
    auto version = run_in_child([] { parse_exit_option("--print-version"); });
    EXPECT_EQ(version.first, 0);
    EXPECT_EQ(version.second, VERSION_LINES);
    auto help = run_in_child([] { parse_exit_option("-help"); });
    EXPECT_EQ(help.first, 0);
    EXPECT_EQ(help.second, HELP_BANNER);
    auto neither = run_in_child([] { parse_exit_option("--"); });
    EXPECT_EQ(neither.first, 99);
    EXPECT_EQ(neither.second, "not reached\n");
}

} // namespace
