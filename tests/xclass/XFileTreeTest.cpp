// Copying, moving and deleting files and folder trees: links are never followed out of a
// tree, link cycles end, and a move never loses the source nor replaces what it must not.
#include "xclass/XFile.h"
#include "xclass/XFileName.h"

#include <gtest/gtest.h>

#include "common/TestFiles.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

XStr W(const std::string& utf8)
{
    return XStr::FromUTF8Bytes(utf8.data(), utf8.size());
}

void Write(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsLink(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkTarget(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

// A folder in /dev/shm when that is another file system than /tmp; empty otherwise.
std::string OtherFileSystem()
{
    struct stat a, b;
    if (stat("/tmp", &a) != 0 || stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev || access("/dev/shm", W_OK) != 0)
        return std::string();
    return "/dev/shm";
}

// Runs fn in a child process with a file-size limit; its exit code, or 128 + signal.
template <typename Fn>
int RunWithFileSizeLimit(rlim_t limit, Fn fn)
{
    const pid_t pid = fork();
    if (pid == 0) {
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        _exit(fn());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST(XFileTree, DeleteNeverFollowsLinks)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("outside")).c_str(), 0700), 0);
    Write(dir.file("outside/keep"), "keep");
    ASSERT_EQ(mkdir((dir.file("tree")).c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir.file("tree/sub")).c_str(), 0700), 0);
    Write(dir.file("tree/sub/file"), "x");
    ASSERT_EQ(symlink((dir.file("outside")).c_str(), (dir.file("tree/sub/folderlink")).c_str()), 0);
    ASSERT_EQ(symlink((dir.file("outside/keep")).c_str(), (dir.file("tree/filelink")).c_str()), 0);
    ASSERT_EQ(symlink("..", (dir.file("tree/sub/cycle")).c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir.file("tree/broken")).c_str()), 0);

    EXPECT_TRUE(XDeleteFolderTree(W(dir.file("tree")).p, true, L"*.*", true));
    EXPECT_FALSE(Exists(dir.file("tree")));
    EXPECT_EQ(Read(dir.file("outside/keep")), "keep");

    // A link named as the tree itself goes; its target stays.
    ASSERT_EQ(symlink((dir.file("outside")).c_str(), (dir.file("toplink")).c_str()), 0);
    EXPECT_TRUE(XDeleteFolderTree(W(dir.file("toplink")).p, true, L"*.*", true));
    EXPECT_FALSE(Exists(dir.file("toplink")));
    EXPECT_EQ(Read(dir.file("outside/keep")), "keep");
}

TEST(XFileTree, DeleteWithPatternAndLimits)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("f")).c_str(), 0700), 0);
    Write(dir.file("f/a.tmp"), "");
    Write(dir.file("f/b.txt"), "");
    ASSERT_EQ(mkdir((dir.file("f/c.tmp")).c_str(), 0700), 0);
    Write(dir.file("f/c.tmp/d.tmp"), "");
    Write(dir.file("f/c.tmp/e.txt"), "");
    EXPECT_TRUE(XDeleteFiles(L"*.tmp", W(dir.file("f")).p));
    EXPECT_FALSE(Exists(dir.file("f/a.tmp")));
    EXPECT_TRUE(Exists(dir.file("f/b.txt")));
    EXPECT_TRUE(Exists(dir.file("f/c.tmp/d.tmp"))); // not recursive

    EXPECT_TRUE(XDeleteFolderTree(W(dir.file("f")).p, true, L"*.tmp", true));
    EXPECT_FALSE(Exists(dir.file("f/c.tmp/d.tmp")));
    EXPECT_TRUE(Exists(dir.file("f/c.tmp/e.txt")));
    EXPECT_TRUE(Exists(dir.file("f/b.txt")));

    EXPECT_FALSE(XDeleteFolderTree(L"/a", true, L"*.*", true));
    EXPECT_FALSE(XDeleteFolderTree(L"///", true, L"*.*", true));
    EXPECT_TRUE(Exists("/tmp"));
}

