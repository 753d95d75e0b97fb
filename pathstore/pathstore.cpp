#include "pathstore/pathstore.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// The 20 stored values, as indexes into the value buffers.
enum value_id : int {
    INSTALL_ROOT,
    BIN_DIR,
    RUN_DIR,
    FILTER_BIN_DIR,
    ETC_DIR,
    CONFIG_FILE,
    CONTROL_DIR,
    CONTROL_BIN_DIR,
    CONTROL_TMP_DIR,
    CONF_DIR,
    CONF_SRC_DIR,
    CONF_DATA_DIR,
    CONF_DEF_DIR,
    CONF_TMP_DIR,
    CONF_PREPARE_DIR,
    CONF_BACKUP_DIR,
    TMP_SUBDIR_NAME,
    CFDATA_DIR,
    CFDATA_MAINSET_DIR,
    CFDATA_BASES_DIR,
    VALUE_COUNT
};

struct default_row {
    value_id id;
    const char* text;
};

// The built-in layout. Apart from config_file and tmp_subdir_name, every value is what
// set_install_root makes of the default root.
constexpr default_row default_values[] = {
    {INSTALL_ROOT, "/usr/local/za-ravovidoda3"},
    {BIN_DIR, "/usr/local/za-ravovidoda3/bin"},
    {RUN_DIR, "/usr/local/za-ravovidoda3/run"},
    {FILTER_BIN_DIR, "/usr/local/za-ravovidoda3/bin"},
    {ETC_DIR, "/usr/local/za-ravovidoda3/etc"},
    {CONFIG_FILE, "/usr/local/za-ravovidoda3/etc/filter.conf"},
    {CONTROL_DIR, "/usr/local/za-ravovidoda3/control"},
    {CONTROL_BIN_DIR, "/usr/local/za-ravovidoda3/control/bin"},
    {CONTROL_TMP_DIR, "/usr/local/za-ravovidoda3/control/tmp"},
    {CONF_DIR, "/usr/local/za-ravovidoda3/conf"},
    {CONF_SRC_DIR, "/usr/local/za-ravovidoda3/conf/src"},
    {CONF_DATA_DIR, "/usr/local/za-ravovidoda3/conf/data"},
    {CONF_DEF_DIR, "/usr/local/za-ravovidoda3/conf/def"},
    {CONF_TMP_DIR, "/usr/local/za-ravovidoda3/conf/tmp"},
    {CONF_PREPARE_DIR, "/usr/local/za-ravovidoda3/conf/prepare"},
    {CONF_BACKUP_DIR, "/usr/local/za-ravovidoda3/conf/backup"},
    {TMP_SUBDIR_NAME, "~0000"},
    {CFDATA_DIR, "/usr/local/za-ravovidoda3/cfdata"},
    {CFDATA_MAINSET_DIR, "/usr/local/za-ravovidoda3/cfdata/mainset"},
    {CFDATA_BASES_DIR, "/usr/local/za-ravovidoda3/cfdata/bases"},
};
static_assert(sizeof default_values / sizeof default_values[0] == VALUE_COUNT);

// Row i holds value i's default, so that a default is found by its value's id.
constexpr bool defaults_in_id_order() {
    for (int i = 0; i < VALUE_COUNT; ++i) {
        if (default_values[i].id != i) return false;
    }
    return true;
}
static_assert(defaults_in_id_order());

// One step of a cascading setter: after parent is stored, child is set to parent + suffix.
struct cascade_row {
    value_id parent;
    const char* suffix;
    value_id child;
};

