// The bash completion of pathwise: the generated script is sourced in bash, its function is
// driven through COMP_WORDS and COMP_CWORD, and the offers it leaves in COMPREPLY are checked.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/documented_paths.h"
#include "tests/run_program.h"

namespace {

// What one completion left: the offers in COMPREPLY, and the arguments of every compopt call
// (recorded by a function that stands in for the builtin, which works only under readline).
struct completion {
    std::vector<std::string> offers;
    std::vector<std::string> options;
};

// Completes the last of words (the program name first) in directory with the function that the
// script registered for the first word.
completion complete_with_options(const std::vector<std::string>& words,
                                 const std::string& directory = {}) {
    run_result r = complete_in_bash(VT_COMPLETION_SCRIPT, words, directory);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    completion result;
    size_t start = 0;
    for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = r.out.substr(start, end - start);
        if (line.starts_with("compopt ")) {
            result.options.push_back(line.substr(8));
        } else if (!line.empty()) {
            result.offers.push_back(line);
        }
    }
    return result;
}

// The offers of complete_with_options.
std::vector<std::string> complete(const std::vector<std::string>& words,
                                  const std::string& directory = {}) {
    return complete_with_options(words, directory).offers;
}

TEST(PathwiseCompletion, OffersThePathNamesAfterP) {
    // A name that takes a path argument is offered with its ":".
    for (const char* prefix :
         {"", "config-tmp-subdir-", "pro", "profile-db", "sam", "nothing-like-this"}) {
        std::vector<std::string> expected;
        for (const documented_path& path : documented_paths) {
            std::string offer = std::string(path.name) + (path.needs_argument ? ":" : "");
            if (offer.starts_with(prefix)) expected.push_back(offer);
        }
        EXPECT_EQ(complete({"pathwise", "-p", prefix}), expected) << prefix;
        // Like pathwise, the completion takes -P for -p, also after other requests.
        EXPECT_EQ(complete({"pathwise", "-q", "-a", "x", "-P", prefix}), expected) << prefix;
    }
    EXPECT_EQ(complete({"pathwise", "-p", ""}).size(), 70u);

    // No space goes after a lone "name:", where the path argument follows; one goes after a
    // lone name without an argument, and bash adds none while several offers remain.
    struct space_case {
        const char* prefix;
        std::vector<std::string> offers;
        std::vector<std::string> options;
    };
    const space_case spaces[] = {
        {"sample:", {"sample:"}, {"-o nospace"}}, {"regexp-", {"regexp-list:"}, {"-o nospace"}},
        {"profile-", {"profile-db"}, {}},         {"hid", {"hidden-profile:"}, {"-o nospace"}},
        {"sam", {"samples", "sample:"}, {}},
    };
    for (const space_case& c : spaces) {
        completion done = complete_with_options({"pathwise", "-p", c.prefix});
        EXPECT_EQ(done.offers, c.offers) << c.prefix;
        EXPECT_EQ(done.options, c.options) << c.prefix;
    }
}

TEST(PathwiseCompletion, IsRegisteredForTheBareNameAndTheInstalledProgram) {
    const std::vector<std::string> expected = {"profile-db"};
    EXPECT_EQ(complete({"pathwise", "-p", "profile-d"}), expected);
    EXPECT_EQ(complete({"/usr/local/za-ravovidoda3/bin/pathwise", "-p", "profile-d"}), expected);
}

