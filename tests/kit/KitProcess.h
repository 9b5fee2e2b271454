// Runs a child process from an argument list (no shell of ours in between) and collects its
// standard output and exit status.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

struct KitRunResult {
    int status = -1; // the exit code, or -1 when it did not exit normally
    std::string output;
};

inline KitRunResult KitRun(const std::vector<std::string>& args)
{
    KitRunResult result;
    int fds[2];
    if (pipe(fds) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned == 0) {
        char chunk[4096];
        for (;;) {
            const ssize_t n = read(fds[0], chunk, sizeof chunk);
            if (n <= 0)
                break;
            result.output.append(chunk, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    if (spawned != 0)
        return result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