// The cascades, each parent's steps in the order they run. A child that cascades itself finishes
// its own steps before its parent takes the next one.
constexpr cascade_row cascades[] = {
    {.parent = INSTALL_ROOT, .suffix = "/bin", .child = BIN_DIR},
    {.parent = INSTALL_ROOT, .suffix = "/control", .child = CONTROL_DIR},
    {.parent = INSTALL_ROOT, .suffix = "/conf", .child = CONF_DIR},
    {.parent = INSTALL_ROOT, .suffix = "/cfdata", .child = CFDATA_DIR},
    {.parent = INSTALL_ROOT, .suffix = "/run", .child = RUN_DIR},
    {.parent = INSTALL_ROOT, .suffix = "/bin", .child = FILTER_BIN_DIR},
    {.parent = INSTALL_ROOT, .suffix = "/etc", .child = ETC_DIR},
    {.parent = CONTROL_DIR, .suffix = "/bin", .child = CONTROL_BIN_DIR},
    {.parent = CONTROL_DIR, .suffix = "/tmp", .child = CONTROL_TMP_DIR},
    {.parent = CONF_DIR, .suffix = "/src", .child = CONF_SRC_DIR},
    {.parent = CONF_DIR, .suffix = "/def", .child = CONF_DEF_DIR},
    {.parent = CONF_DIR, .suffix = "/data", .child = CONF_DATA_DIR},
    {.parent = CONF_DIR, .suffix = "/tmp", .child = CONF_TMP_DIR},
    {.parent = CONF_DIR, .suffix = "/prepare", .child = CONF_PREPARE_DIR},
    {.parent = CONF_DIR, .suffix = "/backup", .child = CONF_BACKUP_DIR},
    {.parent = CFDATA_DIR, .suffix = "/mainset", .child = CFDATA_MAINSET_DIR},
    {.parent = CFDATA_DIR, .suffix = "/bases", .child = CFDATA_BASES_DIR},
};

VT_LARGE_BUFFER char values[VALUE_COUNT][PATHSTORE_VALUE_SIZE];
char path_scratch[PATHSTORE_SCRATCH_SIZE];
// defaults_loaded[id]: value id's buffer holds its default, or a value stored over it since.
// Each default is written at the value's first use rather than all twenty at once: the buffers
// span five pages, and each page a run touches costs it a page fault (about 10 us in a virtual
// machine) where a run that reads one value needs only that value's page.
bool defaults_loaded[VALUE_COUNT];
// value_cut[id]: the text last stored under id was cut. A child cascaded from a cut parent is
// longer than its buffer too, so it is marked by its own length.
bool value_cut[VALUE_COUNT];
// Set when a cut stored value is read or a composed path is cut; see pathstore_cut_seen.
bool cut_seen;

// Copies text into the value's buffer, cut to 1023 characters. memmove because a caller may pass
// the value's own buffer (set_conf_dir(get_conf_dir())); a null text is stored as empty.
void store_value(value_id id, const char* text) {
    if (text == nullptr) text = "";
    size_t length = strnlen(text, PATHSTORE_VALUE_SIZE - 1);
    value_cut[id] = text[length] != '\0';
    memmove(values[id], text, length);
    values[id][length] = '\0';
    defaults_loaded[id] = true;
}

// Writes value id's default into its buffer: once per value at most, so kept out of line rather
// than copied into each of the accessors.
[[gnu::cold]] void load_default(value_id id) {
    store_value(id, default_values[id].text);
}

// Returns the buffer of a stored value, its default written there at its first use.
const char* value_of(value_id id) {
    if (!defaults_loaded[id]) load_default(id);
    if (value_cut[id]) cut_seen = true;
    return values[id];
}

// Stores text under id, then runs id's cascade steps in table order; returns 0. Each child's text
// is formed in path_scratch from the parent's stored (already cut) value.
int set_value(value_id id, const char* text) {
    store_value(id, text);
    for (const cascade_row& step : cascades) {
        if (step.parent != id) continue;
        snprintf(path_scratch, PATHSTORE_COMPOSED_MAX + 1, "%s%s", values[id], step.suffix);
        set_value(step.child, path_scratch);
    }
    return 0;
}

// Formats into path_scratch, cut to 1150 characters, and returns it. The text is formed in a
// local buffer first, so an argument that is itself a previous composed result still reads right.
__attribute__((format(printf, 1, 2))) const char* compose(const char* format, ...) {
    char formed[PATHSTORE_SCRATCH_SIZE];
    va_list arguments;
    va_start(arguments, format);
    if (vsnprintf(formed, PATHSTORE_COMPOSED_MAX + 1, format, arguments) > PATHSTORE_COMPOSED_MAX) {
        cut_seen = true;
    }
    va_end(arguments);
    memcpy(path_scratch, formed, strnlen(formed, PATHSTORE_COMPOSED_MAX) + 1);
    path_scratch[PATHSTORE_SCRATCH_SIZE - 1] = '\0';
    return path_scratch;
}

const char* name_text(const char* name) {
    return name != nullptr ? name : "";
}

// bin_dir + "/" + file.
const char* in_bin(const char* file) {
    return compose("%s/%s", value_of(BIN_DIR), file);
}