TEST(PathwiseCompletion, OffersTheNamesThatTheConfigurationInForceSets) {
    scratch_dir scratch;
    // Comments, a name without a value, CR LF, a repeated name, blanks before a name, and names
    // that a shell would expand: every offer is the name as written, once.
    std::string conf = scratch.write("filter.conf", "# Commented value\n"
                                                    "Greeting hello # not a comment\r\n"
                                                    "   # Indented comment\n"
                                                    "NoValue\n"
                                                    "NoValueEither   \n"
                                                    "RootPath /opt/mf\n"
                                                    "FilterCFDataMainsetPath /m\n"
                                                    "RootPathX 1\n"
                                                    "rootpath lower\n"
                                                    "Greeting again\n"
                                                    "\tTabbed value\n"
                                                    "$HOME x\n"
                                                    "* x\n"
                                                    "Last value without a line end");
    std::string other = scratch.write("other.conf", "OnlyInOther 1\n");
    // The root paths are offered like any other name that the file sets.
    const std::vector<std::string> all = {"Greeting",  "RootPath", "FilterCFDataMainsetPath",
                                          "RootPathX", "rootpath", "Tabbed",
                                          "$HOME",     "*",        "Last"};

    EXPECT_EQ(complete({"pathwise", "-c", conf, "-a", ""}), all);
    EXPECT_EQ(complete({"pathwise", "--config-file", conf, "-p", "main-root", "-A", "R"}),
              (std::vector<std::string>{"RootPath", "RootPathX"}));
    EXPECT_EQ(complete({"pathwise", "-c", conf, "-a", "Filter"}),
              std::vector<std::string>{"FilterCFDataMainsetPath"});
    EXPECT_EQ(complete({"pathwise", "--help", "-c", other, "-c", conf, "-a", "G"}),
              std::vector<std::string>{"Greeting"});
    EXPECT_EQ(complete({"pathwise", "-c", other, "-a", ""}),
              std::vector<std::string>{"OnlyInOther"});
    EXPECT_TRUE(complete({"pathwise", "-c", scratch.path("missing.conf"), "-a", ""}).empty());

    // A -c after the first request, or after "--", is not pathwise's: the built-in file counts,
    // whatever it holds on this machine.
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"pathwise", "-p", "main-root", "-c", other, "-a", ""},
          std::vector<std::string>{"pathwise", "--", "-c", other, "-a", ""}}) {
        for (const std::string& offer : complete(words)) EXPECT_NE(offer, "OnlyInOther");
    }
}

TEST(PathwiseCompletion, ReadsTheDashCWordAsBashPassesIt) {
    scratch_dir scratch;
    ASSERT_EQ(run_program("/bin/mkdir", {scratch.path("sp ace")}).status, 0);
    scratch.write("sp ace/my.conf", "Greeting hello\n");
    scratch.write("sp\\ ace", "Backslashed 1\n");
    // HOME for the ~/ form; the test's own is put back afterwards.
    const char* home = getenv("HOME");
    const std::string saved_home = home != nullptr ? home : "";
    setenv("HOME", scratch.root.c_str(), 1);
    const struct {
        const char* word;
        const char* offer;
    } cases[] = {
        {R"(sp\ ace/my.conf)", "Greeting"},
        {R"("sp ace/my.conf")", "Greeting"},
        {R"('sp ace/my.conf')", "Greeting"},
        {R"(sp' 'ace/my.conf)", "Greeting"},
        {R"("sp ace"/\m\y.conf)", "Greeting"},
        {R"(~/sp\ ace/my.conf)", "Greeting"},
        {R"(~/"sp ace/my.conf")", "Greeting"},
        // Between double quotes a backslash escapes only $ ` " and itself.
        {R"("sp\\ ace")", "Backslashed"},
        {R"("sp\ ace")", "Backslashed"},
        {R"('sp\ ace')", "Backslashed"},
        // A quoted ~ is no home; $ and ` stay text and run nothing.
        {R"("~/sp ace/my.conf")", nullptr},
        {R"(sp\ ace/$(touch ran).conf)", nullptr},
        {R"("sp ace/`touch ran`.conf")", nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> offers =
            complete({"pathwise", "-c", c.word, "-a", ""}, scratch.root);
        if (c.offer == nullptr) {
            EXPECT_TRUE(offers.empty()) << c.word;
        } else {
            EXPECT_EQ(offers, std::vector<std::string>{c.offer}) << c.word;
        }
    }
    if (home != nullptr) {
        setenv("HOME", saved_home.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
    EXPECT_EQ(read_file(scratch.path("ran")), "");
    struct stat info;
    EXPECT_NE(stat(scratch.path("ran").c_str(), &info), 0);
}

TEST(PathwiseCompletion, OffersFileNamesAfterCAndOptionsAfterADash) {
    scratch_dir scratch;
    scratch.write("alpha.conf", "");
    scratch.write("beta.conf", "");
    ASSERT_EQ(run_program("/bin/mkdir", {scratch.path("alpine")}).status, 0);
    std::vector<std::string> files = complete({"pathwise", "-c", "al"}, scratch.root);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"alpha.conf", "alpine"}));
    EXPECT_EQ(complete({"pathwise", "--config-file", "b"}, scratch.root),
              std::vector<std::string>{"beta.conf"});

    EXPECT_EQ(complete({"pathwise", "--p"}), std::vector<std::string>{"--print-version"});
    EXPECT_TRUE(complete({"pathwise", "-p", "main-root", "x"}).empty());
}

} // namespace
