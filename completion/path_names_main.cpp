// vt_path_names: prints what the bash completion of pathwise is generated from, so that the
// completion never keeps a list of its own. Without arguments: every -p path name of the
// path-name table, one per line, in table order, with a ":" after each name that takes a path
// argument (the completion offers it so). With --config-file: the configuration file that
// pathwise reads when no -c is given.
#include <cstdio>
#include <cstring>

#include "pathstore/pathstore.h"
#include "pathwise/path_names.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--config-file") == 0) {
        printf("%s\n", get_config_file());
    } else if (argc == 1) {
        for (const path_name_row& row : path_name_rows) {
            printf("%s%s\n", row.name, path_needs_argument(row) ? ":" : "");
        }
    } else {
        fputs("Usage: vt_path_names [--config-file]\n", stderr);
        return 1;
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