// run_dir + "/" + file.
const char* in_run(const char* file) {
    return compose("%s/%s", value_of(RUN_DIR), file);
}

// conf_tmp_dir + "/" + tmp_subdir_name + tail (tail starts with "/" or is empty).
const char* in_tmp_subdir(const char* tail) {
    return compose("%s/%s%s", value_of(CONF_TMP_DIR), value_of(TMP_SUBDIR_NAME), tail);
}

} // namespace

int pathstore_cut_seen() {
    return cut_seen ? 1 : 0;
}
void pathstore_clear_cut() {
    cut_seen = false;
}

const char* get_install_root() {
    return value_of(INSTALL_ROOT);
}
const char* get_config_file() {
    return value_of(CONFIG_FILE);
}
const char* get_control_dir() {
    return value_of(CONTROL_DIR);
}
const char* get_control_bin_dir() {
    return value_of(CONTROL_BIN_DIR);
}
const char* get_control_tmp_dir() {
    return value_of(CONTROL_TMP_DIR);
}
const char* get_conf_dir() {
    return value_of(CONF_DIR);
}
const char* get_conf_src_dir() {
    return value_of(CONF_SRC_DIR);
}
const char* get_conf_data_dir() {
    return value_of(CONF_DATA_DIR);
}
const char* get_conf_def_dir() {
    return value_of(CONF_DEF_DIR);
}
const char* get_conf_tmp_dir() {
    return value_of(CONF_TMP_DIR);
}
const char* get_conf_prepare_dir() {
    return value_of(CONF_PREPARE_DIR);
}
const char* get_conf_backup_dir() {
    return value_of(CONF_BACKUP_DIR);
}
const char* get_cfdata_dir() {
    return value_of(CFDATA_DIR);
}
const char* get_cfdata_mainset_dir() {
    return value_of(CFDATA_MAINSET_DIR);
}

int set_install_root(const char* text) {
    return set_value(INSTALL_ROOT, text);
}
int set_bin_dir(const char* text) {
    return set_value(BIN_DIR, text);
}
int set_run_dir(const char* text) {
    return set_value(RUN_DIR, text);
}
int set_filter_bin_dir(const char* text) {
    return set_value(FILTER_BIN_DIR, text);
}
int set_etc_dir(const char* text) {
    return set_value(ETC_DIR, text);
}
int set_config_file(const char* text) {
    return set_value(CONFIG_FILE, text);
}
int set_control_dir(const char* text) {
    return set_value(CONTROL_DIR, text);
}
int set_control_bin_dir(const char* text) {
    return set_value(CONTROL_BIN_DIR, text);
}
int set_control_tmp_dir(const char* text) {
    return set_value(CONTROL_TMP_DIR, text);
}
int set_conf_dir(const char* text) {
    return set_value(CONF_DIR, text);
}
int set_conf_src_dir(const char* text) {
    return set_value(CONF_SRC_DIR, text);
}
int set_conf_data_dir(const char* text) {
    return set_value(CONF_DATA_DIR, text);
}
int set_conf_def_dir(const char* text) {
    return set_value(CONF_DEF_DIR, text);
}
int set_conf_tmp_dir(const char* text) {
    return set_value(CONF_TMP_DIR, text);
}
int set_conf_prepare_dir(const char* text) {
    return set_value(CONF_PREPARE_DIR, text);
}
int set_conf_backup_dir(const char* text) {
    return set_value(CONF_BACKUP_DIR, text);
}
int set_tmp_subdir_name(const char* text) {
    return set_value(TMP_SUBDIR_NAME, text);
}
int set_cfdata_dir(const char* text) {
    return set_value(CFDATA_DIR, text);
}
int set_cfdata_mainset_dir(const char* text) {
    return set_value(CFDATA_MAINSET_DIR, text);
}
int set_cfdata_bases_dir(const char* text) {
    return set_value(CFDATA_BASES_DIR, text);
}

