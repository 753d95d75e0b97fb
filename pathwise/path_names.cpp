#include "pathwise/path_names.h"

#include "pathstore/pathstore.h"
#include "pathwise/result_codes.h"

#include <cstdio>
#include <cstring>

// Each row names exactly one path store accessor: a getter or a composed path without argument
// (plain), or, for the rows that need a path argument, a composed path that takes it.
constexpr path_name_row path_name_rows[PATH_NAME_COUNT] = {
    // Stored values printed as they are.
    {"main-root", get_install_root, nullptr},
    {"filter-config", get_config_file, nullptr},
    {"config-root", get_conf_dir, nullptr},
    {"config-bin-root", get_conf_data_dir, nullptr}, // the compiled data, despite the name
    {"config-src-root", get_conf_src_dir, nullptr},
    {"config-tmp-root", get_conf_tmp_dir, nullptr},
    {"config-prepare-root", get_conf_prepare_dir, nullptr},
    {"config-backup-root", get_conf_backup_dir, nullptr},
    {"cfdata-root", get_cfdata_dir, nullptr},
    {"cfdata-mainset-root", get_cfdata_mainset_dir, nullptr},
    // Programs and scripts.
    {"compiler", trellan_path, nullptr},
    {"quessel", quessel_path, nullptr},
    {"compiler-script", compiler_script_path, nullptr},
    {"brannoch", brannoch_path, nullptr},
    {"halvick", halvick_path, nullptr},
    {"halvick-sh", halvick_sh_path, nullptr},
    {"orlenta", orlenta_path, nullptr},
    {"sorvane", sorvane_path, nullptr},
    {"thttpd", vor_thttpd_path, nullptr},
    {"fennolt", fennolt_path, nullptr},
    {"updrift", updrift_path, nullptr},
    {"sumwell", sumwell_path, nullptr},
    {"usersdb-compiler", ostrevel_path, nullptr},
    {"filter", filter_daemon_path, nullptr},
    {"ruskel", ruskel_path, nullptr},
    // Run-time files and configuration files.
    {"process-server-pid", process_server_pid_path, nullptr},
    {"process-server-listen", process_server_listen_address, nullptr},
    {"spfd-pid", spfd_pid_path, nullptr},
    {"spfd-socket", spfd_socket_path, nullptr},
    {"milter-pid", milter_pid_path, nullptr},
    {"httpd-pid", thttpd_pid_path, nullptr},
    {"updater-ini", updrift_conf_path, nullptr},
    {"thttpd-ini", vor_thttpd_conf_path, nullptr},
    {"protected-domains", protected_domains_path, nullptr},
    {"wex-map", wex_map_path, nullptr},
    {"name-wex", wex_map_path, nullptr},
    // Compiled configuration data, preparation area and main set.
    {"profile-db", profile_db_path, nullptr},
    {"list-db", list_db_path, nullptr},
    {"config", filter_cfg_path, nullptr},
    {"name-cfilter", data_cfb_path, nullptr},
    {"name-gsg", data_gsg_path, nullptr},
    {"cfg-lock", cfg_lock_path, nullptr},
    {"name-lock", cfg_lock_path, nullptr},
    {"name-prepare-cfilter", prepare_cfb_path, nullptr},
    {"name-prepare-gsg", prepare_gsg_path, nullptr},
    {"prepare-lock", prepare_lock_path, nullptr},
    {"catlist", catlist_path, nullptr},
    // Configuration sources.
    {"profiles", src_profiles_xml_path, nullptr},
    {"emails", src_emails_xml_path, nullptr},
    {"iplists", src_iplists_xml_path, nullptr},
    {"dnslists", src_dnsblacklists_xml_path, nullptr},
    {"main", src_settings_xml_path, nullptr},
    {"samples", src_samples_xml_path, nullptr},
    {"regexps", src_regexps_xml_path, nullptr},
    {"profile", nullptr, src_profile_path},
    {"hidden-profile", nullptr, src_hidden_profile_path},
    {"email-list", nullptr, src_email_list_path},
    {"ip-list", nullptr, src_ip_list_path},
    {"dns-list", nullptr, src_dns_list_path},
    {"sample", nullptr, src_sample_path},
    {"regexp-list", nullptr, src_regexp_list_path},
    // The working subdirectory.
    {"config-tmp-subdir", tmp_subdir_path, nullptr},
    {"config-tmp-subdir-samples", tmp_samples_dir_path, nullptr},
    {"config-tmp-subdir-profiles", tmp_profiles_dir_path, nullptr},
    {"config-tmp-subdir-iplists", tmp_iplists_dir_path, nullptr},
    {"config-tmp-subdir-emails", tmp_emails_dir_path, nullptr},
    {"config-tmp-subdir-dnsblacklists", tmp_dnsblacklists_dir_path, nullptr},
    {"config-tmp-subdir-regexps", tmp_regexps_dir_path, nullptr},
    // Logs.
    {"path-log", log_dir_path, nullptr},
    {"path-log-sfupdates", sfupdates_log_path, nullptr},
};

