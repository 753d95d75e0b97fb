// End-to-end tests of pathwise: requests, labels, failures and their messages, configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/run_program.h"

namespace {

const std::string root = "/usr/local/za-ravovidoda3";
const std::string version_lines =
    "Velmar Version 3.0.0 [0284]\n"
    "VOR30/Release version, built at Jun 27 2008, 12:24:22 by quelm\n";
const std::string help_banner = "Tarnwell 3.0.0[0284]\n\n\n-c config-file-name\n\n";

// Each test gets a scratch directory holding a configuration file of its own.
class Pathwise : public ::testing::Test {
  protected:
    // Writes the configuration file that run() points pathwise at.
    void config(const std::string& text) { conf = dir.write("filter.conf", text); }
    // Runs pathwise with "-c <conf>" in front of args.
    run_result run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-c", conf});
        return run_program(pathwise_program(), args, options());
    }
    // Runs pathwise with exactly args.
    run_result run_bare(const std::vector<std::string>& args) {
        return run_program(pathwise_program(), args, options());
    }
    run_options options() const {
        run_options o;
        o.directory = dir.root;
        return o;
    }
    scratch_dir dir;
    std::string conf = dir.write("filter.conf", "");
};

TEST_F(Pathwise, NoArgumentsPrintsTheUsageLineWithItsTrailingBlank) {
    run_result r = run_program(pathwise_program(), {},
                               {.directory = dir.root, .stdout_path = "", .argv0 = "pw"});
    EXPECT_EQ(r.out,
              "Usage: pw [-c <path_to_configfile>] -a <parameter_name> -p <path_name> [-q] \n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Pathwise, OneRequestPrintsTheBareAnswer) {
    config("Foo bar\n");
    EXPECT_EQ(run({"-p", "profile-db"}).out, root + "/conf/data/zediviz.pdb\n");
    run_result r = run({"-a", "Foo"});
    EXPECT_EQ(r.out, "bar\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Pathwise, TwoOrMoreRequestsAreLabelledInAnyMix) {
    config("Foo bar\nGreeting hello world\n");
    run_result r = run({"-a", "Foo", "-p", "sample:x.eml"});
    EXPECT_EQ(r.out, "Foo:bar\nsample:" + root + "/conf/src/samples/x.eml\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run({"-p", "main-root", "-p", "config-root"}).out,
              "main-root:" + root + "\nconfig-root:" + root + "/conf\n");
    EXPECT_EQ(run({"-a", "Greeting", "-a", "Foo"}).out, "Greeting:hello world\nFoo:bar\n");
}

TEST_F(Pathwise, OnlyTheFirstColonSplitsThePathArgument) {
    EXPECT_EQ(run({"-p", "profile:a:b"}).out, root + "/conf/src/profiles/a:b\n");
    EXPECT_EQ(run({"-p", "profile-db:ignored"}).out, root + "/conf/data/zediviz.pdb\n");
    EXPECT_EQ(run({"-p", "sample:../x"}).out, root + "/conf/src/samples/../x\n");
    EXPECT_EQ(run({"-p", "sample:"}).out, root + "/conf/src/samples/\n");
}

TEST_F(Pathwise, FailuresEndTheWalkWithTheirCodeAndMessage) {
    config("X 1x\nY why\n");
    struct row {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        int status;
    };
    const row rows[] = {
        {{"-p", "nosuch:abc"}, "", "ERR:Specified path name (nosuch:abc) doesn't exist\n", 7},
        {{"-p", "Profile-DB"}, "", "ERR:Specified path name (Profile-DB) doesn't exist\n", 7},
        {{"-p", "sample"}, "", "ERR:Parameter for path name (sample) wasn't specified\n", 8},
        {{"-a", "Unset"}, "", "", 5},
        {{"-a", "RootPath"}, "", "", 5},
        {{"-a", "X", "-p", "nosuch", "-a", "Y"},
         "X:1x\n",
         "ERR:Specified path name (nosuch) doesn't exist\n",
         7},
        {{"-a", "X", "-a", "X", "-a", "Unset"}, "X:1x\nX:1x\n", "", 5},
        {{"-p", "main-root", "-a", "Unset", "-p", "nosuch"}, "main-root:" + root + "\n", "", 5},
    };
    for (const row& c : rows) {
        run_result r = run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args[1];
        EXPECT_EQ(r.err, c.err) << c.args[1];
        EXPECT_EQ(r.status, c.status) << c.args[1];
    }
}

// What one run prints and how it ends, for tables of runs under one configuration each.
struct run_case {
    std::string conf;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

TEST_F(Pathwise, EveryParameterRequestIsAnsweredFromTheFile) {
    const std::string settings = "Foo bar\nGreeting hello world\nRootPath /opt/mf\n"
                                 "FilterCFDataMainsetPath /m\n";
    const std::string long_root = "/" + std::string(1099, 'r');
    // A repeated name gets the same value again, and the root paths get what the file says.
    const run_case cases[] = {
        {settings, {"-a", "Foo", "-a", "Foo"}, "Foo:bar\nFoo:bar\n", "", 0},
        {settings,
         {"-a", "Foo", "-a", "Greeting", "-a", "Foo"},
         "Foo:bar\nGreeting:hello world\nFoo:bar\n",
         "",
         0},
        {settings, {"-a", "RootPath"}, "/opt/mf\n", "", 0},
        {settings,
         {"-a", "RootPath", "-p", "main-root", "-a", "FilterCFDataMainsetPath", "-a", "RootPath"},
         "RootPath:/opt/mf\nmain-root:/opt/mf\nFilterCFDataMainsetPath:/m\nRootPath:/opt/mf\n",
         "",
         0},
        {"RootPath " + long_root + "\n", {"-a", "RootPath"}, long_root + "\n", "", 0},
        // A name the file does not set still ends the run silently, repeated or not.
        {settings, {"-a", "BinRootPath"}, "", "", 5},
        {settings, {"-a", "Foo", "-a", "rootpath", "-a", "Foo"}, "Foo:bar\n", "", 5},
    };
    for (const run_case& c : cases) {
        config(c.conf);
        run_result r = run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args[1];
        EXPECT_EQ(r.err, c.err) << c.args[1];
        EXPECT_EQ(r.status, c.status) << c.args[1];
    }
}

TEST_F(Pathwise, APathThatCannotBeHeldWholeIsRefused) {
    const std::string too_long = "/" + std::string(1099, 'r');
    const std::string longest = "/" + std::string(1022, 'k');
    const std::string long_root = "RootPath " + too_long + "\nFoo bar\n";
    const std::string refused = "ERR:Path for path name (%s) is too long\n";
    auto refusal = [&](const std::string& argument) {
        std::string line = refused;
        return line.replace(line.find("%s"), 2, argument);
    };
    // The default source directory leaves 1106 characters for a profile's name.
    const std::string fills(1106, 'f');
    const std::string overflows = std::string(1107, 'o');
    const run_case cases[] = {
        {long_root, {"-p", "main-root"}, "", refusal("main-root"), 9},
        {long_root, {"-q", "-p", "main-root"}, "", "", 9},
        // Answers before the refused one stay printed; the directories cascaded from the root
        // cannot be held either, and a narrower root that fits wins.
        {long_root, {"-a", "Foo", "-p", "sumwell"}, "Foo:bar\n", refusal("sumwell"), 9},
        {long_root + "BinRootPath /b\n", {"-p", "sumwell"}, "/b/sumwell\n", "", 0},
        {"RootPath " + longest + "\n", {"-p", "main-root"}, longest + "\n", "", 0},
        {"RootPath " + longest + "\n", {"-p", "config-root"}, "", refusal("config-root"), 9},
        {"", {"-p", "profile:" + fills}, root + "/conf/src/profiles/" + fills + "\n", "", 0},
        {"", {"-p", "profile:" + overflows}, "", refusal("profile:" + overflows), 9},
        {"",
         {"-p", "regexp-list:" + std::string(4000, 's')},
         "",
         refusal("regexp-list:" + std::string(4000, 's')),
         9},
    };
    for (const run_case& c : cases) {
        config(c.conf);
        run_result r = run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args[1].substr(0, 40);
        EXPECT_EQ(r.err, c.err) << c.args[1].substr(0, 40);
        EXPECT_EQ(r.status, c.status) << c.args[1].substr(0, 40);
    }

    // A -c file whose name is longer than the store holds is still read by its whole name, but
    // its name is no answer.
    std::string folder = dir.root;
    while (folder.size() < 1030) folder += "/" + std::string(200, 'd');
    ASSERT_EQ(run_program("/bin/mkdir", {"-p", folder}).status, 0);
    std::string named = folder + "/filter.conf";
    FILE* file = fopen(named.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs("Foo bar\n", file);
    fclose(file);
    run_result r = run_bare({"-c", named, "-a", "Foo", "-p", "filter-config"});
    EXPECT_EQ(r.out, "Foo:bar\n");
    EXPECT_EQ(r.err, refusal("filter-config"));
    EXPECT_EQ(r.status, 9);
}

TEST_F(Pathwise, QuietAnywhereSilencesOnlyTheErrorLines) {
    for (std::vector<std::string> args : {std::vector<std::string>{"-q", "-p", "nosuch"},
                                          {"-p", "nosuch", "-q"},
                                          {"-p", "nosuch", "-Q"},
                                          {"-p", "sample", "-q"}}) {
        run_result r = run(args);
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.status, 0);
    }
    // -q as the argument of -a asks for a parameter named -q and still sets quiet mode.
    run_result r = run({"-a", "-q", "-p", "nosuch"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 5);
}

TEST_F(Pathwise, UpperCaseOptionsActLikeLowerCase) {
    config("Foo bar\n");
    EXPECT_EQ(run({"-A", "Foo", "-P", "main-root"}).out, "Foo:bar\nmain-root:" + root + "\n");
    run_result r = run({"-P", "nosuch", "-Q"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 7);
}

TEST_F(Pathwise, ArgumentsThatAreNoRequestPrintNothing) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-a"}, {"-p"}, {"foo"}, {"-q"}, {"-p", "main-root", "-a"}}) {
        run_result r = run(args);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, args.size() == 3 ? root + "\n" : "");
    }
    // A request's argument is examined in its turn: "-a -p x" asks for "-p", then -p x.
    config("-p minus-p\n");
    EXPECT_EQ(run({"-a", "-p", "main-root"}).out, "-p:minus-p\nmain-root:" + root + "\n");
}

TEST_F(Pathwise, LostOutputEndsWithItsOwnStatus) {
    run_options o = options();
    o.stdout_path = "/dev/full";
    run_result r = run_program(pathwise_program(), {"-c", conf, "-p", "main-root"}, o);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "ERR:Can't write to standard output\n");
    r = run_program(pathwise_program(), {"-c", conf, "-p", "main-root", "-q"}, o);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "");
    r = run_program(pathwise_program(), {}, o);
    EXPECT_EQ(r.status, 4);
    // A request's own failure keeps its code.
    r = run_program(pathwise_program(), {"-c", conf, "-p", "main-root", "-p", "x"}, o);
    EXPECT_EQ(r.status, 7);
}