const char* trellan_path() {
    return in_bin("trellan");
}
const char* quessel_path() {
    return in_bin("quessel");
}
const char* compiler_script_path() {
    return in_bin("quessel");
}
const char* orlenta_path() {
    return in_bin("orlenta");
}
const char* brannoch_path() {
    return in_bin("brannoch");
}
const char* halvick_path() {
    return in_bin("halvick");
}
const char* halvick_sh_path() {
    return in_bin("halvick.sh");
}
const char* fennolt_path() {
    return in_bin("fennolt");
}
const char* sorvane_path() {
    return in_bin("sorvane");
}
const char* updrift_path() {
    return in_bin("updrift");
}
const char* sumwell_path() {
    return in_bin("sumwell");
}
const char* ostrevel_path() {
    return in_bin("ostrevel");
}
const char* vor_thttpd_path() {
    return in_bin("vor-thttpd");
}
const char* yarbeck_path() {
    return in_bin("yarbeck");
}
const char* quillon_path() {
    return in_bin("quillon");
}

const char* filter_daemon_path() {
    return compose("%s/%s", value_of(FILTER_BIN_DIR), "vastrel");
}

const char* updrift_conf_path() {
    return compose("%s/%s", value_of(ETC_DIR), "updrift.conf");
}
const char* vor_thttpd_conf_path() {
    return compose("%s/%s", value_of(ETC_DIR), "vor-thttpd.conf");
}

const char* process_server_pid_path() {
    return in_run("dunmere.pid");
}
const char* spfd_pid_path() {
    return in_run("ox-spfd.pid");
}
const char* spfd_socket_path() {
    return in_run("ox-spfd.socket");
}
const char* milter_pid_path() {
    return in_run("vor-milter.pid");
}
const char* thttpd_pid_path() {
    return in_run("vor-thttpd.pid");
}
const char* process_server_listen_address() {
    return compose("unix:%s/%s", value_of(RUN_DIR), "dunmere.socket");
}
const char* milter_socket_address() {
    return compose("local:%s/%s", "/var/run", "vor-milter.socket");
}

const char* ostlane_path() {
    return compose("%s/%s", value_of(CONTROL_BIN_DIR), "ostlane");
}
const char* ruskel_path() {
    return compose("%s/%s", value_of(CONTROL_BIN_DIR), "ruskel");
}
const char* compiler_log_path() {
    return compose("%s/%s", value_of(CONTROL_TMP_DIR), "compiler.log");
}
const char* cfg_api_lock_path() {
    return compose("%s/%s", value_of(CONTROL_TMP_DIR), "lock_cfg_api.lck");
}

const char* protected_domains_path() {
    return compose("%s/%s", value_of(CONF_DIR), "protected_domains");
}
const char* wex_map_path() {
    return compose("%s/wex.cfg", value_of(CONF_DIR));
}

const char* profile_db_path() {
    return compose("%s/zediviz.pdb", value_of(CONF_DATA_DIR));
}
const char* list_db_path() {
    return compose("%s/zediviz.ldb", value_of(CONF_DATA_DIR));
}
const char* filter_cfg_path() {
    return compose("%s/zediviz.cfg", value_of(CONF_DATA_DIR));
}
const char* data_cfb_path() {
    return compose("%s/data.cfb", value_of(CONF_DATA_DIR));
}
const char* data_gsg_path() {
    return compose("%s/data.gsg", value_of(CONF_DATA_DIR));
}
const char* cfg_lock_path() {
    return compose("%s/lock.cfg", value_of(CONF_DATA_DIR));
}

const char* prepare_cfb_path() {
    return compose("%s/data.cfb", value_of(CONF_PREPARE_DIR));
}
const char* prepare_gsg_path() {
    return compose("%s/data.gsg", value_of(CONF_PREPARE_DIR));
}
const char* prepare_lock_path() {
    return compose("%s/.lock", value_of(CONF_PREPARE_DIR));
}

const char* catlist_path() {
    return compose("%s/catlist.xml", value_of(CFDATA_MAINSET_DIR));
}
const char* mainset_file_path() {
    return compose("%s/mainset", value_of(CFDATA_MAINSET_DIR));
}
const char* black_list_path() {
    return compose("%s/%s/%s", value_of(CFDATA_BASES_DIR), "CFData", "black.lst");
}

const char* log_dir_path() {
    return compose("%s/log", value_of(INSTALL_ROOT));
}
const char* sfupdates_log_path() {
    return compose("%s/log/sfupdates.log", value_of(INSTALL_ROOT));
}

