#include "xclass/XTempFile.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"

#include "xclass/XEnvironment.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

mode_t Mode(const std::string& path)
{
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Points TMPDIR at a fresh folder for the test and restores everything afterwards.
class XTempFileTest : public ::testing::Test {
protected:
    TestTempDir temp;
    std::string dir;
    std::optional<TestEnvScope> tmpScope;
    std::optional<TestEnvScope> locationScope;

    void SetUp() override
    {
        dir = temp.path();
        ASSERT_FALSE(dir.empty());
        tmpScope.emplace("TMPDIR", dir);
        locationScope.emplace("XTempFolderScope_Location", nullptr);
    }
    void TearDown() override
    {
        locationScope.reset();
        tmpScope.reset();
    }
    std::string Pid() const { return std::to_string(getpid()); }
};

std::string U(const XStr& s)
{
    return s.ToUTF8String();
}

} // namespace

TEST_F(XTempFileTest, TempFolderFromScopeVariableTmpdirOrTmp)
{
    EXPECT_EQ(U(XGetTempFolder()), dir + "/");
    XSetEnv("XTempFolderScope_Location", "/x/y");
    EXPECT_EQ(U(XGetTempFolder()), "/x/y/");
    XUnsetEnv("XTempFolderScope_Location");
    XUnsetEnv("TMPDIR");
    EXPECT_EQ(U(XGetTempFolder()), "/tmp/");
}

TEST_F(XTempFileTest, FileNamesAndOwnership)
{
    std::string firstPath;
    {
        XTempFile a("qk", ".wav");
        XTempFile b("qk", nullptr);
        firstPath = U(a);
        const std::string prefix = dir + "/qkXTempFile-" + Pid() + "-";
        ASSERT_EQ(firstPath.rfind(prefix, 0), 0u) << firstPath;
        EXPECT_TRUE(a.EndsWith(L".wav"));
        EXPECT_TRUE(b.EndsWith(L".tmp"));
        // The two differ only in the counter.
        const unsigned n1 = std::stoul(firstPath.substr(prefix.size()));
        const unsigned n2 = std::stoul(U(b).substr(prefix.size()));
        EXPECT_GT(n2, n1);
        EXPECT_TRUE(Exists(firstPath));
        EXPECT_EQ(Mode(firstPath), 0600u); // private whatever the umask
    }
    EXPECT_FALSE(Exists(firstPath));
}

TEST_F(XTempFileTest, AssignAndDeleteAndMove)
{
    XTempFile a("x", nullptr);
    const std::string old = U(a);
    const std::string other = dir + "/other";
    close(open(other.c_str(), O_CREAT | O_WRONLY, 0600));
    a = XStr::FromUTF8(other);
    EXPECT_FALSE(Exists(old));
    EXPECT_EQ(U(a), other);
    {
        XTempFile moved(std::move(a));
        EXPECT_TRUE(a.IsEmpty());
        EXPECT_TRUE(Exists(other));
    }
    EXPECT_FALSE(Exists(other));
    a.Delete(); // nothing held: nothing happens
}

TEST_F(XTempFileTest, ExistingNamesAndLinksAreNeverTaken)
{
    // Plant a link at the next name the counter will give: the file must be made under a
    // later name and the link's target must not appear.
    const std::string id = U(XTempUniqueId());
    const unsigned next = std::stoul(id.substr(id.find('-') + 1)) + 1;
    const std::string planted = dir + "/pXTempFile-" + Pid() + "-" + std::to_string(next) + ".tmp";
    const std::string target = dir + "/target";
    ASSERT_EQ(symlink(target.c_str(), planted.c_str()), 0);
    XTempFile file("p", nullptr);
    ASSERT_FALSE(file.IsEmpty());
    EXPECT_NE(U(file), planted);
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(Exists(planted));
}

TEST_F(XTempFileTest, UnwritableFolderFailsInsteadOfLooping)
{
    XSetEnv("TMPDIR", (dir + "/missing").c_str());
    XTempFile file("qk", nullptr);
    EXPECT_TRUE(file.IsEmpty());
    XTempFolder folder("qk");
    EXPECT_TRUE(folder.IsEmpty());
    XTempFolderScope scope(L"job");
    EXPECT_EQ(scope.LockFd, -1);
}

TEST_F(XTempFileTest, FolderIsPrivateAndRemovedWithItsTree)
{
    std::string path;
    {
        XTempFolder folder("KRE");
        ASSERT_FALSE(folder.IsEmpty());
        path = U(folder);
        EXPECT_TRUE(folder.EndsWith(L".tmp/"));
        EXPECT_EQ(path.rfind(dir + "/KREXTempFile-" + Pid() + "-", 0), 0u);
        EXPECT_EQ(Mode(path), 0700u);
        ASSERT_EQ(mkdir((path + "sub").c_str(), 0700), 0);
        close(open((path + "sub/f").c_str(), O_CREAT | O_WRONLY, 0600));
    }
    EXPECT_FALSE(Exists(path));
}

