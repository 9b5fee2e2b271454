// XCriticalSection and XFileMutex.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/TestFiles.h"
#include "xclass/XCriticalSection.h"
#include "xclass/XFileMutex.h"
#include "xclass/XPlatform.h"

namespace {

bool LockedElsewhere(XCriticalSection& section)
{
    bool got = false;
    std::thread other([&] {
        got = section.TryLock();
        if (got)
            section.Unlock();
    });
    other.join();
    return !got;
}

TEST(XCriticalSection, RecursiveLockNeedsEveryUnlock)
{
    XCriticalSection section;
    section.Lock();
    section.Lock();
    EXPECT_TRUE(LockedElsewhere(section));
    section.Unlock();
    EXPECT_TRUE(LockedElsewhere(section));
    section.Unlock();
    EXPECT_FALSE(LockedElsewhere(section));
}

class FileMutexTest : public testing::Test {
protected:
    TestTempDir temp;
    std::string folder;
    void SetUp() override
    {
        folder = temp.path();
        ASSERT_FALSE(folder.empty());
    }
    XStr PathOf(const char* name) const { return XStr::FromUTF8(folder + "/" + name); }
};

TEST_F(FileMutexTest, OpenKeepsTheContentAndTheFileAndIsCloseOnExec)
{
    const std::string path = folder + "/lock";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "keep", 4), 4);
    close(fd);

    XFileMutex mutex;
    EXPECT_FALSE(mutex.IsOpen());
    ASSERT_TRUE(mutex.Open(PathOf("lock")));
    EXPECT_TRUE(mutex.IsOpen());
    EXPECT_TRUE(fcntl(mutex.fd, F_GETFD) & FD_CLOEXEC);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4);
    mutex.Close();
    EXPECT_EQ(mutex.fd, -1);
    EXPECT_EQ(stat(path.c_str(), &st), 0); // closing leaves the file in place
}

TEST_F(FileMutexTest, LinksAndSpecialFilesAreRefused)
{
    const std::string target = folder + "/target";
    const std::string link = folder + "/link";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    XFileMutex mutex;
    EXPECT_FALSE(mutex.Open(PathOf("link")));
    struct stat st;
    EXPECT_NE(stat(target.c_str(), &st), 0) << "the link's target was created";

    // A FIFO must neither be taken nor make the open hang.
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(mutex.Open(PathOf("fifo")));
    EXPECT_FALSE(mutex.IsOpen());
}

TEST_F(FileMutexTest, NamedLocksRefuseSlashes)
{
    EXPECT_EQ(XFileMutex::GetNamedPath(L"abc").ToUTF8String(), "/tmp/xmutex-abc");
    EXPECT_TRUE(XFileMutex::GetNamedPath(L"../etc/x").IsEmpty());
    XFileMutex mutex;
    EXPECT_FALSE(mutex.OpenNamed(L"a/b"));
    EXPECT_FALSE(XFileMutex::RemoveNamed(L"a/b"));

    const XStr name = mutex.OpenUnique(L"unit-test-");
    ASSERT_FALSE(name.IsEmpty());
    const std::string text = name.ToUTF8String();
    ASSERT_EQ(text.size(), 10u + 32u);
    EXPECT_EQ(text.compare(0, 10, "unit-test-"), 0);
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF", 10), std::string::npos);
    struct stat st;
    EXPECT_EQ(stat(("/tmp/xmutex-" + text).c_str(), &st), 0);
    XFileMutex other;
    const XStr otherName = other.OpenUnique(L"unit-test-");
    EXPECT_NE(otherName.ToUTF8String(), text);
    other.Close();
    EXPECT_TRUE(XFileMutex::RemoveNamed(otherName));
    mutex.Close();
    EXPECT_TRUE(XFileMutex::RemoveNamed(name));
    EXPECT_NE(stat(("/tmp/xmutex-" + text).c_str(), &st), 0);
}

TEST_F(FileMutexTest, TwoObjectsOnOnePathExcludeEachOther)
{
    XFileMutex a(PathOf("lock")), b(PathOf("lock"));
    ASSERT_TRUE(a.IsOpen());
    ASSERT_TRUE(b.IsOpen());
    ASSERT_EQ(a.Lock(), 0);
    EXPECT_FALSE(b.TryLock());
    EXPECT_FALSE(b.TryLockShared());
    EXPECT_EQ(a.Unlock(), 0);
    ASSERT_EQ(a.LockShared(), 0);
    EXPECT_TRUE(b.TryLockShared()); // shared locks go together
    EXPECT_FALSE(b.TryLock(0));     // ... not with an exclusive one
    b.Unlock();
    a.Close(); // closing releases the lock
    EXPECT_TRUE(b.TryLock());

    XFileMutex closed;
    EXPECT_EQ(closed.Lock(), -1);
    EXPECT_FALSE(closed.TryLock(50));
}

TEST_F(FileMutexTest, TimedTryWaitsForAnotherProcess)
{
    const std::string path = folder + "/lock";
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(release[1]); // or the read below would never see the end
        close(ready[0]);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
        char byte = 0;
        if (fd < 0 || flock(fd, LOCK_EX) != 0)
            _exit(1);
        if (write(ready[1], "x", 1) != 1)
            _exit(1);
        if (read(release[0], &byte, 1) < 0) // until the parent closes its end
            _exit(1);
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);

    XFileMutex mutex(PathOf("lock"));
    ASSERT_TRUE(mutex.IsOpen());
    EXPECT_FALSE(mutex.TryLock(0));
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(mutex.TryLock(50));
    EXPECT_GE(GetTickCount() - start, 50u);
    EXPECT_FALSE(mutex.TryLockShared(20));

    close(release[1]); // the child ends, and its lock with it
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(mutex.TryLock(5000));
    close(ready[0]);
}

} // namespace
