// A scratch directory for tests: made under TMPDIR (else /tmp), removed with its contents.
#pragma once

#include <string>

// A fresh empty directory under TMPDIR, or /tmp when TMPDIR is unset or empty, removed with its
// contents when the object goes away. root is empty when the directory could not be made.
struct scratch_dir {
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    // The absolute path of name inside the directory.
    std::string path(const std::string& name) const;
    // Writes content to name inside the directory and returns its absolute path.
    std::string write(const std::string& name, const std::string& content) const;
    // Writes content to name inside the directory as an executable file; returns its path.
    std::string write_program(const std::string& name, const std::string& content) const;
    // Removes the directory with its contents now, and empties root. A child process that ends
    // with _exit never runs the destructor: one that made a directory of its own (a death test
    // re-executed in the "threadsafe" style) removes it with this before it ends.
    void remove();
    std::string root;
};
