#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "xclass/XPlatform.h"

namespace {

TEST(XPlatform, BoundedCopies)
{
    char dst[8];
    strcpy(dst, "old");
    errno = 0;
    EXPECT_EQ(strcpy_s(dst, 5, "hello"), ERANGE); // size == strlen
    EXPECT_EQ(errno, ERANGE);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(strcpy_s(dst, 6, "hello"), 0);
    EXPECT_STREQ(dst, "hello");
    EXPECT_EQ(strcpy_s(dst, sizeof dst, nullptr), EINVAL);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(strcpy_s(nullptr, 4, "x"), EINVAL);

    strcpy(dst, "ab");
    EXPECT_EQ(strcat_s(dst, sizeof dst, "cde"), 0);
    EXPECT_STREQ(dst, "abcde");
    EXPECT_EQ(strcat_s(dst, sizeof dst, "fgh"), ERANGE); // 5 + 3 + 1 > 8
    EXPECT_STREQ(dst, "");
    strcpy(dst, "abcd");
    EXPECT_EQ(strcat_s(dst, 8, "efg"), 0); // exactly fills the buffer
    EXPECT_STREQ(dst, "abcdefg");
    memset(dst, 'x', sizeof dst); // no terminator within size
    errno = 0;
    EXPECT_EQ(strcat_s(dst, sizeof dst, "a"), EINVAL);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(dst[0], 0);
}

std::string ReadFd(int fd)
{
    std::string data;
    lseek(fd, 0, SEEK_SET);
    char chunk[512];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        data.append(chunk, static_cast<size_t>(n));
    return data;
}

int TempFd()
{
    char pattern[] = "/tmp/xplatform-test-XXXXXX";
    const int fd = mkstemp(pattern);
    unlink(pattern);
    return fd;
}

TEST(XPlatform, ReportChannels)
{
    STNStdReport report;
    EXPECT_EQ(report.hFileError, 2);
    EXPECT_EQ(report.hFileInfo, 2);
    EXPECT_EQ(report.hFileDebug, 2);
    const int error = TempFd(), info = TempFd(), debug = TempFd();
    ASSERT_GE(error, 0);
    ASSERT_GE(info, 0);
    ASSERT_GE(debug, 0);
    report.hFileError = error;
    report.hFileInfo = info;
    report.hFileDebug = debug;
    report.Error(L"x", "y");
    report.Information(L"caf\u00e9", nullptr);
    report.Error(L"ctx", "\xe9t\xe9"); // the context is Windows-1252
    EXPECT_EQ(ReadFd(error), "x  [y]\r\nctx  [\xc3\xa9t\xc3\xa9]\r\n");
    EXPECT_EQ(ReadFd(info), "caf\xc3\xa9\r\n");
    EXPECT_EQ(ReadFd(debug),
              "*** Error: x  [y]\r\n*** Information: caf\xc3\xa9\r\n*** Error: ctx  [\xc3\xa9t\xc3\xa9]\r\n");

    STNStdReport silent; // 0 and -1 write nothing
    silent.hFileError = -1;
    silent.hFileDebug = 0;
    silent.hFileInfo = -1;
    silent.Error(L"nothing", nullptr);
    silent.Information(L"nothing", "ctx");
    close(error);
    close(info);
    close(debug);
}

// Captures what a call writes to standard output.
template <typename F>
std::string CaptureStdout(F call)
{
    fflush(stdout);
    const int saved = dup(1);
    const int fd = TempFd();
    dup2(fd, 1);
    call();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    const std::string data = ReadFd(fd);
    close(fd);
    return data;
}

TEST(XPlatform, ConsoleOutput)
{
    EXPECT_EQ(CaptureStdout([] { XPrintW(L"w\u00e9"); }), "w\xc3\xa9");
    EXPECT_EQ(CaptureStdout([] { XPrintA("raw\xff"); }), "raw\xff");
    EXPECT_EQ(CaptureStdout([] { XPrint1252("\x80\xe9"); }), "\xe2\x82\xac\xc3\xa9");
    EXPECT_EQ(CaptureStdout([] { XTrace(L"n=%d.", 42); }), "n=42.");
}

TEST(XPlatform, WideFileOpen)
{
    FILE* file = reinterpret_cast<FILE*>(0x1);
    EXPECT_EQ(_wfopen_s(&file, L"/nonexistent-folder/x", L"r"), ENOENT);
    EXPECT_EQ(file, reinterpret_cast<FILE*>(0x1));

    TestTempDir temp;
    const std::string folder = temp.path();
    ASSERT_FALSE(folder.empty());
    const std::wstring path = XStr::FromUTF8(std::string(folder) + "/\u00e9 x.txt").View().data();
    ASSERT_EQ(_wfopen_s(&file, path.c_str(), L"w"), 0);
    fputs("ok", file);
    fclose(file);
    struct stat st;
    EXPECT_EQ(stat((std::string(folder) + "/\xc3\xa9 x.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2);
}

TEST(XPlatform, TickCountIsTheMonotonicClock)
{
    // Read between two readings of CLOCK_MONOTONIC: a wall-clock source (seconds since
    // 1970) would be far outside.
    struct timespec before, after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    const int64_t ticks = GetTickCount64();
    const uint32_t ticks32 = GetTickCount();
    clock_gettime(CLOCK_MONOTONIC, &after);
    const int64_t low = static_cast<int64_t>(before.tv_sec) * 1000 + before.tv_nsec / 1000000;
    const int64_t high = static_cast<int64_t>(after.tv_sec) * 1000 + after.tv_nsec / 1000000;
    EXPECT_GE(ticks, low);
    EXPECT_LE(ticks, high);
    EXPECT_LE(ticks32 - static_cast<uint32_t>(low), static_cast<uint32_t>(high - low));

    const uint32_t start = GetTickCount();
    Sleep(20);
    EXPECT_GE(GetTickCount() - start, 20u);
}

TEST(XPlatform, RandomNames)
{
    const std::string a = XRandomHex32().ToUTF8String();
    const std::string b = XRandomHex32().ToUTF8String();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_NE(a, b);
}

TEST(XPlatformVolumes, MountPointsFromMountinfo)
{
    EXPECT_EQ(XGetMountPoint(L"/").ToUTF8String(), "/");
    EXPECT_EQ(XGetMountPoint(L"/proc/self/status").ToUTF8String(), "/proc");
    EXPECT_EQ(XGetMountType(L"/proc").ToUTF8String(), "proc");
    // A path that does not exist yet belongs to the volume of its nearest folder.
    EXPECT_EQ(XGetMountPoint(L"/proc/no/such/thing").ToUTF8String(), "/proc");
    EXPECT_TRUE(XGetMountPoint(L"relative/path").IsEmpty());
    EXPECT_FALSE(XIsVolumeRemote(L"/"));
    EXPECT_FALSE(XIsVolumeExternal(L"/"));
    EXPECT_FALSE(XIsVolumeExternal(L"/proc"));
}

TEST(XPlatformVolumes, VolumeRootFolders)
{
    TestEnvScope user("USER", "alice");
    EXPECT_TRUE(XIsVolumeRootFolder(L"/media"));
    EXPECT_TRUE(XIsVolumeRootFolder(L"/media/alice/"));
    EXPECT_TRUE(XIsVolumeRootFolder(L"/run/media/alice"));
    EXPECT_TRUE(XIsVolumeRootFolder(L"/mnt/"));
    EXPECT_FALSE(XIsVolumeRootFolder(L"/media/alice/disk"));
    EXPECT_FALSE(XIsVolumeRootFolder(L"/run/media/bob/"));
    EXPECT_FALSE(XIsVolumeRootFolder(L""));
    EXPECT_FALSE(XIsVolumeRootFolder(L"/"));
}

// Volumes of its own in a private mount namespace (skipped where that is not allowed).
TEST(XPlatformVolumes, MountedVolumes)
{
    static bool entered = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!entered)
        GTEST_SKIP() << "no private mount namespace here";
    TestTempDir temp;
    const std::string root = temp.path();
    ASSERT_FALSE(root.empty());
    // Blanks and backslashes are escaped in mountinfo.
    const std::string volume = root + "/my vol\\x";
    ASSERT_EQ(mkdir(volume.c_str(), 0755), 0);
    ASSERT_EQ(mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=1m"), 0) << strerror(errno);
    EXPECT_EQ(XGetMountPoint(XStr::FromUTF8(volume + "/missing/file")).ToUTF8String(), volume);
    EXPECT_EQ(XGetMountType(XStr::FromUTF8(volume)).ToUTF8String(), "tmpfs");
    EXPECT_FALSE(XIsVolumeExternal(XStr::FromUTF8(volume)));

    // A later mount on the same point hides the earlier one.
    ASSERT_EQ(mount("proc", volume.c_str(), "proc", 0, nullptr), 0) << strerror(errno);
    EXPECT_EQ(XGetMountType(XStr::FromUTF8(volume)).ToUTF8String(), "proc");
    umount2(volume.c_str(), MNT_DETACH);

    // Under a volume root folder a volume counts as external.
    struct stat st;
    if (stat("/media", &st) == 0 && S_ISDIR(st.st_mode) && mount("tmpfs", "/media", "tmpfs", 0, "size=1m") == 0) {
        TestEnvScope user("USER", "alice");
        ASSERT_EQ(mkdir("/media/alice", 0755), 0);
        ASSERT_EQ(mkdir("/media/alice/disk", 0755), 0);
        ASSERT_EQ(mount("tmpfs", "/media/alice/disk", "tmpfs", 0, "size=1m"), 0);
        EXPECT_TRUE(XIsVolumeExternal(L"/media/alice/disk/some/file"));
        EXPECT_FALSE(XIsVolumeExternal(L"/media/alice")); // the root folder itself is not a volume
        umount2("/media/alice/disk", MNT_DETACH);
        umount2("/media", MNT_DETACH);
    }
    umount2(volume.c_str(), MNT_DETACH);
}

} // namespace
