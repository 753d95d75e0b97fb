// Tests of the checks run after all sources are read (limits, mandatory parameters), of user
// and group resolution and of path creation. Log messages are read back through a pipe
// registered with the log sink.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "logsink/logsink.h"
#include "params/lcf_internal.h"
#include "tests/scratch_dir.h"

namespace {

// Collects the warning and error lines the log sink writes while it lives, as "W <message>" or
// "E <message>" with the time stamp and category prefix taken out.
struct log_capture {
    int fds[2] = {-1, -1};
    log_capture() {
        if (pipe(fds) != 0) return;
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        log_add_descriptor(fds[1], LOGSINK_WARNING | LOGSINK_ERROR);
    }
    ~log_capture() {
        log_remove_descriptor(fds[1]);
        close(fds[0]);
        close(fds[1]);
    }
    std::vector<std::string> lines() {
        std::string all;
        char chunk[4096];
        ssize_t got;
        while ((got = read(fds[0], chunk, sizeof(chunk))) > 0) all.append(chunk, got);
        std::vector<std::string> result;
        size_t start = 0;
        for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = all.substr(start, end - start);
            size_t message = line.find("[NOLOGID]");
            result.push_back(line.substr(0, 1) + " " +
                             (message != std::string::npos ? line.substr(message) : line));
        }
        return result;
    }
};

parameter_descriptor make_row(int32_t id, const char* name, int32_t type) {
    parameter_descriptor row{};
    row.id = id;
    row.name = name;
    row.type = type;
    return row;
}

// Gives the id an entry assigned from text through its first descriptor row.
void set(parser_handle* handle, int32_t id, const char* text) {
    value_entry* entry = lcf_find_value(handle, id);
    if (entry == nullptr) entry = lcf_add_value(handle, id);
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(lcf_assign(entry, lcf_find_descriptor(handle, id), text), 0) << text;
}

TEST(CheckValues, IntegersAreClampedWithAWarningAndTextKept) {
    struct {
        const char* value;
        int32_t number;
        const char* message; // null: no message
    } cases[] = {
        {"0", 1,
         "W [NOLOGID]: Invalid configuration parameter: 'MaxChildren' is out of range - the "
         "minimum possible value (1) is used"},
        {"500", 100,
         "W [NOLOGID]: Invalid configuration parameter: 'MaxChildren' is out of range - the "
         "maximum possible value (100) is used"},
        {"-2147483648", 1,
         "W [NOLOGID]: Invalid configuration parameter: 'MaxChildren' is out of range - the "
         "minimum possible value (1) is used"},
        {"1", 1, nullptr},
        {"100", 100, nullptr},
        {"42", 42, nullptr},
    };
    for (const auto& c : cases) {
        parameter_descriptor rows[1] = {make_row(1, "MaxChildren", LCF_TYPE_INT)};
        rows[0].min_value = "1";
        rows[0].max_value = "100";
        parser_handle* handle = lcf_create(1, rows);
        set(handle, 1, c.value);
        log_capture log;
        EXPECT_EQ(lcf_check_values(handle), 0);
        EXPECT_EQ(lcf_get_int(handle, 1), c.number) << c.value;
        EXPECT_STREQ(lcf_get_string(handle, 1), c.value);
        std::vector<std::string> lines = log.lines();
        if (c.message == nullptr) {
            EXPECT_TRUE(lines.empty()) << c.value;
        } else {
            ASSERT_EQ(lines.size(), 1u) << c.value;
            EXPECT_EQ(lines[0], c.message);
        }
        lcf_destroy(handle);
    }
}

TEST(CheckValues, OnlyIntegerEntriesAndGivenLimitsCount) {
    parameter_descriptor rows[3] = {make_row(1, "Low", LCF_TYPE_INT),
                                    make_row(2, "Words", LCF_TYPE_STRING),
                                    make_row(3, nullptr, LCF_TYPE_INT)};
    rows[0].max_value = "10"; // no minimum
    rows[1].max_value = "10"; // not an integer parameter
    rows[2].long_name = "workers";
    rows[2].min_value = "5";
    parser_handle* handle = lcf_create(3, rows);
    set(handle, 1, "-50");
    set(handle, 2, "500");
    set(handle, 3, "2");
    log_capture log;
    EXPECT_EQ(lcf_check_values(handle), 0);
    EXPECT_EQ(lcf_get_int(handle, 1), -50);
    EXPECT_STREQ(lcf_get_string(handle, 2), "500");
    EXPECT_EQ(lcf_get_int(handle, 3), 5);
    // A command-line-only row is named by its long option.
    std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "W [NOLOGID]: Invalid configuration parameter: 'workers' is out of range "
                        "- the minimum possible value (5) is used");
    lcf_destroy(handle);
}