TEST(XFileTree, CopyKeepsModeTimesAndAttributes)
{
    TestTempDir dir;
    const std::string data = TestPattern(3 << 20, 7);
    Write(dir.file("src"), data);
    ASSERT_EQ(chmod((dir.file("src")).c_str(), 0640), 0);
    const bool xattrs = setxattr((dir.file("src")).c_str(), "user.marvoni", "tag", 3, 0) == 0;
    XFileTimes times;
    times.AccessSeconds = 1100000000;
    times.WriteSeconds = 981173106;
    ASSERT_TRUE(XSetFileTimes(W(dir.file("src")).p, times));

    ASSERT_TRUE(XCopyFile(W(dir.file("src")).p, W(dir.file("dst")).p, true));
    EXPECT_EQ(Read(dir.file("dst")), data);
    struct stat st;
    ASSERT_EQ(stat((dir.file("dst")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 981173106);
    if (xattrs) {
        char value[16] = {};
        EXPECT_EQ(getxattr((dir.file("dst")).c_str(), "user.marvoni", value, sizeof value), 3);
        EXPECT_STREQ(value, "tag");
    }

    // failIfExists leaves an existing target alone; a copy onto itself empties nothing.
    Write(dir.file("other"), "other");
    EXPECT_FALSE(XCopyFile(W(dir.file("src")).p, W(dir.file("other")).p, true));
    EXPECT_EQ(Read(dir.file("other")), "other");
    EXPECT_TRUE(XCopyFile(W(dir.file("src")).p, W(dir.file("other")).p, false));
    EXPECT_EQ(Read(dir.file("other")), data);
    EXPECT_FALSE(XCopyFile(W(dir.file("src")).p, W(dir.file("src")).p, false));
    EXPECT_EQ(Read(dir.file("src")), data);
    EXPECT_FALSE(XCopyFile(W(dir.file("missing")).p, W(dir.file("x")).p, false));
    EXPECT_FALSE(Exists(dir.file("x")));
}

TEST(XFileTree, CopyTreeRecreatesLinksAndEndsOnCycles)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("outside")).c_str(), 0700), 0);
    Write(dir.file("outside/secret"), "secret");
    ASSERT_EQ(mkdir((dir.file("src")).c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir.file("src/sub")).c_str(), 0750), 0);
    Write(dir.file("src/file"), "file");
    Write(dir.file("src/sub/inner"), "inner");
    ASSERT_EQ(symlink((dir.file("outside")).c_str(), (dir.file("src/sub/out")).c_str()), 0);
    ASSERT_EQ(symlink("../file", (dir.file("src/sub/rel")).c_str()), 0);
    ASSERT_EQ(symlink("..", (dir.file("src/sub/cycle")).c_str()), 0);

    ASSERT_TRUE(XCopyFolderTree(W(dir.file("src")).p, W(dir.file("dst")).p));
    EXPECT_EQ(Read(dir.file("dst/file")), "file");
    EXPECT_EQ(Read(dir.file("dst/sub/inner")), "inner");
    EXPECT_TRUE(IsLink(dir.file("dst/sub/out")));
    EXPECT_EQ(LinkTarget(dir.file("dst/sub/out")), dir.file("outside"));
    EXPECT_EQ(LinkTarget(dir.file("dst/sub/rel")), "../file");
    EXPECT_EQ(LinkTarget(dir.file("dst/sub/cycle")), "..");
    struct stat st;
    ASSERT_EQ(stat((dir.file("dst/sub")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);

    // Into a folder of its own: the copy does not copy itself again and again.
    ASSERT_TRUE(XCopyFolderTree(W(dir.file("src")).p, W(dir.file("src/sub/again")).p));
    EXPECT_EQ(Read(dir.file("src/sub/again/file")), "file");
    EXPECT_TRUE(Exists(dir.file("src/sub/again/sub/inner")));
    EXPECT_FALSE(Exists(dir.file("src/sub/again/sub/again")));
}

TEST(XFileTree, MoveTreeMovesLinksAsLinks)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("outside")).c_str(), 0700), 0);
    Write(dir.file("outside/keep"), "keep");
    ASSERT_EQ(mkdir((dir.file("src")).c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir.file("src/sub")).c_str(), 0700), 0);
    Write(dir.file("src/sub/a"), "a");
    ASSERT_EQ(symlink((dir.file("outside")).c_str(), (dir.file("src/link")).c_str()), 0);
    ASSERT_EQ(mkdir((dir.file("dst")).c_str(), 0700), 0);
    Write(dir.file("dst/existing"), "existing");

    ASSERT_TRUE(XMoveFolderTree(W(dir.file("src")).p, W(dir.file("dst")).p));
    EXPECT_FALSE(Exists(dir.file("src")));
    EXPECT_EQ(Read(dir.file("dst/sub/a")), "a");
    EXPECT_TRUE(IsLink(dir.file("dst/link")));
    EXPECT_EQ(Read(dir.file("dst/existing")), "existing");
    EXPECT_EQ(Read(dir.file("outside/keep")), "keep");
    EXPECT_FALSE(Exists(dir.file("dst/link/link")));
}

