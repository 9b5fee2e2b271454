// Runs a program from an argument list (never through a shell) and waits for it: standard
// input taken from a text, standard output and error collected in memory files, so that no
// pipe can fill up and stall either side. A child that outlives its time is killed, so a hang
// fails the test instead of stalling the run. Shared by the tests and the benchmarks.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct ToolRunResult {
    int status = -1;       // the exit code; -1 when it did not exit on its own (in time) or did not start
    bool timedOut = false; // killed because it ran past its time
    std::string out;
    std::string err;
};

struct ToolRunOptions {
    std::string input;
    // The whole environment of the child, "NAME=value" each; unset: ours.
    std::optional<std::vector<std::string>> env;
    // Looks a program name without "/" up on PATH, as a shell would (but without one).
    bool searchPath = false;
    // < 0 waits for as long as it runs. The default is far above any test's need, and below
    // the suite's own time limit, so a hang shows up as this child's failure.
    int timeoutMs = 240000;
};

// The last line of a tool's output ("result: success"), without its line break.
inline std::string LastLine(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    const size_t nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

#ifdef MARVONI_TEST_TOOLS_DIR
inline std::string TestToolPath(const char* name)
{
    return std::string(MARVONI_TEST_TOOLS_DIR) + "/" + name;
}
#endif

namespace test_run_detail {

inline std::string ReadBack(int fd)
{
    std::string data;
    char chunk[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = pread(fd, chunk, sizeof chunk, at);
        if (n <= 0)
            break;
        data.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    return data;
}

} // namespace test_run_detail

// args[0] is the program.
inline ToolRunResult RunProcess(const std::vector<std::string>& args, const ToolRunOptions& options = {})
{
    ToolRunResult result;
    if (args.empty())
        return result;
    const int inFd = memfd_create("test-run-in", MFD_CLOEXEC);
    const int outFd = memfd_create("test-run-out", MFD_CLOEXEC);
    const int errFd = memfd_create("test-run-err", MFD_CLOEXEC);
    const auto closeAll = [&] {
        for (int fd : {inFd, outFd, errFd})
            if (fd >= 0)
                close(fd);
    };
    if (inFd < 0 || outFd < 0 || errFd < 0) {
        closeAll();
        return result;
    }
    for (size_t done = 0; done < options.input.size();) {
        const ssize_t n = write(inFd, options.input.data() + done, options.input.size() - done);
        if (n <= 0) {
            closeAll();
            return result;
        }
        done += static_cast<size_t>(n);
    }
    lseek(inFd, 0, SEEK_SET);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inFd, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<std::string> all(args);
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopy = options.env ? *options.env : std::vector<std::string>();
    std::vector<char*> envp;
    for (std::string& entry : envCopy)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    char** const childEnv = options.env ? envp.data() : environ;
    pid_t pid = -1;
    const int spawned = options.searchPath ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), childEnv)
                                           : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), childEnv);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) {
        int status = 0;
        if (options.timeoutMs < 0) {
            while (waitpid(pid, &status, 0) < 0) {}
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
            while (waitpid(pid, &status, WNOHANG) != pid) {
                if (std::chrono::steady_clock::now() > deadline) {
                    kill(pid, SIGKILL);
                    waitpid(pid, &status, 0);
                    result.timedOut = true;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (!result.timedOut) {
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            result.out = test_run_detail::ReadBack(outFd);
            result.err = test_run_detail::ReadBack(errFd);
        }
    }
    closeAll();
    return result;
}

// Runs a test tool (a path) with the arguments.
inline ToolRunResult RunTestTool(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& input = std::string(), int timeoutMs = -1)
{
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    ToolRunOptions options;
    options.input = input;
    options.timeoutMs = timeoutMs < 0 ? ToolRunOptions().timeoutMs : timeoutMs;
    return RunProcess(all, options);
}

// Runs a program found on PATH, its output dropped; standard error is kept in the file
// errPath when one is named. True on exit 0.
inline bool RunProgramQuietly(const std::vector<std::string>& args, const std::string& errPath = std::string())
{
    ToolRunOptions options;
    options.searchPath = true;
    const ToolRunResult run = RunProcess(args, options);
    if (!errPath.empty()) {
        const int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            for (size_t done = 0; done < run.err.size();) {
                const ssize_t n = write(fd, run.err.data() + done, run.err.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
            }
            close(fd);
        }
    }
    return run.status == 0;
}

// Tests of what an ordinary user may not do (make a folder on a volume whose top belongs to
// root) cannot be run as root, who may do anything. Run as root, the tool is started through
// setpriv as the user "nobody"; otherwise it runs as ourselves.
inline uid_t OrdinaryTestUid()
{
    return geteuid() == 0 ? 65534 : geteuid();
}

inline gid_t OrdinaryTestGid()
{
    return geteuid() == 0 ? 65534 : getegid();
}

inline std::string SetprivPath()
{
    for (const char* path : {"/usr/bin/setpriv", "/bin/setpriv"})
        if (access(path, X_OK) == 0)
            return path;
    return std::string();
}

// False when we are root and setpriv is missing: the tool cannot run as an ordinary user.
inline bool CanRunAsOrdinaryUser()
{
    return geteuid() != 0 || !SetprivPath().empty();
}

inline ToolRunResult RunTestToolAsOrdinaryUser(const std::string& program, const std::vector<std::string>& args,
                                               const std::string& input = std::string())
{
    if (geteuid() != 0)
        return RunTestTool(program, args, input);
    std::vector<std::string> all{"--reuid=" + std::to_string(OrdinaryTestUid()),
                                 "--regid=" + std::to_string(OrdinaryTestGid()), "--clear-groups", "--", program};
    all.insert(all.end(), args.begin(), args.end());
    return RunTestTool(SetprivPath(), all, input);
}