TEST(CheckValues, MandatoryNeedsAnEntryOrADefault) {
    parameter_descriptor rows[4] = {
        make_row(1, "WithDefault", LCF_TYPE_STRING), make_row(2, "Named", LCF_TYPE_STRING),
        make_row(3, "Absent", LCF_TYPE_STRING), make_row(4, "Later", LCF_TYPE_INT)};
    for (auto& row : rows) row.flags = LCF_MANDATORY;
    rows[0].default_value = "x";
    rows[3].flags = 0;
    rows[3].max_value = "1";
    parser_handle* handle = lcf_create(4, rows);
    lcf_add_value(handle, 2); // name met without a usable value: entry of type 0
    set(handle, 4, "7");
    {
        log_capture log;
        EXPECT_EQ(lcf_check_values(handle), -1);
        std::vector<std::string> lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "E [NOLOGID]: Mandatory parameter 'Absent' is absent");
        // The check stopped there: the row after it was not clamped.
        EXPECT_EQ(lcf_get_int(handle, 4), 7);
    }
    set(handle, 3, "given");
    {
        log_capture log;
        EXPECT_EQ(lcf_check_values(handle), 0);
        EXPECT_EQ(lcf_get_int(handle, 4), 1);
    }
    lcf_destroy(handle);
}

TEST(CheckValues, UnnamedMandatoryRowsAreNamedWithoutNulls) {
    parameter_descriptor rows[2] = {make_row(1, nullptr, LCF_TYPE_STRING),
                                    make_row(2, nullptr, LCF_TYPE_STRING)};
    rows[0].short_name = 'u';
    rows[0].flags = LCF_MANDATORY;
    rows[1].flags = LCF_MANDATORY;
    parser_handle* handle = lcf_create(2, rows);
    {
        log_capture log;
        EXPECT_EQ(lcf_check_values(handle), -1);
        EXPECT_EQ(log.lines().at(0), "E [NOLOGID]: Mandatory parameter '-u' is absent");
    }
    set(handle, 1, "x");
    {
        log_capture log;
        EXPECT_EQ(lcf_check_values(handle), -1);
        EXPECT_EQ(log.lines().at(0), "E [NOLOGID]: Mandatory parameter 'id 2' is absent");
    }
    lcf_destroy(handle);
    EXPECT_EQ(lcf_check_values(nullptr), -1);
}

struct user_group_case {
    const char* user;  // text of the user parameter, or null
    const char* group; // text of the group parameter, or null
    int result;
    int32_t user_id;
    int32_t group_id;
    const char* message; // null: no message
};

TEST(UserGroup, NamesAndNumbersResolve) {
    const passwd* root_user = getpwnam("root");
    const group* root_group = getgrnam("root");
    ASSERT_NE(root_user, nullptr);
    ASSERT_NE(root_group, nullptr);
    const auto root_uid = static_cast<int32_t>(root_user->pw_uid);
    const auto root_gid = static_cast<int32_t>(root_group->gr_gid);
    const user_group_case cases[] = {
        {nullptr, nullptr, 0, -1, -1, nullptr},
        {"root", nullptr, 0, root_uid, -1, nullptr},
        {nullptr, "root", 0, -1, root_gid, nullptr},
        {"root", "root", 0, root_uid, root_gid, nullptr},
        {nullptr, "0:0", 0, 0, 0, nullptr},
        {"1234", "567", 0, 1234, 567, nullptr},
        {"nosuchuser-qx", "root:root", 0, root_uid, root_gid, nullptr}, // group text names both
        {nullptr, "root:", 0, root_uid, -1, nullptr},
        {"root", ":root", 0, -1, root_gid, nullptr},
        {"nosuchuser-qx", nullptr, -1, 99, 99, "E [NOLOGID]: Can't find user nosuchuser-qx."},
        {"root", "nosuchgroup-qx", -1, 99, 99, "E [NOLOGID]: Can't find group nosuchgroup-qx."},
        {nullptr, "nosuchuser-qx:nosuchgroup-qx", -1, 99, 99,
         "E [NOLOGID]: Can't find group nosuchgroup-qx."},
        {nullptr, "nosuchuser-qx:0", -1, 99, 99, "E [NOLOGID]: Can't find user nosuchuser-qx."},
        {"12x", nullptr, -1, 99, 99, "E [NOLOGID]: Can't find user 12x."},
    };
    for (const auto& c : cases) {
        std::string label =
            std::string(c.user ? c.user : "(none)") + " / " + (c.group ? c.group : "(none)");
        parameter_descriptor rows[2] = {make_row(LCF_USER_PARAMETER_ID, "User", LCF_TYPE_TEXT),
                                        make_row(LCF_GROUP_PARAMETER_ID, "Group", LCF_TYPE_TEXT)};
        parser_handle* handle = lcf_create(2, rows);
        if (c.user != nullptr) set(handle, LCF_USER_PARAMETER_ID, c.user);
        if (c.group != nullptr) set(handle, LCF_GROUP_PARAMETER_ID, c.group);
        int32_t user_id = 99;
        int32_t group_id = 99;
        log_capture log;
        EXPECT_EQ(lcf_resolve_user_group(handle, &user_id, &group_id), c.result) << label;
        EXPECT_EQ(user_id, c.user_id) << label;
        EXPECT_EQ(group_id, c.group_id) << label;
        std::vector<std::string> lines = log.lines();
        if (c.message == nullptr) {
            EXPECT_TRUE(lines.empty()) << label;
        } else {
            ASSERT_EQ(lines.size(), 1u) << label;
            EXPECT_EQ(lines[0], c.message) << label;
        }
        lcf_destroy(handle);
    }
}

