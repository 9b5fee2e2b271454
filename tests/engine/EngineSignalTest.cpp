// engine-tool told to end by SIGTERM, SIGINT or SIGHUP in the middle of a run: it must take its
// ffmpeg and ffprobe with it (also a stopped, paused one) and leave no temporary file behind.
// This test process becomes a subreaper, so a child the tool left behind turns up as ours.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/TestEnv.h"
#include "common/ToolRun.h"

namespace {

struct ProcessInfo {
    int pid = 0;
    std::string name;
    char state = '?';
};

// The processes whose parent is parent, read from /proc.
std::vector<ProcessInfo> ChildrenOf(int parent)
{
    std::vector<ProcessInfo> found;
    DIR* proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent* e = readdir(proc)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0)
            continue;
        // Read with plain calls: the process may end meanwhile, and then the read just fails.
        std::string stat;
        const int fd = open(("/proc/" + std::string(e->d_name) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char buffer[1024];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        close(fd);
        if (n > 0)
            stat.assign(buffer, static_cast<size_t>(n));
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size())
            continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = '?';
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent)
            found.push_back({pid, stat.substr(open + 1, close - open - 1), state});
    }
    closedir(proc);
    return found;
}

std::vector<ProcessInfo> MediaChildrenOf(int parent)
{
    std::vector<ProcessInfo> media;
    for (const ProcessInfo& p : ChildrenOf(parent))
        if (p.name == "ffmpeg" || p.name == "ffprobe")
            media.push_back(p);
    return media;
}

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

class EngineSignal : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        m_appData.emplace("_APPDATA_OVERRIDE", dir.file("appdata"));
        mkdir(dir.file("appdata").c_str(), 0700);
        mkdir(dir.file("tmp").c_str(), 0700);
        mkdir(dir.file("out").c_str(), 0700);
        m_debug.emplace("MARVONI_DEBUG", nullptr);
    }
    void TearDown() override
    {
        // Whatever a failing tool left behind goes now.
        for (const ProcessInfo& p : ChildrenOf(getpid())) {
            kill(p.pid, SIGKILL);
            waitpid(p.pid, nullptr, 0);
        }
    }

    // Starts engine-tool run with TMPDIR inside the test folder; its standard output is
    // thrown away.
    pid_t Start(const std::vector<std::string>& runArgs, const std::string& pathFirst = std::string())
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            if (entry.rfind("TMPDIR=", 0) == 0)
                continue;
            if (!pathFirst.empty() && entry.rfind("PATH=", 0) == 0) {
                env.push_back("PATH=" + pathFirst + ":" + entry.substr(5));
                continue;
            }
            env.push_back(entry);
        }
        env.push_back("TMPDIR=" + dir.file("tmp"));
        std::vector<char*> envp;
        for (std::string& s : env)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        std::vector<std::string> all{TestToolPath("engine-tool"), "run"};
        all.insert(all.end(), runArgs.begin(), runArgs.end());
        std::vector<char*> argv;
        for (std::string& s : all)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int r = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return r == 0 ? pid : -1;
    }

    // Waits until the tool's children satisfy ready (a hang guard of minutes, not a timing).
    template <typename Ready>
    bool WaitFor(pid_t tool, Ready ready)
    {
        for (int i = 0; i < 30000; ++i) {
            if (ready(MediaChildrenOf(tool)))
                return true;
            if (waitpid(tool, nullptr, WNOHANG) == tool)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Sends the signal and checks what is left once the tool has ended.
    void EndAndCheck(pid_t tool, int signo)
    {
        ASSERT_EQ(kill(tool, signo), 0);
        int status = 0;
        ASSERT_EQ(waitpid(tool, &status, 0), tool);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << "status " << status;
        const std::vector<ProcessInfo> left = MediaChildrenOf(getpid());
        for (const ProcessInfo& p : left)
            ADD_FAILURE() << p.name << " " << p.pid << " (state " << p.state << ") outlived the tool";
        EXPECT_EQ(Entries(dir.file("tmp")), std::vector<std::string>{}) << "temporary files left";
        EXPECT_EQ(Entries(dir.file("out")), std::vector<std::string>{}) << "output files left";
    }

    TestTempDir dir;
    std::optional<TestEnvScope> m_appData;
    std::optional<TestEnvScope> m_debug;
};

// An ffprobe that never answers (it waits on a pipe nobody writes to, with no child of its
// own) beside a real ffmpeg that joins two files at their own pace (a join by copying probes
// beside ffmpeg): both are at work when the signal comes.
TEST_F(EngineSignal, EveryEndingSignalTakesFFmpegAndFFprobeAlong)
{
    const std::string src = dir.file("in.mp4");
    ASSERT_TRUE(MakeTestVideo(src, "160x120", "25", "4"));
    const std::string fifo = dir.file("never.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string bin = dir.file("bin");
    ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
    WriteTextFile(bin + "/ffprobe", "#!/bin/bash\nexec 3<>'" + fifo + "'\nread -r -u 3 _\n");
    ASSERT_EQ(chmod((bin + "/ffprobe").c_str(), 0700), 0);
    for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signo));
        const pid_t tool = Start({"--src", src, "--src", src, "--dst", dir.file("out/o.mkv"), "--pre", "-re", "--args",
                                  "-vcodec copy -acodec copy"},
                                 bin);
        ASSERT_GT(tool, 0);
        ASSERT_TRUE(WaitFor(tool, [](const std::vector<ProcessInfo>& kids) {
            bool ffmpeg = false, ffprobe = false;
            for (const ProcessInfo& p : kids)
                (p.name == "ffmpeg" ? ffmpeg : ffprobe) = true;
            return ffmpeg && ffprobe;
        }));
        EndAndCheck(tool, signo);
    }
}