TEST_F(Pathwise, LostHelpVersionAndUsageAreReportedLikeLostAnswers) {
    const std::string lost = "ERR:Can't write to standard output\n";
    run_options full = options();
    full.stdout_path = "/dev/full";
    // Standard output closed altogether rather than full.
    auto closed = [](const std::vector<std::string>& args) {
        std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" >&-", pathwise_program()};
        shell.insert(shell.end(), args.begin(), args.end());
        return run_program("/bin/sh", shell);
    };
    struct lost_case {
        const char* what;
        run_result result;
        std::string err;
    };
    const lost_case cases[] = {
        {"--help, full", run_program(pathwise_program(), {"--help"}, full), lost},
        {"--print-version, full", run_program(pathwise_program(), {"--print-version"}, full), lost},
        {"usage line, full", run_program(pathwise_program(), {}, full), lost},
        {"--print-version, closed", closed({"--print-version"}), lost},
        {"--help, closed", closed({"-help"}), lost},
        {"--help -q, full", run_program(pathwise_program(), {"--help", "-q"}, full), ""},
        {"--print-version -q, closed", closed({"--print-version", "-q"}), ""},
    };
    for (const lost_case& c : cases) {
        EXPECT_EQ(c.result.status, 4) << c.what;
        EXPECT_EQ(c.result.err, c.err) << c.what;
    }
}

