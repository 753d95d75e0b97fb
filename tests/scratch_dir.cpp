#include "tests/scratch_dir.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <sys/stat.h>

namespace {

int remove_entry(const char* path, const struct stat*, int, FTW*) {
    return remove(path);
}

} // namespace

scratch_dir::scratch_dir() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/vt-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) root = pattern;
}

scratch_dir::~scratch_dir() {
    remove();
}

void scratch_dir::remove() {
    if (!root.empty()) nftw(root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    root.clear();
}

std::string scratch_dir::path(const std::string& name) const {
    return root + "/" + name;
}

std::string scratch_dir::write(const std::string& name, const std::string& content) const {
    std::string full = path(name);
    FILE* file = fopen(full.c_str(), "wb");
    if (file != nullptr) {
        fwrite(content.data(), 1, content.size(), file);
        fclose(file);
    }
    return full;
}

std::string scratch_dir::write_program(const std::string& name, const std::string& content) const {
    std::string full = write(name, content);
    chmod(full.c_str(), 0755);
    return full;
}
