// Helpers of the naming tests: private temporary folders, environment variables set for one
// test, a registry store of the test's own, tag sets written inline, and running naming-tool
// with a time limit.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "NTag.h"
#include "XEnvironment.h"
#include "XFileName.h"
#include "XRegistry.h"
#include "XStr.h"

extern char** environ;

inline std::string U8(const XStr& text)
{
    return text.ToUTF8String();
}

inline XStr W(const std::string& text)
{
    return XStr::FromUTF8(text);
}

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class NamingTempDir {
public:
    NamingTempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/naming-test-XXXXXX";
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~NamingTempDir()
    {
        if (!m_path.empty()) {
            chmod(m_path.c_str(), 0700);
            XDeleteFolderTree(W(m_path));
        }
    }
    NamingTempDir(const NamingTempDir&) = delete;
    NamingTempDir& operator=(const NamingTempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets (or, with a null value, removes) one environment variable until the scope ends.
class EnvScope {
public:
    EnvScope(const char* name, const char* value) : m_name(name)
    {
        m_saved = XGetEnv(name, &m_had);
        if (value)
            XSetEnv(name, value, true);
        else
            XUnsetEnv(name);
    }
    ~EnvScope()
    {
        if (m_had)
            XSetEnv(m_name.c_str(), m_saved.c_str(), true);
        else
            XUnsetEnv(m_name.c_str());
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    std::string m_name;
    std::string m_saved;
    bool m_had = false;
};

// A registry store file of the test's own, with the program's default root and key.
class RegistryScope {
public:
    RegistryScope() : m_location("XCLASS_XREGISTRY_LOCATION", nullptr)
    {
        XSetEnv("XCLASS_XREGISTRY_LOCATION", m_dir.file("XRegistry").c_str(), true);
        XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
        XRegistry::DropCache();
    }
    ~RegistryScope() { XRegistry::DropCache(); }
    std::string storePath() const { return m_dir.file("XRegistry"); }

private:
    NamingTempDir m_dir;
    EnvScope m_location;
};

inline NTag MakeTags(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> elements)
{
    NTag tags;
    for (const auto& [name, value] : elements)
        tags.AddTag(name, value);
    return tags;
}

struct NamingToolResult {
    int status = -1; // the exit code; -1 when it did not exit on its own in time or did not start
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs naming-tool with the arguments; killed (and timedOut set) after timeoutMs.
inline NamingToolResult RunNamingTool(const std::vector<std::string>& args, int timeoutMs = 20000)
{
    NamingToolResult result;
    NamingTempDir dir;
    const std::string outPath = dir.file("out"), errPath = dir.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{std::string(MARVONI_TEST_TOOLS_DIR) + "/naming-tool"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
    return result;
}
