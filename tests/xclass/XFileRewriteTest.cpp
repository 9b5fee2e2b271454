// Safe rewrite: readers never see a torn file, failures leave the old target, and the
// clean-up of leftover temporaries spares writers that are still running.
#include "xclass/XFileRewrite.h"
#include "xclass/XFileName.h"
#include "xclass/XFindFile.h"

#include <gtest/gtest.h>

#include "common/TestFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef MARVONI_TEST_TOOLS_DIR
#error MARVONI_TEST_TOOLS_DIR must name the folder of the test tools
#endif

extern char** environ;

namespace {

XStr W(const std::string& utf8)
{
    return XStr::FromUTF8Bytes(utf8.data(), utf8.size());
}

class XFileRewriteTest : public TempFolderTest {
protected:
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        XFindFile find(L"*.*", W(dir).p);
        while (find.Next())
            names.push_back(XFileName(find.Path).GetFileName().ToUTF8String());
        return names;
    }
    int Temporaries() const
    {
        int count = 0;
        for (const std::string& name : Names())
            count += XMatchMask(W(name).p, L"*.rewrite.tmp");
        return count;
    }
};

void Write(const std::string& path, const std::string& content)
{
    WriteTestFile(path, content);
}

std::string Read(const std::string& path)
{
    return ReadTestFile(path);
}

// One version of the shared file: a header naming writer, round and length, then the body.
std::string Version(int writer, int round)
{
    const size_t length = 1000 + static_cast<size_t>((round * 7919 + writer * 104729) % 120000);
    return std::to_string(writer) + " " + std::to_string(round) + " " + std::to_string(length) + "\n" +
           std::string(length, static_cast<char>('a' + writer));
}

// Empty when text is a complete version, else what is wrong with it.
std::string CheckVersion(const std::string& text)
{
    const size_t newline = text.find('\n');
    if (newline == std::string::npos)
        return "no header in " + std::to_string(text.size()) + " bytes";
    int writer = -1, round = -1;
    size_t length = 0;
    if (sscanf(text.c_str(), "%d %d %zu", &writer, &round, &length) != 3)
        return "bad header";
    const std::string body = text.substr(newline + 1);
    if (body.size() != length)
        return "torn: " + std::to_string(body.size()) + " of " + std::to_string(length) + " bytes";
    if (body.find_first_not_of(static_cast<char>('a' + writer)) != std::string::npos)
        return "mixed contents";
    return std::string();
}

