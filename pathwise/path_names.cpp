#include "pathwise/path_names.h"

#include "pathstore/pathstore.h"
#include "pathwise/result_codes.h"

#include <cstdio>
#include <cstring>

// Each row names exactly one path store accessor: a getter or a composed path without argument
// (plain), or, for the rows that need a path argument, a composed path that takes it.
constexpr path_name_row path_name_rows[PATH_NAME_COUNT] = {
    // Stored values printed as they are.
    {"main-root", false, get_install_root, nullptr},
    {"filter-config", false, get_config_file, nullptr},
    {"config-root", false, get_conf_dir, nullptr},
    {"config-bin-root", false, get_conf_data_dir, nullptr}, // the compiled data, despite the name
    {"config-src-root", false, get_conf_src_dir, nullptr},
    {"config-tmp-root", false, get_conf_tmp_dir, nullptr},
    {"config-prepare-root", false, get_conf_prepare_dir, nullptr},
    {"config-backup-root", false, get_conf_backup_dir, nullptr},
    {"cfdata-root", false, get_cfdata_dir, nullptr},
    {"cfdata-mainset-root", false, get_cfdata_mainset_dir, nullptr},
    // Programs and scripts.
    {"compiler", false, trellan_path, nullptr},
    {"quessel", false, quessel_path, nullptr},
    {"compiler-script", false, compiler_script_path, nullptr},
    {"brannoch", false, brannoch_path, nullptr},
    {"halvick", false, halvick_path, nullptr},
    {"halvick-sh", false, halvick_sh_path, nullptr},
    {"orlenta", false, orlenta_path, nullptr},
    {"sorvane", false, sorvane_path, nullptr},
    {"thttpd", false, vor_thttpd_path, nullptr},
    {"fennolt", false, fennolt_path, nullptr},
    {"updrift", false, updrift_path, nullptr},
    {"sumwell", false, sumwell_path, nullptr},
    {"usersdb-compiler", false, ostrevel_path, nullptr},
    {"filter", false, filter_daemon_path, nullptr},
    {"ruskel", false, ruskel_path, nullptr},
    // Run-time files and configuration files.
    {"process-server-pid", false, process_server_pid_path, nullptr},
    {"process-server-listen", false, process_server_listen_address, nullptr},
    {"spfd-pid", false, spfd_pid_path, nullptr},
    {"spfd-socket", false, spfd_socket_path, nullptr},
    {"milter-pid", false, milter_pid_path, nullptr},
    {"httpd-pid", false, thttpd_pid_path, nullptr},
    {"updater-ini", false, updrift_conf_path, nullptr},
    {"thttpd-ini", false, vor_thttpd_conf_path, nullptr},
    {"protected-domains", false, protected_domains_path, nullptr},
    {"wex-map", false, wex_map_path, nullptr},
    {"name-wex", false, wex_map_path, nullptr},
    // Compiled configuration data, preparation area and main set.
    {"profile-db", false, profile_db_path, nullptr},
    {"list-db", false, list_db_path, nullptr},
    {"config", false, filter_cfg_path, nullptr},
    {"name-cfilter", false, data_cfb_path, nullptr},
    {"name-gsg", false, data_gsg_path, nullptr},
    {"cfg-lock", false, cfg_lock_path, nullptr},
    {"name-lock", false, cfg_lock_path, nullptr},
    {"name-prepare-cfilter", false, prepare_cfb_path, nullptr},
    {"name-prepare-gsg", false, prepare_gsg_path, nullptr},
    {"prepare-lock", false, prepare_lock_path, nullptr},
    {"catlist", false, catlist_path, nullptr},
    // Configuration sources.
    {"profiles", false, src_profiles_xml_path, nullptr},
    {"emails", false, src_emails_xml_path, nullptr},
    {"iplists", false, src_iplists_xml_path, nullptr},
    {"dnslists", false, src_dnsblacklists_xml_path, nullptr},
    {"main", false, src_settings_xml_path, nullptr},
    {"samples", false, src_samples_xml_path, nullptr},
    {"regexps", false, src_regexps_xml_path, nullptr},
    {"profile", true, nullptr, src_profile_path},
    {"hidden-profile", true, nullptr, src_hidden_profile_path},
    {"email-list", true, nullptr, src_email_list_path},
    {"ip-list", true, nullptr, src_ip_list_path},
    {"dns-list", true, nullptr, src_dns_list_path},
    {"sample", true, nullptr, src_sample_path},
    {"regexp-list", true, nullptr, src_regexp_list_path},
    // The working subdirectory.
    {"config-tmp-subdir", false, tmp_subdir_path, nullptr},
    {"config-tmp-subdir-samples", false, tmp_samples_dir_path, nullptr},
    {"config-tmp-subdir-profiles", false, tmp_profiles_dir_path, nullptr},
    {"config-tmp-subdir-iplists", false, tmp_iplists_dir_path, nullptr},
    {"config-tmp-subdir-emails", false, tmp_emails_dir_path, nullptr},
    {"config-tmp-subdir-dnsblacklists", false, tmp_dnsblacklists_dir_path, nullptr},
    {"config-tmp-subdir-regexps", false, tmp_regexps_dir_path, nullptr},
    // Logs.
    {"path-log", false, log_dir_path, nullptr},
    {"path-log-sfupdates", false, sfupdates_log_path, nullptr},
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
    if (row->needs_argument && path_argument == nullptr) return PW_ERR_NO_PATH_ARGUMENT;
    pathstore_clear_cut();
    const char* formed = row->needs_argument ? row->with_argument(path_argument) : row->plain();
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