TEST_F(XTempFileTest, FolderDeletionNeverFollowsLinks)
{
    const std::string outside = dir + "/outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
    close(open((outside + "/keep").c_str(), O_CREAT | O_WRONLY, 0600));
    std::string path;
    {
        XTempFolder folder("qkv");
        path = U(folder);
        ASSERT_EQ(symlink(outside.c_str(), (path + "link").c_str()), 0);
        ASSERT_EQ(symlink((outside + "/keep").c_str(), (path + "filelink").c_str()), 0);
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(Exists(outside + "/keep"));
}

TEST_F(XTempFileTest, ExistingFolderIsNeverAdopted)
{
    const std::string id = U(XTempUniqueId());
    const unsigned next = std::stoul(id.substr(id.find('-') + 1)) + 1;
    const std::string planted = dir + "/fXTempFile-" + Pid() + "-" + std::to_string(next) + ".tmp";
    ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
    XTempFolder folder("f");
    ASSERT_FALSE(folder.IsEmpty());
    EXPECT_NE(U(folder), planted + "/");
    EXPECT_EQ(Mode(U(folder)), 0700u);
}

TEST_F(XTempFileTest, ScopeMakesAPrivateFolderAndRestores)
{
    {
        XTempFolderScope scope(L"conv");
        ASSERT_NE(scope.LockFd, -1);
        EXPECT_EQ(U(scope.Folder), dir + "/conv-temp/");
        EXPECT_EQ(Mode(dir + "/conv-temp"), 0700u);
        EXPECT_EQ(U(XGetTempFolder()), dir + "/conv-temp/");
        EXPECT_EQ(XGetEnv("XTempFolderScope_Location"), dir + "/conv-temp/");
        XTempFile inside("qk", nullptr);
        EXPECT_EQ(U(inside).rfind(dir + "/conv-temp/qk", 0), 0u);

        // Without nest an outer scope stays in force; with nest a folder inside it is used.
        XTempFolderScope kept(L"inner");
        EXPECT_EQ(kept.LockFd, -1);
        {
            XTempFolderScope nested(L"inner", true);
            ASSERT_NE(nested.LockFd, -1);
            EXPECT_EQ(U(XGetTempFolder()), dir + "/conv-temp/inner-temp/");
        }
        EXPECT_EQ(U(XGetTempFolder()), dir + "/conv-temp/");
    }
    bool set = true;
    XGetEnv("XTempFolderScope_Location", &set);
    EXPECT_FALSE(set);
    EXPECT_FALSE(Exists(dir + "/conv-temp"));
}

TEST_F(XTempFileTest, ScopeNeverAdoptsAnExistingFolderOrLink)
{
    const std::string elsewhere = dir + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir + "/job-temp").c_str(), 0777), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (dir + "/job-temp-1").c_str()), 0);
    {
        XTempFolderScope scope(L"job");
        ASSERT_NE(scope.LockFd, -1);
        EXPECT_EQ(U(scope.Folder), dir + "/job-temp-2/");
    }
    EXPECT_TRUE(Exists(dir + "/job-temp"));
    EXPECT_TRUE(Exists(dir + "/job-temp-1"));
    EXPECT_FALSE(Exists(elsewhere + "/XTempFolderLock"));

    XTempFolderScope unnamed(nullptr);
    EXPECT_EQ(U(unnamed.Folder), dir + "/XTempFolder-0/");
}

// A scope folder whose owner is gone (its lock file held by nobody) is removed and made anew
// under its own name; one whose owner lives, or that is no scope folder of ours, is left alone.
TEST_F(XTempFileTest, ScopeRemovesAFolderWhoseOwnerIsGone)
{
    const std::string stale = dir + "/job-temp";
    ASSERT_EQ(mkdir(stale.c_str(), 0700), 0);
    WriteTestFile(stale + "/XTempFolderLock", "");
    WriteTestFile(stale + "/left-over.wav", "old");
    {
        XTempFolderScope scope(L"job");
        ASSERT_NE(scope.LockFd, -1);
        EXPECT_EQ(U(scope.Folder), stale + "/");
        EXPECT_FALSE(Exists(stale + "/left-over.wav"));
        EXPECT_EQ(Mode(stale), 0700u);
    }
    EXPECT_FALSE(Exists(stale));

    // A live owner in another process keeps its folder.
    ASSERT_EQ(mkdir(stale.c_str(), 0700), 0);
    WriteTestFile(stale + "/XTempFolderLock", "");
    WriteTestFile(stale + "/mine.wav", "kept");
    const std::string lockFile = stale + "/XTempFolderLock"; // no allocation after the fork
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t owner = fork();
    ASSERT_GE(owner, 0);
    if (owner == 0) {
        const int fd = open(lockFile.c_str(), O_RDONLY);
        flock(fd, LOCK_EX);
        const char one = 1;
        (void)!write(ready[1], &one, 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    {
        XTempFolderScope scope(L"job");
        EXPECT_EQ(U(scope.Folder), dir + "/job-temp-1/");
        EXPECT_TRUE(Exists(stale + "/mine.wav"));
    }
    kill(owner, SIGKILL);
    waitpid(owner, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    // Its owner is gone now: the next scope clears it.
    {
        XTempFolderScope scope(L"job");
        EXPECT_EQ(U(scope.Folder), stale + "/");
        EXPECT_FALSE(Exists(stale + "/mine.wav"));
    }

    // A link named like a scope folder, or a folder without a lock file, stays as it is.
    const std::string elsewhere = dir + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    WriteTestFile(elsewhere + "/XTempFolderLock", "");
    ASSERT_EQ(symlink(elsewhere.c_str(), stale.c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/job-temp-1").c_str(), 0700), 0);
    {
        XTempFolderScope scope(L"job");
        EXPECT_EQ(U(scope.Folder), dir + "/job-temp-2/");
    }
    EXPECT_TRUE(Exists(elsewhere + "/XTempFolderLock"));
    EXPECT_TRUE(Exists(dir + "/job-temp-1"));
}

TEST(XScopeExit, RunsAtScopeEnd)
{
    int calls = 0;
    {
        XScopeExit guard([&] { ++calls; });
        EXPECT_EQ(calls, 0);
    }
    EXPECT_EQ(calls, 1);
}
