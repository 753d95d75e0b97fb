// The documented default path of every -p path name, written out by hand from the documented
// tables rather than taken from the program's own table. Shared by the resolver's unit test and
// the end-to-end test.
#pragma once

namespace {

struct documented_path {
    const char* name;
    bool needs_argument;
    const char* path; // for a name that needs an argument, the path of the argument "x.eml"
};

// The default layout of every path name. filter-config is the default configuration file; a -c
// option moves it.
const documented_path documented_paths[] = {
    {"main-root", false, "/usr/local/za-ravovidoda3"},
    {"filter-config", false, "/usr/local/za-ravovidoda3/etc/filter.conf"},
    {"config-root", false, "/usr/local/za-ravovidoda3/conf"},
    {"config-bin-root", false, "/usr/local/za-ravovidoda3/conf/data"},
    {"config-src-root", false, "/usr/local/za-ravovidoda3/conf/src"},
    {"config-tmp-root", false, "/usr/local/za-ravovidoda3/conf/tmp"},
    {"config-prepare-root", false, "/usr/local/za-ravovidoda3/conf/prepare"},
    {"config-backup-root", false, "/usr/local/za-ravovidoda3/conf/backup"},
    {"cfdata-root", false, "/usr/local/za-ravovidoda3/cfdata"},
    {"cfdata-mainset-root", false, "/usr/local/za-ravovidoda3/cfdata/mainset"},
    {"compiler", false, "/usr/local/za-ravovidoda3/bin/trellan"},
    {"quessel", false, "/usr/local/za-ravovidoda3/bin/quessel"},
    {"compiler-script", false, "/usr/local/za-ravovidoda3/bin/quessel"},
    {"brannoch", false, "/usr/local/za-ravovidoda3/bin/brannoch"},
    {"halvick", false, "/usr/local/za-ravovidoda3/bin/halvick"},
    {"halvick-sh", false, "/usr/local/za-ravovidoda3/bin/halvick.sh"},
    {"orlenta", false, "/usr/local/za-ravovidoda3/bin/orlenta"},
    {"sorvane", false, "/usr/local/za-ravovidoda3/bin/sorvane"},
    {"thttpd", false, "/usr/local/za-ravovidoda3/bin/vor-thttpd"},
    {"fennolt", false, "/usr/local/za-ravovidoda3/bin/fennolt"},
    {"updrift", false, "/usr/local/za-ravovidoda3/bin/updrift"},
    {"sumwell", false, "/usr/local/za-ravovidoda3/bin/sumwell"},
    {"usersdb-compiler", false, "/usr/local/za-ravovidoda3/bin/ostrevel"},
    {"filter", false, "/usr/local/za-ravovidoda3/bin/vastrel"},
    {"ruskel", false, "/usr/local/za-ravovidoda3/control/bin/ruskel"},
    {"process-server-pid", false, "/usr/local/za-ravovidoda3/run/dunmere.pid"},
    {"process-server-listen", false, "unix:/usr/local/za-ravovidoda3/run/dunmere.socket"},
    {"spfd-pid", false, "/usr/local/za-ravovidoda3/run/ox-spfd.pid"},
    {"spfd-socket", false, "/usr/local/za-ravovidoda3/run/ox-spfd.socket"},
    {"milter-pid", false, "/usr/local/za-ravovidoda3/run/vor-milter.pid"},
    {"httpd-pid", false, "/usr/local/za-ravovidoda3/run/vor-thttpd.pid"},
    {"updater-ini", false, "/usr/local/za-ravovidoda3/etc/updrift.conf"},
    {"thttpd-ini", false, "/usr/local/za-ravovidoda3/etc/vor-thttpd.conf"},
    {"protected-domains", false, "/usr/local/za-ravovidoda3/conf/protected_domains"},
    {"wex-map", false, "/usr/local/za-ravovidoda3/conf/wex.cfg"},
    {"name-wex", false, "/usr/local/za-ravovidoda3/conf/wex.cfg"},
    {"profile-db", false, "/usr/local/za-ravovidoda3/conf/data/zediviz.pdb"},
    {"list-db", false, "/usr/local/za-ravovidoda3/conf/data/zediviz.ldb"},
    {"config", false, "/usr/local/za-ravovidoda3/conf/data/zediviz.cfg"},
    {"name-cfilter", false, "/usr/local/za-ravovidoda3/conf/data/data.cfb"},
    {"name-gsg", false, "/usr/local/za-ravovidoda3/conf/data/data.gsg"},
    {"cfg-lock", false, "/usr/local/za-ravovidoda3/conf/data/lock.cfg"},
    {"name-lock", false, "/usr/local/za-ravovidoda3/conf/data/lock.cfg"},
    {"name-prepare-cfilter", false, "/usr/local/za-ravovidoda3/conf/prepare/data.cfb"},
    {"name-prepare-gsg", false, "/usr/local/za-ravovidoda3/conf/prepare/data.gsg"},
    {"prepare-lock", false, "/usr/local/za-ravovidoda3/conf/prepare/.lock"},
    {"catlist", false, "/usr/local/za-ravovidoda3/cfdata/mainset/catlist.xml"},
    {"profiles", false, "/usr/local/za-ravovidoda3/conf/src/profiles.xml"},
    {"emails", false, "/usr/local/za-ravovidoda3/conf/src/emails.xml"},
    {"iplists", false, "/usr/local/za-ravovidoda3/conf/src/iplists.xml"},
    {"dnslists", false, "/usr/local/za-ravovidoda3/conf/src/dnsblacklists.xml"},
    {"main", false, "/usr/local/za-ravovidoda3/conf/src/settings.xml"},
    {"samples", false, "/usr/local/za-ravovidoda3/conf/src/samples.xml"},
    {"regexps", false, "/usr/local/za-ravovidoda3/conf/src/regexps.xml"},
    {"profile", true, "/usr/local/za-ravovidoda3/conf/src/profiles/x.eml"},
    {"hidden-profile", true, "/usr/local/za-ravovidoda3/conf/src/profiles/hidden/x.eml"},
    {"email-list", true, "/usr/local/za-ravovidoda3/conf/src/emails/x.eml"},
    {"ip-list", true, "/usr/local/za-ravovidoda3/conf/src/iplists/x.eml"},
    {"dns-list", true, "/usr/local/za-ravovidoda3/conf/src/dnsblacklists/x.eml"},
    {"sample", true, "/usr/local/za-ravovidoda3/conf/src/samples/x.eml"},
    {"regexp-list", true, "/usr/local/za-ravovidoda3/conf/src/regexps/x.eml"},
    {"config-tmp-subdir", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000"},
    {"config-tmp-subdir-samples", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/samples"},
    {"config-tmp-subdir-profiles", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/profiles"},
    {"config-tmp-subdir-iplists", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/iplists"},
    {"config-tmp-subdir-emails", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/emails"},
    {"config-tmp-subdir-dnsblacklists", false,
     "/usr/local/za-ravovidoda3/conf/tmp/~0000/dnsblacklists"},
    {"config-tmp-subdir-regexps", false, "/usr/local/za-ravovidoda3/conf/tmp/~0000/regexps"},
    {"path-log", false, "/usr/local/za-ravovidoda3/log"},
    {"path-log-sfupdates", false, "/usr/local/za-ravovidoda3/log/sfupdates.log"},
};

} // namespace