pid_t Spawn(const std::vector<std::string>& args, int stdinFd)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int Wait(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST_F(XFileRewriteTest, WriteAllReplacesTheTarget)
{
    Write(Path("t.json"), "old contents");
    ASSERT_TRUE(XFileWriteAll(WPath("t.json").p, "new", 3));
    EXPECT_EQ(Read(Path("t.json")), "new");
    ASSERT_TRUE(XFileWriteAll(WPath("t.json").p, nullptr, 0));
    EXPECT_EQ(Read(Path("t.json")), "");
    EXPECT_EQ(Temporaries(), 0);

    XBuffer buffer;
    buffer.Assign("buffered", 8);
    ASSERT_TRUE(XFileWriteAll(WPath("t.json").p, buffer));
    EXPECT_EQ(Read(Path("t.json")), "buffered");
    buffer.Free();
}

TEST_F(XFileRewriteTest, TakesTheNextFreeTemporaryName)
{
    const XStr first = XFileRewrite::TempName(WPath("t.json"), 0);
    EXPECT_EQ(first.ToUTF8String(), Path("t.json") + ".p" + std::to_string(getpid()) + ".rewrite.tmp");
    EXPECT_EQ(XFileRewrite::TempName(WPath("t.json"), 1).ToUTF8String(),
              Path("t.json") + ".p" + std::to_string(getpid()) + ".1.rewrite.tmp");
    Write(first.ToUTF8String(), "someone else's");

    XFileRewrite rewrite;
    ASSERT_TRUE(rewrite.Open(WPath("t.json").p));
    EXPECT_EQ(rewrite.Name.ToUTF8String(), XFileRewrite::TempName(WPath("t.json"), 1).ToUTF8String());
    ASSERT_TRUE(rewrite.Write("data", 4));
    EXPECT_FALSE(std::ifstream(Path("t.json")).good()); // nothing visible before the commit
    ASSERT_TRUE(rewrite.Close());
    EXPECT_EQ(Read(Path("t.json")), "data");
    EXPECT_EQ(Read(first.ToUTF8String()), "someone else's");
}

TEST_F(XFileRewriteTest, FailuresLeaveTheOldTarget)
{
    Write(Path("t.json"), "old");
    {
        XFileRewrite rewrite;
        ASSERT_TRUE(rewrite.Open(WPath("t.json").p));
        ASSERT_TRUE(rewrite.Write("half", 4));
        rewrite.CommitOnClose = false;
    }
    EXPECT_EQ(Read(Path("t.json")), "old");
    EXPECT_EQ(Temporaries(), 0);

    // The target is a folder: the rename fails and the temporary goes.
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
    Write(Path("folder/inside"), "x");
    EXPECT_FALSE(XFileWriteAll(WPath("folder").p, "data", 4));
    EXPECT_EQ(Temporaries(), 0);
    EXPECT_EQ(Read(Path("folder/inside")), "x");

    // A null block with a size cannot be written.
    EXPECT_FALSE(XFileWriteAll(WPath("t.json").p, nullptr, 5));
    EXPECT_EQ(Read(Path("t.json")), "old");
    EXPECT_EQ(Temporaries(), 0);

    // A folder that cannot be written: nothing is created (root may write anywhere).
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.c_str(), 0500), 0);
        EXPECT_FALSE(XFileWriteAll(WPath("t.json").p, "data", 4));
        chmod(dir.c_str(), 0700);
        EXPECT_EQ(Read(Path("t.json")), "old");
        EXPECT_EQ(Temporaries(), 0);
    }
}

TEST_F(XFileRewriteTest, RemoveTemporariesSparesRunningWriters)
{
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_EQ(Wait(dead), 0);
    const std::string mine = "t.json.p" + std::to_string(getpid()) + ".rewrite.tmp";
    const std::string deadFirst = "t.json.p" + std::to_string(dead) + ".rewrite.tmp";
    const std::string deadLater = "t.json.p" + std::to_string(dead) + ".7.rewrite.tmp";
    Write(Path(mine), "in progress");
    Write(Path(deadFirst), "left over");
    Write(Path(deadLater), "left over");
    Write(Path("unrelated.tmp"), "x");

    EXPECT_EQ(XFileRemoveRewriteTemps(W(dir).p), 2);
    EXPECT_EQ(Read(Path(mine)), "in progress");
    EXPECT_FALSE(std::ifstream(Path(deadFirst)).good());
    EXPECT_FALSE(std::ifstream(Path(deadLater)).good());
    EXPECT_EQ(Read(Path("unrelated.tmp")), "x");

    // A live rewrite in this process survives a clean-up, and commits afterwards.
    XFileRewrite rewrite;
    ASSERT_TRUE(rewrite.Open(WPath("u.json").p));
    ASSERT_TRUE(rewrite.Write("kept", 4));
    XFileRemoveRewriteTemps(W(dir).p);
    ASSERT_TRUE(rewrite.Close());
    EXPECT_EQ(Read(Path("u.json")), "kept");
}