const char* src_profiles_xml_path() {
    return compose("%s/profiles.xml", value_of(CONF_SRC_DIR));
}
const char* src_emails_xml_path() {
    return compose("%s/emails.xml", value_of(CONF_SRC_DIR));
}
const char* src_iplists_xml_path() {
    return compose("%s/iplists.xml", value_of(CONF_SRC_DIR));
}
const char* src_settings_xml_path() {
    return compose("%s/settings.xml", value_of(CONF_SRC_DIR));
}
const char* src_dnsblacklists_xml_path() {
    return compose("%s/dnsblacklists.xml", value_of(CONF_SRC_DIR));
}
const char* src_regexps_xml_path() {
    return compose("%s/regexps.xml", value_of(CONF_SRC_DIR));
}
const char* src_samples_xml_path() {
    return compose("%s/samples.xml", value_of(CONF_SRC_DIR));
}

const char* tmp_subdir_path() {
    return in_tmp_subdir("");
}
const char* tmp_samples_dir_path() {
    return in_tmp_subdir("/samples");
}
const char* tmp_profiles_dir_path() {
    return in_tmp_subdir("/profiles");
}
const char* tmp_iplists_dir_path() {
    return in_tmp_subdir("/iplists");
}
const char* tmp_emails_dir_path() {
    return in_tmp_subdir("/emails");
}
const char* tmp_dnsblacklists_dir_path() {
    return in_tmp_subdir("/dnsblacklists");
}
const char* tmp_regexps_dir_path() {
    return in_tmp_subdir("/regexps");
}
const char* tmp_profiles_xml_path() {
    return in_tmp_subdir("/profiles.xml");
}
const char* tmp_emails_xml_path() {
    return in_tmp_subdir("/emails.xml");
}
const char* tmp_iplists_xml_path() {
    return in_tmp_subdir("/iplists.xml");
}
const char* tmp_settings_xml_path() {
    return in_tmp_subdir("/settings.xml");
}
const char* tmp_dnsblacklists_xml_path() {
    return in_tmp_subdir("/dnsblacklists.xml");
}
const char* tmp_regexps_xml_path() {
    return in_tmp_subdir("/regexps.xml");
}
const char* tmp_samples_xml_path() {
    return in_tmp_subdir("/samples.xml");
}

const char* src_profile_path(const char* name) {
    return compose("%s/profiles/%s", value_of(CONF_SRC_DIR), name_text(name));
}
const char* src_hidden_profile_path(const char* name) {
    return compose("%s/profiles/hidden/%s", value_of(CONF_SRC_DIR), name_text(name));
}
const char* src_email_list_path(const char* name) {
    return compose("%s/emails/%s", value_of(CONF_SRC_DIR), name_text(name));
}
const char* src_ip_list_path(const char* name) {
    return compose("%s/iplists/%s", value_of(CONF_SRC_DIR), name_text(name));
}
const char* src_dns_list_path(const char* name) {
    return compose("%s/dnsblacklists/%s", value_of(CONF_SRC_DIR), name_text(name));
}
const char* src_sample_path(const char* name) {
    return compose("%s/samples/%s", value_of(CONF_SRC_DIR), name_text(name));
}
const char* src_regexp_list_path(const char* name) {
    return compose("%s/regexps/%s", value_of(CONF_SRC_DIR), name_text(name));
}

const char* tmp_profile_path(const char* name) {
    return compose("%s/%s/profiles/%s", value_of(CONF_TMP_DIR), value_of(TMP_SUBDIR_NAME),
                   name_text(name));
}
const char* tmp_email_list_path(const char* name) {
    return compose("%s/%s/emails/%s", value_of(CONF_TMP_DIR), value_of(TMP_SUBDIR_NAME),
                   name_text(name));
}
const char* tmp_ip_list_path(const char* name) {
    return compose("%s/%s/iplists/%s", value_of(CONF_TMP_DIR), value_of(TMP_SUBDIR_NAME),
                   name_text(name));
}
const char* tmp_dns_list_path(const char* name) {
    return compose("%s/%s/dnsblacklists/%s", value_of(CONF_TMP_DIR), value_of(TMP_SUBDIR_NAME),
                   name_text(name));
}
const char* tmp_regexp_list_path(const char* name) {
    return compose("%s/%s/regexps/%s", value_of(CONF_TMP_DIR), value_of(TMP_SUBDIR_NAME),
                   name_text(name));
}
const char* tmp_sample_path(const char* name) {
    return compose("%s/%s/samples/%s", value_of(CONF_TMP_DIR), value_of(TMP_SUBDIR_NAME),
                   name_text(name));
}