TEST_F(Pathwise, TheTypicalRequestReadsTheNamedFile) {
    std::string alt = dir.write("alt.conf", "RootPath /opt/mf\nGreeting hello world\n");
    run_result r = run_bare({"-c", alt, "-p", "profile-db", "-a", "Greeting"});
    EXPECT_EQ(r.out, "profile-db:/opt/mf/conf/data/zediviz.pdb\nGreeting:hello world\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    // The long option, with one or two dashes, and the later of two -c options.
    EXPECT_EQ(run_bare({"--config-file", alt, "-p", "main-root"}).out, "/opt/mf\n");
    EXPECT_EQ(run_bare({"-config-file", alt, "-p", "main-root"}).out, "/opt/mf\n");
    EXPECT_EQ(run_bare({"-c", conf, "-c", alt, "-p", "main-root"}).out, "/opt/mf\n");
    // -c stores the file name, which filter-config prints.
    EXPECT_EQ(run_bare({"-c", alt, "-p", "filter-config"}).out, alt + "\n");
}

TEST_F(Pathwise, WithoutAUsableDashCTheMissingDefaultFileEndsWithStatus3) {
    const std::vector<std::string> cases[] = {
        {"-p", "main-root"},             // no -c at all
        {"-p", "main-root", "-c", conf}, // -c after the first request is not seen
        {"-C", conf, "-p", "main-root"}, // -C is not -c
        {"-c"},                          // -c without a value
    };
    for (const std::vector<std::string>& args : cases) {
        run_result r = run_bare(args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "ERR:Can't parse config file\n");
        EXPECT_EQ(r.status, 3);
    }
    run_result r = run_bare({"-q"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 3);
}

TEST_F(Pathwise, ADashCValueOfSeveralWordsIsReadAllTheSame) {
    std::string spaced = dir.write("my filter.conf", "Foo spaced\n");
    EXPECT_EQ(run_bare({"-c", spaced, "-a", "Foo"}).out, "spaced\n");
}

TEST_F(Pathwise, HelpAndVersionActOnlyBeforeTheFirstRequest) {
    for (const char* option : {"--print-version", "-print-version"}) {
        run_result r = run({option, "-p", "main-root"});
        EXPECT_EQ(r.out, version_lines);
        EXPECT_EQ(r.status, 0);
    }
    run_result r = run({"--help", "-p", "main-root"});
    EXPECT_EQ(r.out, help_banner);
    EXPECT_EQ(r.status, 0);
    // Before the file is read: a missing file does not matter.
    EXPECT_EQ(run_bare({"--help"}).status, 0);
    r = run({"-p", "main-root", "--help", "--print-version"});
    EXPECT_EQ(r.out, root + "\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Pathwise, NarrowerRootsWinInEitherOrder) {
    struct row {
        std::string line;
        std::string path_name;
        std::string expected;
    };
    const row rows[] = {
        {"BinRootPath /n", "sumwell", "/n/sumwell"},
        {"CCRootPath /n", "ruskel", "/n/bin/ruskel"},
        {"FilterControlBinPath /n", "ruskel", "/n/ruskel"},
        {"FilterConfigPath /n", "profiles", "/n/src/profiles.xml"},
        {"FilterDataConfigPath /n", "profile-db", "/n/zediviz.pdb"},
        {"FilterSrcConfigPath /n", "main", "/n/settings.xml"},
        {"FilterTmpConfigPath /n", "config-tmp-subdir", "/n/~0000"},
        {"FilterDefConfigPath /n", "config-root", "/r/conf"},
        {"FilterCFDataRootPath /n", "catlist", "/n/mainset/catlist.xml"},
        {"FilterCFDataMainsetPath /n", "cfdata-mainset-root", "/n"},
    };
    for (const row& c : rows) {
        config("RootPath /r\n" + c.line + "\n");
        run_result first = run({"-p", c.path_name, "-p", "main-root"});
        config(c.line + "\nRootPath /r\n");
        run_result second = run({"-p", c.path_name, "-p", "main-root"});
        EXPECT_EQ(first.out, c.path_name + ":" + c.expected + "\nmain-root:/r\n") << c.line;
        EXPECT_EQ(second.out, first.out) << c.line;
    }
}

TEST_F(Pathwise, BinRootPathMovesTheProgramsButNotTheFilter) {
    config("BinRootPath /b\n");
    EXPECT_EQ(run({"-p", "sumwell", "-p", "filter", "-p", "ruskel"}).out,
              "sumwell:/b/sumwell\nfilter:" + root + "/bin/vastrel\nruskel:" + root +
                  "/control/bin/ruskel\n");
}

TEST_F(Pathwise, ARefusedRootPathEndsWithStatus3) {
    config("RootPath /r\nBinRootPath /two words\nFoo bar\n");
    run_result r = run({"-p", "main-root"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ERR:Can't parse config file\n");
    EXPECT_EQ(r.status, 3);
}

TEST_F(Pathwise, AConfigurationHoldingANulByteIsRefused) {
    const std::string files[] = {
        std::string("RootPath\0comment-out /evil\n", 27),
        std::string("RootPath /opt/\0x\n", 17),
    };
    for (const std::string& file : files) {
        config(file);
        run_result r = run({"-p", "main-root"});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "ERR:Can't parse config file\n");
        EXPECT_EQ(r.status, 3);
    }
}

TEST_F(Pathwise, ConfigurationSyntaxReachesTheAnswers) {
    config("# comment\r\n  Foo   spaced value  \r\nNum 25\nEq = x\nLast no-final-line-end");
    EXPECT_EQ(run({"-a", "Foo", "-a", "Num", "-a", "Eq", "-a", "Last"}).out,
              "Foo:spaced value\nNum:25\nEq:= x\nLast:no-final-line-end\n");
}

} // namespace
