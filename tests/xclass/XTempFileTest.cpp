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
#include <vector>

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

// The owned id the next temporary of this process gets: the counter one further.
std::string NextOwnedId()
{
    const std::string id = U(XTempOwnedId()); // pid-counter-start-namespace
    const size_t first = id.find('-');
    const size_t second = id.find('-', first + 1);
    const unsigned next = std::stoul(id.substr(first + 1, second - first - 1)) + 1;
    return id.substr(0, first) + "-" + std::to_string(next) + id.substr(second);
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
    const std::string planted = dir + "/pXTempFile-" + NextOwnedId() + ".tmp";
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
    const std::string planted = dir + "/fXTempFile-" + NextOwnedId() + ".tmp";
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

namespace {

// Field 22 of /proc/PID/stat, the process's start in clock ticks after boot.
std::string StartTimeOf(pid_t pid)
{
    std::string stat = ReadTestFile("/proc/" + std::to_string(pid) + "/stat");
    std::string rest = stat.substr(stat.rfind(')') + 2);
    for (int field = 3; field < 22; ++field)
        rest = rest.substr(rest.find(' ') + 1);
    return rest.substr(0, rest.find(' '));
}

std::string OwnNamespace()
{
    struct stat st {};
    stat("/proc/self/ns/pid", &st);
    return std::to_string(st.st_ino);
}

pid_t StartSleeper()
{
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("sleep", "sleep", "600", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

} // namespace

TEST_F(XTempFileTest, OwnedIdsNameThisProcessAndWhenItStarted)
{
    const std::string id = U(XTempOwnedId());
    EXPECT_EQ(id.rfind(Pid() + "-", 0), 0u) << id;
    const std::string tail = "-" + StartTimeOf(getpid()) + "-" + OwnNamespace();
    ASSERT_GT(id.size(), tail.size());
    EXPECT_EQ(id.substr(id.size() - tail.size()), tail) << id;
    XTempFile file("qk", nullptr);
    EXPECT_NE(U(file).find("qkXTempFile-" + Pid() + "-"), std::string::npos);
    EXPECT_TRUE(file.EndsWith(XStr::FromUTF8(tail + ".tmp").p)) << U(file);
}

// Two real processes: one still running, one killed with SIGKILL. What the killed one left
// goes; what a running process holds, what another pid namespace holds, and whatever merely
// looks like a temporary stay.
TEST_F(XTempFileTest, LeftoversOfKilledProcessesGoAndNothingElse)
{
    XTempFile mine("_qk", nullptr); // made first: making it tidies the folder too
    const pid_t alive = StartSleeper();
    const pid_t killed = StartSleeper();
    ASSERT_GT(alive, 0);
    ASSERT_GT(killed, 0);
    const std::string ns = OwnNamespace();
    const std::string aliveStart = StartTimeOf(alive);
    const std::string killedStart = StartTimeOf(killed);
    ASSERT_FALSE(killedStart.empty());
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
    const std::string k = std::to_string(killed), a = std::to_string(alive);
    const std::string killedId = "-" + killedStart + "-" + ns;
    const std::string aliveId = "-" + aliveStart + "-" + ns;

    const std::vector<std::string> gone = {
        "_qkXTempFile-" + k + "-3" + killedId + ".tmp", // a progress file
        "qkvXTempFile-" + k + "-4" + killedId + ".txt", // a concatenation list
        "XTempFile-" + k + "-5" + killedId + ".png",    // a converted picture
        "clip.tmp-" + k + "-7" + killedId + ".mkv",     // an output beside its destination
        "clip two.tmp-" + k + "-8" + killedId,          // one without an extension
        "clip.tmp-" + a + "-2-" + std::to_string(std::stoull(aliveStart) + 1) + "-" + ns + ".mkv", // pid reused
        "_qkXTempFile-" + k + "-9.tmp", // the name of an earlier build
        "clip.tmp-" + k + "-9.mkv",
    };
    const std::vector<std::string> kept = {
        "clip.tmp-" + a + "-1" + aliveId + ".mkv",                  // its maker runs
        "_qkXTempFile-" + a + "-9.tmp",                             // an earlier build's, maker runs
        "clip.tmp-" + k + "-1-" + killedStart + "-" + ns + "1.mkv", // another pid namespace
        "clip.tmp.mkv",                                             // the user's own names
        "clip.tmp-" + k + ".mkv",
        "clip.tmp-" + k + "-7" + killedId + ".mkv.part",
        "notes XTempFile-" + k + "-1.tmp",
        "XTempFile-" + k + "-1-x.tmp",
        ".tmp-" + k + "-7" + killedId + ".mkv",
        "clip.tmp-1-7" + killedId + ".mkv", // no pid we ever had
    };
    for (const std::string& name : gone)
        WriteTestFile(dir + "/" + name, "x");
    for (const std::string& name : kept)
        WriteTestFile(dir + "/" + name, "x");
    // A folder of the killed process with a link out of it, a link it left, and a pipe under
    // one of its names (no temporary of ours is a pipe).
    const std::string outside = temp.file("outside");
    WriteTestFile(outside, "keep");
    const std::string folder = dir + "/fXTempFile-" + k + "-10" + killedId + ".tmp";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    WriteTestFile(folder + "/frame-1.png", "x");
    ASSERT_EQ(symlink(outside.c_str(), (folder + "/out").c_str()), 0);
    const std::string link = dir + "/qklXTempFile-" + k + "-11" + killedId + ".png";
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    const std::string pipe = dir + "/_qkXTempFile-" + k + "-12" + killedId + ".tmp";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);

    EXPECT_EQ(XRemoveStaleTemporaries(XStr::FromUTF8(dir)), static_cast<int>(gone.size()) + 2);
    for (const std::string& name : gone)
        EXPECT_FALSE(Exists(dir + "/" + name)) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(Exists(dir + "/" + name)) << name;
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(ReadTestFile(outside), "keep");
    EXPECT_TRUE(Exists(pipe));
    EXPECT_TRUE(Exists(U(mine)));

    // Once the other maker is gone too, its files go as well.
    ASSERT_EQ(kill(alive, SIGKILL), 0);
    ASSERT_EQ(waitpid(alive, nullptr, 0), alive);
    const std::string aliveFile = dir + "/_qkXTempFile-" + a + "-1" + aliveId + ".tmp";
    WriteTestFile(aliveFile, "x");
    EXPECT_EQ(XRemoveStaleTemporaries(XStr::FromUTF8(dir)), 3); // with its two other files
    EXPECT_FALSE(Exists(aliveFile));
    EXPECT_TRUE(Exists(U(mine)));
}
