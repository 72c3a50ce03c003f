// Runs the built varno program as a user would, with its standard output and error captured.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace testing_support {

struct ProgramResult {
    int exit_status;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A fresh scratch folder under the system's temporary folder.
inline std::string make_scratch_dir() {
    std::string pattern = "/tmp/varno-test-XXXXXX";
    return mkdtemp(pattern.data());
}

inline ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& workdir = "") {
    const std::string scratch = make_scratch_dir();
    const std::string out_path = scratch + "/stdout";
    const std::string err_path = scratch + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!workdir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
    std::vector<char*> argv;
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ProgramResult result{-1, "", ""};
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    rmdir(scratch.c_str());
    return result;
}

}  // namespace testing_support
