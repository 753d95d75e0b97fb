// Fuzzes the path-name resolver with random -p arguments over a randomly moved layout. The
// input is split at NUL bytes: the last piece is the -p argument; each earlier piece moves one
// stored directory first, its first byte choosing which (so over-long roots meet over-long path
// arguments). Besides the sanitizers, the resolver's promises are checked: the split parts cut
// to their buffers, the argument present exactly when the -p argument holds a ":", only the
// codes 0, 7, 8 and 9, and a path that is never cut: within the path store's 1150 characters and,
// for a name that takes a path argument, ending in the whole argument.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pathstore/pathstore.h"
#include "pathwise/path_names.h"
#include "pathwise/result_codes.h"

namespace {

// The longest composed path the path store hands out.
constexpr size_t longest_path = 1150;

// The setters an input may call before resolving, by the first byte of its piece.
constexpr int (*setters[])(const char*) = {set_install_root, set_bin_dir,         set_run_dir,
                                           set_etc_dir,      set_conf_dir,        set_conf_src_dir,
                                           set_conf_tmp_dir, set_tmp_subdir_name, set_cfdata_dir,
                                           set_config_file,  set_conf_data_dir};
constexpr size_t setter_count = sizeof setters / sizeof setters[0];

// Stops the run with a crash that libFuzzer records, when a promise of the resolver is broken.
void require(bool holds) {
    if (!holds) abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // print_path writes to standard output; the fuzzer's own report goes to standard error.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    for (size_t end; (end = input.find('\0', start)) != std::string::npos; start = end + 1) {
        if (end > start) {
            std::string piece = input.substr(start + 1, end - start - 1);
            setters[static_cast<uint8_t>(input[start]) % setter_count](piece.c_str());
        }
    }
    const std::string argument = input.substr(start);
    const char* colon = strchr(argument.c_str(), ':');

    std::string name = path_name_of(argument.c_str());
    require(name.size() < PATH_PART_SIZE);
    const char* split = path_argument_of(argument.c_str());
    require((split != nullptr) == (colon != nullptr));
    std::string path_argument = split != nullptr ? split : "";
    if (split != nullptr) require(strlen(split) < PATH_ARGUMENT_SIZE);

    const char* path = nullptr;
    int code =
        resolve_path(name.c_str(), split != nullptr ? path_argument.c_str() : nullptr, &path);
    require(code == 0 || code == PW_ERR_UNKNOWN_PATH_NAME || code == PW_ERR_NO_PATH_ARGUMENT ||
            code == PW_ERR_PATH_TOO_LONG);
    if (code == 0) {
        require(path != nullptr && strlen(path) <= longest_path);
        const path_name_row* row = find_path_name(name.c_str());
        if (path_needs_argument(*row)) require(std::string(path).ends_with(colon + 1));
    }
    if (code != 0) require(path == nullptr);

    int printed = print_path(name.c_str(), split != nullptr ? path_argument.c_str() : nullptr,
                             static_cast<int>(size & 1));
    require(printed == code);
    return 0;
}
