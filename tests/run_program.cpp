#include "tests/run_program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Reads both pipes until each reaches end of file, without letting either fill up.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = (out_fd >= 0) + (err_fd >= 0);
    if (out_fd < 0) fds[0].fd = -1;
    char buffer[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

std::string program_from(const char* variable, const char* built) {
    const char* value = getenv(variable);
    return value != nullptr && value[0] != '\0' ? value : built;
}

} // namespace

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options) {
    run_result result{"", "", -1};
    int out_pipe[2] = {-1, -1};
    int err_pipe[2];
    if (options.stdout_path.empty() && pipe(out_pipe) != 0) return result;
    if (pipe(err_pipe) != 0) return result;

    std::vector<char*> argv;
    std::string argv0 = options.argv0.empty() ? program : options.argv0;
    argv.push_back(argv0.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(125);
        int out_fd = out_pipe[1];
        if (!options.stdout_path.empty()) {
            out_fd = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out_fd < 0) _exit(125);
        }
        const char* in = options.stdin_path.empty() ? "/dev/null" : options.stdin_path.c_str();
        int in_fd = open(in, O_RDONLY);
        if (in_fd < 0) _exit(125);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_pipe[1], 2);
        // The program gets the three standard streams and nothing else of the test's, so that
        // a descriptor limit set for it leaves it what it would leave a program run by hand.
        closefrom(3);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (out_pipe[1] >= 0) close(out_pipe[1]);
    close(err_pipe[1]);
    drain(out_pipe[0], err_pipe[0], result.out, result.err);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string pathwise_program() {
    return program_from("PATHWISE_PROGRAM", PATHWISE_BUILT);
}
std::string sumwell_program() {
    return program_from("SUMWELL_PROGRAM", SUMWELL_BUILT);
}

run_result complete_in_bash(const std::string& script, const std::vector<std::string>& words,
                            const std::string& directory) {
    std::vector<std::string> args = {
        "-c",
        "source \"$0\" || exit 99; compopt() { printf 'compopt %s\\n' \"$*\"; }; "
        "registered=$(complete -p -- \"$2\") || exit 97; registered=${registered#*-F }; "
        "COMP_WORDS=(\"${@:2}\"); COMP_CWORD=$1; ${registered%% *} || exit 98; "
        "printf '%s\\n' \"${COMPREPLY[@]}\"",
        script, std::to_string(words.size() - 1)};
    args.insert(args.end(), words.begin(), words.end());
    run_options options;
    options.directory = directory;
    return run_program("/bin/bash", args, options);
}

std::string read_file(const std::string& path) {
    std::string content;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return content;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
    fclose(file);
    return content;
}