TEST(XFileTree, MoveNoReplaceKeepsTheTarget)
{
    TestTempDir dir;
    Write(dir.file("a"), "a");
    Write(dir.file("b"), "b");
    EXPECT_FALSE(XMoveFileNoReplace(W(dir.file("a")).p, W(dir.file("b")).p));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Read(dir.file("a")), "a");
    EXPECT_EQ(Read(dir.file("b")), "b");
    ASSERT_EQ(symlink("nowhere", (dir.file("dangling")).c_str()), 0);
    EXPECT_FALSE(XMoveFileNoReplace(W(dir.file("a")).p, W(dir.file("dangling")).p));
    EXPECT_TRUE(XMoveFileNoReplace(W(dir.file("a")).p, W(dir.file("c")).p));
    EXPECT_EQ(Read(dir.file("c")), "a");
    EXPECT_FALSE(Exists(dir.file("a")));
    EXPECT_TRUE(XMoveFile(W(dir.file("c")).p, W(dir.file("b")).p));
    EXPECT_EQ(Read(dir.file("b")), "a");
    EXPECT_FALSE(XMoveFileEx(W(dir.file("missing")).p, W(dir.file("x")).p, false));
}

TEST(XFileTree, MoveAcrossFileSystemsKeepsMetadata)
{
    const std::string other = OtherFileSystem();
    if (other.empty())
        GTEST_SKIP() << "no second file system at /dev/shm";
    // OtherFileSystem compares with /tmp: the first folder must be there.
    TestTempDir dir("/tmp");
    TestTempDir shm(other);
    const std::string data = TestPattern(5 << 20, 3);
    Write(shm.file("movie.bin"), data);
    ASSERT_EQ(chmod((shm.file("movie.bin")).c_str(), 0640), 0);
    XFileTimes times;
    times.AccessSeconds = times.WriteSeconds = 981173106;
    ASSERT_TRUE(XSetFileTimes(W(shm.file("movie.bin")).p, times));

    ASSERT_TRUE(XMoveFileNoReplace(W(shm.file("movie.bin")).p, W(dir.file("movie.bin")).p));
    EXPECT_FALSE(Exists(shm.file("movie.bin")));
    EXPECT_EQ(Read(dir.file("movie.bin")), data);
    struct stat st;
    ASSERT_EQ(stat((dir.file("movie.bin")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 981173106);

    // An existing target on the other side is never replaced.
    Write(shm.file("again.bin"), "new");
    Write(dir.file("again.bin"), "old");
    EXPECT_FALSE(XMoveFileNoReplace(W(shm.file("again.bin")).p, W(dir.file("again.bin")).p));
    EXPECT_EQ(Read(shm.file("again.bin")), "new");
    EXPECT_EQ(Read(dir.file("again.bin")), "old");
    // ... unless replacing is what was asked; a link at the target is replaced, not followed.
    Write(dir.file("victim"), "victim");
    ASSERT_EQ(symlink((dir.file("victim")).c_str(), (dir.file("linked.bin")).c_str()), 0);
    Write(shm.file("linked.bin"), "moved");
    ASSERT_TRUE(XMoveFile(W(shm.file("linked.bin")).p, W(dir.file("linked.bin")).p));
    EXPECT_FALSE(IsLink(dir.file("linked.bin")));
    EXPECT_EQ(Read(dir.file("linked.bin")), "moved");
    EXPECT_EQ(Read(dir.file("victim")), "victim");

    // A folder moves whole, its links as links.
    ASSERT_EQ(mkdir((shm.file("folder")).c_str(), 0750), 0);
    Write(shm.file("folder/f"), "f");
    ASSERT_EQ(symlink("/etc", (shm.file("folder/etc")).c_str()), 0);
    ASSERT_TRUE(XMoveFile(W(shm.file("folder")).p, W(dir.file("folder")).p));
    EXPECT_FALSE(Exists(shm.file("folder")));
    EXPECT_EQ(Read(dir.file("folder/f")), "f");
    EXPECT_EQ(LinkTarget(dir.file("folder/etc")), "/etc");
    ASSERT_EQ(stat((dir.file("folder")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
}

TEST(XFileTree, FailedMoveAcrossKeepsTheSource)
{
    const std::string other = OtherFileSystem();
    if (other.empty())
        GTEST_SKIP() << "no second file system at /dev/shm";
    // OtherFileSystem compares with /tmp: the first folder must be there.
    TestTempDir dir("/tmp");
    TestTempDir shm(other);
    const std::string data = TestPattern(1 << 20, 11);
    Write(shm.file("big.bin"), data);
    ASSERT_EQ(mkdir((shm.file("tree")).c_str(), 0700), 0);
    Write(shm.file("tree/small"), "small");
    Write(shm.file("tree/big"), data);

    // The copy runs into the file-size limit: an error, not a crash, and nothing lost.
    const int code = RunWithFileSizeLimit(64 << 10, [&] {
        if (XMoveFile(W(shm.file("big.bin")).p, W(dir.file("big.bin")).p))
            return 1;
        if (errno != EFBIG)
            return 2;
        if (XMoveFileNoReplace(W(shm.file("tree")).p, W(dir.file("tree")).p))
            return 3;
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Read(shm.file("big.bin")), data);
    EXPECT_FALSE(Exists(dir.file("big.bin")));
    EXPECT_EQ(Read(shm.file("tree/big")), data);
    EXPECT_EQ(Read(shm.file("tree/small")), "small");
    EXPECT_FALSE(Exists(dir.file("tree")));
}

TEST(XFileTree, MoveTreeDoesNotFollowALinkInTheDestination)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("outside")).c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir.file("src")).c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir.file("src/sub")).c_str(), 0700), 0);
    Write(dir.file("src/sub/a"), "a");
    ASSERT_EQ(mkdir((dir.file("dst")).c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir.file("outside")).c_str(), (dir.file("dst/sub")).c_str()), 0);

    // dst/sub is a link, not a folder of the tree: nothing goes through it.
    EXPECT_FALSE(XMoveFolderTree(W(dir.file("src")).p, W(dir.file("dst")).p));
    EXPECT_FALSE(Exists(dir.file("outside/a")));
    EXPECT_EQ(Read(dir.file("src/sub/a")), "a");
    EXPECT_TRUE(IsLink(dir.file("dst/sub")));
}

TEST(XFileTree, CopyTreeReplacesALinkInTheDestinationInsteadOfWritingThroughIt)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("outside")).c_str(), 0700), 0);
    Write(dir.file("outside/victim"), "keep");
    ASSERT_EQ(mkdir((dir.file("src")).c_str(), 0700), 0);
    Write(dir.file("src/file"), "new");
    ASSERT_EQ(mkdir((dir.file("dst")).c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir.file("outside/victim")).c_str(), (dir.file("dst/file")).c_str()), 0);

    ASSERT_TRUE(XCopyFolderTree(W(dir.file("src")).p, W(dir.file("dst")).p));
    EXPECT_EQ(Read(dir.file("outside/victim")), "keep");
    EXPECT_FALSE(IsLink(dir.file("dst/file")));
    EXPECT_EQ(Read(dir.file("dst/file")), "new");
}
