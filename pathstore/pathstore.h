// The path store: the installation layout of the product. It holds 20 stored directory values
// (with built-in defaults, loaded lazily by the first call of any operation), setters that
// cascade a parent directory into the directories below it, and accessors that compose the full
// path of every product file. Process-wide, single-threaded, static storage only; nothing fails.
//
// Getters return the stored buffer itself: valid for the life of the process, and it shows any
// later change. Composed-path accessors return the one shared result buffer: valid only until
// the next composed-path call or cascading setter. Over-long texts are cut, never overrun: a
// stored value keeps its first 1023 characters, a composed path its first 1150. A caller that
// must not hand on a cut text asks pathstore_cut_seen after the call.
#pragma once

// Size of each stored value's buffer: at most 1023 characters and a NUL.
constexpr int PATHSTORE_VALUE_SIZE = 1024;
// Size of the shared result buffer of the composed paths and cascades.
constexpr int PATHSTORE_SCRATCH_SIZE = 1152;
// Longest composed path kept; a longer one is cut to this many characters.
constexpr int PATHSTORE_COMPOSED_MAX = 1150;

// 1 when a getter or a composed-path accessor has returned a cut text since the last
// pathstore_clear_cut (or the start): a stored value that was cut (set longer than 1023
// characters, or cascaded from such a value), or a composed path longer than 1150 characters.
int pathstore_cut_seen();
// Forgets the cuts seen so far.
void pathstore_clear_cut();

// Getters: the stored value itself.
const char* get_install_root();
const char* get_config_file();
const char* get_control_dir();
const char* get_control_bin_dir();
const char* get_control_tmp_dir();
const char* get_conf_dir();
const char* get_conf_src_dir();
const char* get_conf_data_dir();
const char* get_conf_def_dir();
const char* get_conf_tmp_dir();
const char* get_conf_prepare_dir();
const char* get_conf_backup_dir();
const char* get_cfdata_dir();
const char* get_cfdata_mainset_dir();

// Setters: store text (cut to 1023 characters; a null text counts as empty) and return 0.
// set_install_root also sets, in this order, the bin, control, conf, cfdata, run, filter bin and
// etc directories to root + "/bin", "/control", "/conf", "/cfdata", "/run", "/bin", "/etc".
int set_install_root(const char* text);
int set_bin_dir(const char* text);
int set_run_dir(const char* text);
int set_filter_bin_dir(const char* text);
int set_etc_dir(const char* text); // leaves config_file as it is
int set_config_file(const char* text);
// Also sets control_bin_dir and control_tmp_dir to text + "/bin" and "/tmp".
int set_control_dir(const char* text);
int set_control_bin_dir(const char* text);
int set_control_tmp_dir(const char* text);
// Also sets the src, def, data, tmp, prepare and backup directories below it, in that order.
int set_conf_dir(const char* text);
int set_conf_src_dir(const char* text);
int set_conf_data_dir(const char* text);
int set_conf_def_dir(const char* text);
int set_conf_tmp_dir(const char* text);
int set_conf_prepare_dir(const char* text);
int set_conf_backup_dir(const char* text);
int set_tmp_subdir_name(const char* text);
// Also sets cfdata_mainset_dir and cfdata_bases_dir to text + "/mainset" and "/bases".
int set_cfdata_dir(const char* text);
int set_cfdata_mainset_dir(const char* text);
int set_cfdata_bases_dir(const char* text);

// Programs in bin_dir: bin_dir + "/" + the program's file name.
const char* trellan_path();
const char* quessel_path();
const char* compiler_script_path(); // the same path as quessel_path
const char* orlenta_path();
const char* brannoch_path();
const char* halvick_path();
const char* halvick_sh_path();
const char* fennolt_path();
const char* sorvane_path();
const char* updrift_path();
const char* sumwell_path();
const char* ostrevel_path();
const char* vor_thttpd_path();
const char* yarbeck_path();
const char* quillon_path();
// The filter daemon in filter_bin_dir.
const char* filter_daemon_path();
// Configuration files in etc_dir.
const char* updrift_conf_path();
const char* vor_thttpd_conf_path();
// Run-time files in run_dir.
const char* process_server_pid_path();
const char* spfd_pid_path();
const char* spfd_socket_path();
const char* milter_pid_path();
const char* thttpd_pid_path();
// "unix:" + run_dir + "/dunmere.socket".
const char* process_server_listen_address();
// Always "local:/var/run/vor-milter.socket", wherever run_dir lies.
const char* milter_socket_address();
// Programs in control_bin_dir, files in control_tmp_dir.
const char* ostlane_path();
const char* ruskel_path();
const char* compiler_log_path();
const char* cfg_api_lock_path();
// Files in conf_dir.
const char* protected_domains_path();
const char* wex_map_path();
// Compiled configuration data in conf_data_dir.
const char* profile_db_path();
const char* list_db_path();
const char* filter_cfg_path();
const char* data_cfb_path();
const char* data_gsg_path();
const char* cfg_lock_path();
// The preparation area in conf_prepare_dir.
const char* prepare_cfb_path();
const char* prepare_gsg_path();
const char* prepare_lock_path();
// Content-filter data in cfdata_mainset_dir and cfdata_bases_dir.
const char* catlist_path();
const char* mainset_file_path();
const char* black_list_path();
// Logs below install_root.
const char* log_dir_path();
const char* sfupdates_log_path();
// Configuration sources in conf_src_dir.
const char* src_profiles_xml_path();
const char* src_emails_xml_path();
const char* src_iplists_xml_path();
const char* src_settings_xml_path();
const char* src_dnsblacklists_xml_path();
const char* src_regexps_xml_path();
const char* src_samples_xml_path();
// The working subdirectory: conf_tmp_dir + "/" + tmp_subdir_name, and what lies in it.
const char* tmp_subdir_path();
const char* tmp_samples_dir_path();
const char* tmp_profiles_dir_path();
const char* tmp_iplists_dir_path();
const char* tmp_emails_dir_path();
const char* tmp_dnsblacklists_dir_path();
const char* tmp_regexps_dir_path();
const char* tmp_profiles_xml_path();
const char* tmp_emails_xml_path();
const char* tmp_iplists_xml_path();
const char* tmp_settings_xml_path();
const char* tmp_dnsblacklists_xml_path();
const char* tmp_regexps_xml_path();
const char* tmp_samples_xml_path();

// Named items: the name is appended unchanged (a null name counts as empty). A name may be a
// previous composed result: it is read before the shared buffer is overwritten.
const char* src_profile_path(const char* name);
const char* src_hidden_profile_path(const char* name);
const char* src_email_list_path(const char* name);
const char* src_ip_list_path(const char* name);
const char* src_dns_list_path(const char* name);
const char* src_sample_path(const char* name);
const char* src_regexp_list_path(const char* name);
const char* tmp_profile_path(const char* name);
const char* tmp_email_list_path(const char* name);
const char* tmp_ip_list_path(const char* name);
const char* tmp_dns_list_path(const char* name);
const char* tmp_regexp_list_path(const char* name);
const char* tmp_sample_path(const char* name);