TEST_F(EngineSignal, APausedOrRunningFFmpegEndsWithTheTool)
{
    const std::string src = dir.file("in.mp4");
    ASSERT_TRUE(MakeTestVideo(src, "160x120", "25", "4"));
    const auto ffmpegIn = [](char wanted) {
        return [wanted](const std::vector<ProcessInfo>& kids) {
            for (const ProcessInfo& p : kids)
                if (p.name == "ffmpeg" && (wanted == 0 || p.state == wanted))
                    return true;
            return false;
        };
    };
    // Held with SIGSTOP by a pause that lasts longer than the test.
    for (const int signo : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signo));
        const pid_t tool = Start({"--src", src, "--dst", dir.file("out/paused.mkv"), "--args", "-vcodec libx264",
                                  "--pause-after", "0", "--resume-after", "600000"});
        ASSERT_GT(tool, 0);
        ASSERT_TRUE(WaitFor(tool, ffmpegIn('T')));
        EndAndCheck(tool, signo);
    }
    // Running: read at the source's own pace, so it is still at work when the signal comes.
    const pid_t tool =
        Start({"--src", src, "--dst", dir.file("out/running.mkv"), "--pre", "-re", "--args", "-vcodec libx264"});
    ASSERT_GT(tool, 0);
    ASSERT_TRUE(WaitFor(tool, ffmpegIn(0)));
    EndAndCheck(tool, SIGINT);
}

std::vector<std::string> Starting(const std::vector<std::string>& names, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& name : names)
        if (name.rfind(prefix, 0) == 0)
            found.push_back(name);
    return found;
}