TEST_F(XFileRewriteTest, RemoveTemporariesOfOneTarget)
{
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_EQ(Wait(dead), 0);
    const std::string pid = std::to_string(dead);
    const std::string ours[] = {"store.p" + pid + ".rewrite.tmp", "store.p" + pid + ".12.rewrite.tmp"};
    // Temporaries of other targets, some with names that begin like ours.
    const std::string others[] = {"other.p" + pid + ".rewrite.tmp", "store.pz.p" + pid + ".rewrite.tmp",
                                  "store.old.p" + pid + ".rewrite.tmp", "xstore.p" + pid + ".rewrite.tmp",
                                  "store.p" + pid + "x.rewrite.tmp"};
    for (const std::string& name : ours)
        Write(Path(name), "left over");
    for (const std::string& name : others)
        Write(Path(name), "not ours");

    EXPECT_EQ(XFileRemoveRewriteTempsOf(WPath("store").p), 2);
    for (const std::string& name : ours)
        EXPECT_FALSE(std::ifstream(Path(name)).good()) << name;
    for (const std::string& name : others)
        EXPECT_EQ(Read(Path(name)), "not ours") << name;
}

TEST_F(XFileRewriteTest, ConcurrentWritersNeverShowATornFile)
{
    const std::string target = Path("shared.json");
    ASSERT_TRUE(XFileWriteAll(W(target).p, Version(0, 0).data(), Version(0, 0).size()));

    constexpr int kWriters = 4;
    constexpr int kRounds = 150;
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; w++) {
        const pid_t pid = fork();
        if (pid == 0) {
            const XStr path = W(target);
            for (int round = 1; round <= kRounds; round++) {
                const std::string text = Version(w, round);
                if (!XFileWriteAll(path.p, text.data(), text.size()))
                    _exit(1);
            }
            _exit(0);
        }
        ASSERT_GT(pid, 0);
        writers.push_back(pid);
    }

    // Read while they write: every read sees one complete version.
    int reads = 0;
    std::string problem;
    for (;;) {
        bool running = false;
        for (pid_t pid : writers)
            running |= waitpid(pid, nullptr, WNOHANG) == 0;
        const std::string text = Read(target);
        const std::string wrong = CheckVersion(text);
        if (!wrong.empty() && problem.empty())
            problem = wrong;
        reads++;
        if (!running)
            break;
    }
    EXPECT_TRUE(problem.empty()) << problem;
    EXPECT_GT(reads, 1);
    for (pid_t pid : writers)
        waitpid(pid, nullptr, 0);
    EXPECT_TRUE(CheckVersion(Read(target)).empty());
    EXPECT_EQ(Temporaries(), 0);
    EXPECT_EQ(Names(), std::vector<std::string>{"shared.json"});
}

TEST_F(XFileRewriteTest, ToolWritersThroughWriteAll)
{
    // The same through separate processes of the test tool, each fed on standard input.
    const std::string tool = std::string(MARVONI_TEST_TOOLS_DIR) + "/xclass-tool";
    const std::string target = Path("tool.json");
    constexpr int kWriters = 4;
    constexpr int kRounds = 15;
    std::string problem;
    std::vector<pid_t> running;
    int failures = 0;
    for (int round = 1; round <= kRounds; round++) {
        running.clear();
        for (int w = 0; w < kWriters; w++) {
            const std::string text = Version(w, round);
            const std::string input = Path("input-" + std::to_string(w));
            Write(input, text);
            const int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            const pid_t pid = Spawn({tool, "writeall", target}, fd);
            close(fd);
            ASSERT_GT(pid, 0);
            running.push_back(pid);
        }
        for (;;) {
            bool any = false;
            for (pid_t& pid : running) {
                if (pid <= 0)
                    continue;
                int status = 0;
                const pid_t r = waitpid(pid, &status, WNOHANG);
                if (r == 0) {
                    any = true;
                    continue;
                }
                failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                pid = 0;
            }
            const std::string wrong = std::ifstream(target).good() ? CheckVersion(Read(target)) : std::string();
            if (!wrong.empty() && problem.empty())
                problem = wrong;
            if (!any)
                break;
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(problem.empty()) << problem;
    EXPECT_TRUE(CheckVersion(Read(target)).empty());
    EXPECT_EQ(Temporaries(), 0);
}
