// Runs a test tool (built beside the tests) from an argument list, with standard input taken
// from a text and standard output and error collected through files, so that no pipe can
// fill up and stall either side. With a time limit, a tool that outlives it is killed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

inline std::string TestToolPath(const char* name)
{
    return std::string(MARVONI_TEST_TOOLS_DIR) + "/" + name;
}

// timeoutMs < 0 waits for as long as the tool runs.
inline ToolRunResult RunTestTool(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& input = std::string(), int timeoutMs = -1)
{
    ToolRunResult result;
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/test-tool-run-XXXXXX";
    if (!mkdtemp(dir.data()))
        return result;
    const std::string inPath = dir + "/in", outPath = dir + "/out", errPath = dir + "/err";
    std::ofstream(inPath, std::ios::binary) << input;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) {
        int status = 0;
        if (timeoutMs < 0) {
            while (waitpid(pid, &status, 0) < 0) {
            }
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
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
            const auto slurp = [](const std::string& path) {
                std::ifstream in(path, std::ios::binary);
                std::ostringstream text;
                text << in.rdbuf();
                return text.str();
            };
            result.out = slurp(outPath);
            result.err = slurp(errPath);
        }
    }
    unlink(inPath.c_str());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    rmdir(dir.c_str());
    return result;
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