namespace {

// True when the two texts are equal; usable at compile time.
constexpr bool same_text(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// True when every row has a name (a missing row would have none) and no two rows share one, so a
// lookup in any order finds the same row.
constexpr bool rows_are_sound() {
    for (int i = 0; i < PATH_NAME_COUNT; ++i) {
        const path_name_row& row = path_name_rows[i];
        if (row.name == nullptr || row.name[0] == '\0') return false;
        for (int j = 0; j < i; ++j) {
            if (same_text(row.name, path_name_rows[j].name)) return false;
        }
    }
    return true;
}
static_assert(rows_are_sound());

char path_name_buffer[PATH_PART_SIZE];
char path_argument_buffer[PATH_ARGUMENT_SIZE];

// Copies the first length characters of text into buffer, cut to size - 1, and returns buffer.
// memmove, since text may be the buffer's own earlier result.
const char* copy_part(char* buffer, size_t size, const char* text, size_t length) {
    if (length > size - 1) length = size - 1;
    memmove(buffer, text, length);
    buffer[length] = '\0';
    return buffer;
}

} // namespace

const char* path_name_of(const char* argument) {
    if (argument == nullptr) argument = "";
    const char* colon = strchr(argument, ':');
    size_t length = colon != nullptr ? static_cast<size_t>(colon - argument) : strlen(argument);
    return copy_part(path_name_buffer, sizeof path_name_buffer, argument, length);
}

const char* path_argument_of(const char* argument) {
    if (argument == nullptr) return nullptr;
    const char* colon = strchr(argument, ':');
    if (colon == nullptr) return nullptr;
    return copy_part(path_argument_buffer, sizeof path_argument_buffer, colon + 1,
                     strlen(colon + 1));
}

const path_name_row* find_path_name(const char* path_name) {
    if (path_name == nullptr) return nullptr;
    for (const path_name_row& row : path_name_rows) {
        if (strcmp(row.name, path_name) == 0) return &row;
    }
    return nullptr;
}

int resolve_path(const char* path_name, const char* path_argument, const char** path) {
    const path_name_row* row = find_path_name(path_name);
    if (row == nullptr) return PW_ERR_UNKNOWN_PATH_NAME;
    if (path_needs_argument(*row) && path_argument == nullptr) return PW_ERR_NO_PATH_ARGUMENT;
    pathstore_clear_cut();
    const char* formed =
        path_needs_argument(*row) ? row->with_argument(path_argument) : row->plain();
    if (pathstore_cut_seen() != 0) return PW_ERR_PATH_TOO_LONG;
    *path = formed;
    return PW_OK;
}

int print_path(const char* path_name, const char* path_argument, int labelled) {
    const char* path = nullptr;
    int code = resolve_path(path_name, path_argument, &path);
    if (code != PW_OK) return code;
    if (labelled) printf("%s:", path_name);
    printf("%s\n", path);
    return PW_OK;
}
