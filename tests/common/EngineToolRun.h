// Runs engine-tool (built beside the tests) from an argument list, with standard input taken
// from a text and standard output and error collected through files, so that no pipe can
// fill up and stall either side.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct EngineToolResult {
    int status = -1; // the exit code, or -1 when it did not exit normally or could not start
    std::string out;
    std::string err;
};

inline std::string EngineToolPath()
{
    return std::string(MARVONI_TEST_TOOLS_DIR) + "/engine-tool";
}

inline EngineToolResult RunEngineTool(const std::vector<std::string>& args, const std::string& input = std::string())
{
    EngineToolResult result;
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/engine-tool-run-XXXXXX";
    if (!mkdtemp(dir.data()))
        return result;
    const std::string inPath = dir + "/in", outPath = dir + "/out", errPath = dir + "/err";
    std::ofstream(inPath, std::ios::binary) << input;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{EngineToolPath()};
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
        while (waitpid(pid, &status, 0) < 0) {
        }
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
    unlink(inPath.c_str());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    rmdir(dir.c_str());
    return result;
}