TEST(UserGroup, OutputsAreOptionalButNotBoth) {
    parameter_descriptor rows[2] = {make_row(LCF_USER_PARAMETER_ID, "User", LCF_TYPE_TEXT),
                                    make_row(LCF_GROUP_PARAMETER_ID, "Group", LCF_TYPE_TEXT)};
    parser_handle* handle = lcf_create(2, rows);
    set(handle, LCF_GROUP_PARAMETER_ID, "12:34");
    int32_t id = 0;
    EXPECT_EQ(lcf_resolve_user_group(handle, nullptr, nullptr), -1);
    EXPECT_EQ(lcf_resolve_user_group(handle, &id, nullptr), 0);
    EXPECT_EQ(id, 12);
    EXPECT_EQ(lcf_resolve_user_group(handle, nullptr, &id), 0);
    EXPECT_EQ(id, 34);
    lcf_destroy(handle);
    // A null handle has neither parameter.
    int32_t user = 5;
    EXPECT_EQ(lcf_resolve_user_group(nullptr, &user, nullptr), 0);
    EXPECT_EQ(user, -1);
}

// True when relative names a directory inside dir.
bool is_dir(const scratch_dir& dir, const std::string& relative) {
    struct stat info;
    return stat(dir.path(relative).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST(MakePath, CreatesEveryDirectoryBeforeTheLastSlash) {
    scratch_dir dir;
    ASSERT_FALSE(dir.root.empty());
    EXPECT_EQ(lcf_make_path((dir.root + "/a/b/c").c_str(), 0755, 0), 0);
    EXPECT_TRUE(is_dir(dir, "a"));
    EXPECT_TRUE(is_dir(dir, "a/b"));
    EXPECT_FALSE(is_dir(dir, "a/b/c"));
    // Existing directories are fine; flag bit 0 creates the last component too.
    EXPECT_EQ(lcf_make_path((dir.root + "/a/b/c").c_str(), 0755, 1), 0);
    EXPECT_TRUE(is_dir(dir, "a/b/c"));
    EXPECT_EQ(lcf_make_path((dir.root + "/x//y").c_str(), 0755, 1), 0);
    EXPECT_TRUE(is_dir(dir, "x/y"));
    EXPECT_EQ(lcf_make_path((dir.root + "/t/").c_str(), 0755, 0), 0);
    EXPECT_TRUE(is_dir(dir, "t"));
}

TEST(MakePath, RefusesEmptyAndStopsAtOverlongPrefix) {
    EXPECT_EQ(lcf_make_path(nullptr, 0755, 1), 2);
    EXPECT_EQ(lcf_make_path("", 0755, 1), 2);
    scratch_dir dir;
    ASSERT_FALSE(dir.root.empty());
    // A prefix of 1151 characters fits the directory buffer; one more does not.
    std::string base = dir.root + "/p/";
    std::string fits = base + std::string(1151 - base.size(), 'f');
    EXPECT_EQ(lcf_make_path((fits + "/file").c_str(), 0755, 0), 0);
    EXPECT_TRUE(is_dir(dir, "p"));
    std::string too_long = base + std::string(1152 - base.size(), 'g');
    EXPECT_EQ(lcf_make_path((dir.root + "/q/" + std::string(1200, 'g') + "/r").c_str(), 0755, 1),
              1);
    EXPECT_TRUE(is_dir(dir, "q")); // directories made before the stop stay
    EXPECT_EQ(lcf_make_path(too_long.c_str(), 0755, 1), 1);
    EXPECT_EQ(lcf_make_path(too_long.c_str(), 0755, 0), 0); // the last component is not made
}

} // namespace