bool Has(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// SIGKILL leaves no chance to tidy: the killed run's temporary output and progress file stay
// until a later run writes into those folders. That run removes them, and nothing of a run
// still at work, nor a file of the user's that looks alike.
TEST_F(EngineSignal, WhatAKilledRunLeftGoesWithTheNextRunIntoThoseFolders)
{
    const std::string src = dir.file("in.mp4");
    ASSERT_TRUE(MakeTestVideo(src, "160x120", "25", "4"));
    // The paced runs read in real time a source far longer than the test lasts under any load,
    // so that the one still at work is still at work when the next run ends.
    const std::string longSrc = dir.file("long.mp4");
    ASSERT_TRUE(MakeTestVideo(longSrc, "160x120", "25", "300", {"-c:v", "libx264", "-preset", "ultrafast"}));
    const auto ffmpegRuns = [](const std::vector<ProcessInfo>& kids) {
        for (const ProcessInfo& p : kids)
            if (p.name == "ffmpeg")
                return true;
        return false;
    };
    const std::vector<std::string> slow{"--pre", "-re", "--args", "-vcodec libx264 -preset ultrafast"};
    auto runArgs = [&](const std::string& dest, bool paced) {
        std::vector<std::string> args{"--src", paced ? longSrc : src, "--dst", dir.file("out/" + dest)};
        if (paced)
            args.insert(args.end(), slow.begin(), slow.end());
        else
            args.insert(args.end(), {"--args", "-vcodec libx264 -preset ultrafast"});
        return args;
    };

    const pid_t killed = Start(runArgs("killed.mkv", true));
    ASSERT_GT(killed, 0);
    ASSERT_TRUE(WaitFor(killed, ffmpegRuns));
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
    for (const ProcessInfo& p : MediaChildrenOf(getpid())) { // its ffmpeg, orphaned, is ours now
        kill(p.pid, SIGKILL);
        waitpid(p.pid, nullptr, 0);
    }
    const std::vector<std::string> leftOutputs = Starting(Entries(dir.file("out")), "killed.tmp-");
    const std::vector<std::string> leftTemporaries = Entries(dir.file("tmp"));
    ASSERT_EQ(leftOutputs.size(), 1u);
    ASSERT_FALSE(leftTemporaries.empty());
    WriteTextFile(dir.file("out/mine.tmp.mkv"), "the user's");
    WriteTextFile(dir.file("out/killed.tmp-notes.mkv"), "the user's");
    WriteTextFile(dir.file("tmp/notes.tmp"), "the user's");

    // A run at work in the same folders, then a whole run beside it.
    const pid_t running = Start(runArgs("running.mkv", true));
    ASSERT_GT(running, 0);
    ASSERT_TRUE(WaitFor(running, ffmpegRuns));
    const std::vector<std::string> runningOutput = Starting(Entries(dir.file("out")), "running.tmp-");
    ASSERT_EQ(runningOutput.size(), 1u);
    std::vector<std::string> runningTemporaries;
    for (const std::string& name : Entries(dir.file("tmp")))
        if (!Has(leftTemporaries, name) && name != "notes.tmp")
            runningTemporaries.push_back(name);
    ASSERT_FALSE(runningTemporaries.empty());

    const pid_t next = Start(runArgs("next.mkv", false));
    ASSERT_GT(next, 0);
    int status = 0;
    ASSERT_EQ(waitpid(next, &status, 0), next);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(PathExists(dir.file("out/next.mkv")));

    const std::vector<std::string> out = Entries(dir.file("out"));
    const std::vector<std::string> tmp = Entries(dir.file("tmp"));
    EXPECT_FALSE(Has(out, leftOutputs[0]));
    for (const std::string& name : leftTemporaries)
        EXPECT_FALSE(Has(tmp, name)) << name;
    EXPECT_TRUE(Has(out, runningOutput[0]));
    for (const std::string& name : runningTemporaries)
        EXPECT_TRUE(Has(tmp, name)) << name;
    for (const char* name : {"mine.tmp.mkv", "killed.tmp-notes.mkv"})
        EXPECT_TRUE(Has(out, name)) << name;
    EXPECT_TRUE(Has(tmp, "notes.tmp"));

    ASSERT_EQ(kill(running, SIGTERM), 0);
    ASSERT_EQ(waitpid(running, nullptr, 0), running);
    EXPECT_FALSE(PathExists(dir.file("out/" + runningOutput[0])));
}

} // namespace
