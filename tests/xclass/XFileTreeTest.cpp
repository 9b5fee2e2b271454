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

class TempDir {
public:
    explicit TempDir(const char* base = "/tmp")
    {
        std::string tmpl = std::string(base) + "/xfiletree-test-XXXXXX";
        if (mkdtemp(tmpl.data()))
            path = tmpl;
    }
    ~TempDir()
    {
        if (!path.empty())
            XDeleteFolderTree(W(path).p, true, L"*.*", true);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

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
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "outside").c_str(), 0700), 0);
    Write(dir / "outside/keep", "keep");
    ASSERT_EQ(mkdir((dir / "tree").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir / "tree/sub").c_str(), 0700), 0);
    Write(dir / "tree/sub/file", "x");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/sub/folderlink").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside/keep").c_str(), (dir / "tree/filelink").c_str()), 0);
    ASSERT_EQ(symlink("..", (dir / "tree/sub/cycle").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "tree/broken").c_str()), 0);

    EXPECT_TRUE(XDeleteFolderTree(W(dir / "tree").p, true, L"*.*", true));
    EXPECT_FALSE(Exists(dir / "tree"));
    EXPECT_EQ(Read(dir / "outside/keep"), "keep");

    // A link named as the tree itself goes; its target stays.
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "toplink").c_str()), 0);
    EXPECT_TRUE(XDeleteFolderTree(W(dir / "toplink").p, true, L"*.*", true));
    EXPECT_FALSE(Exists(dir / "toplink"));
    EXPECT_EQ(Read(dir / "outside/keep"), "keep");
}

TEST(XFileTree, DeleteWithPatternAndLimits)
{
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "f").c_str(), 0700), 0);
    Write(dir / "f/a.tmp", "");
    Write(dir / "f/b.txt", "");
    ASSERT_EQ(mkdir((dir / "f/c.tmp").c_str(), 0700), 0);
    Write(dir / "f/c.tmp/d.tmp", "");
    Write(dir / "f/c.tmp/e.txt", "");
    EXPECT_TRUE(XDeleteFiles(L"*.tmp", W(dir / "f").p));
    EXPECT_FALSE(Exists(dir / "f/a.tmp"));
    EXPECT_TRUE(Exists(dir / "f/b.txt"));
    EXPECT_TRUE(Exists(dir / "f/c.tmp/d.tmp")); // not recursive

    EXPECT_TRUE(XDeleteFolderTree(W(dir / "f").p, true, L"*.tmp", true));
    EXPECT_FALSE(Exists(dir / "f/c.tmp/d.tmp"));
    EXPECT_TRUE(Exists(dir / "f/c.tmp/e.txt"));
    EXPECT_TRUE(Exists(dir / "f/b.txt"));

    EXPECT_FALSE(XDeleteFolderTree(L"/a", true, L"*.*", true));
    EXPECT_FALSE(XDeleteFolderTree(L"///", true, L"*.*", true));
    EXPECT_TRUE(Exists("/tmp"));
}

TEST(XFileTree, CopyKeepsModeTimesAndAttributes)
{
    TempDir dir;
    const std::string data = TestPattern(3 << 20, 7);
    Write(dir / "src", data);
    ASSERT_EQ(chmod((dir / "src").c_str(), 0640), 0);
    const bool xattrs = setxattr((dir / "src").c_str(), "user.marvoni", "tag", 3, 0) == 0;
    XFileTimes times;
    times.AccessSeconds = 1100000000;
    times.WriteSeconds = 981173106;
    ASSERT_TRUE(XSetFileTimes(W(dir / "src").p, times));

    ASSERT_TRUE(XCopyFile(W(dir / "src").p, W(dir / "dst").p, true));
    EXPECT_EQ(Read(dir / "dst"), data);
    struct stat st;
    ASSERT_EQ(stat((dir / "dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 981173106);
    if (xattrs) {
        char value[16] = {};
        EXPECT_EQ(getxattr((dir / "dst").c_str(), "user.marvoni", value, sizeof value), 3);
        EXPECT_STREQ(value, "tag");
    }

    // failIfExists leaves an existing target alone; a copy onto itself empties nothing.
    Write(dir / "other", "other");
    EXPECT_FALSE(XCopyFile(W(dir / "src").p, W(dir / "other").p, true));
    EXPECT_EQ(Read(dir / "other"), "other");
    EXPECT_TRUE(XCopyFile(W(dir / "src").p, W(dir / "other").p, false));
    EXPECT_EQ(Read(dir / "other"), data);
    EXPECT_FALSE(XCopyFile(W(dir / "src").p, W(dir / "src").p, false));
    EXPECT_EQ(Read(dir / "src"), data);
    EXPECT_FALSE(XCopyFile(W(dir / "missing").p, W(dir / "x").p, false));
    EXPECT_FALSE(Exists(dir / "x"));
}

TEST(XFileTree, CopyTreeRecreatesLinksAndEndsOnCycles)
{
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "outside").c_str(), 0700), 0);
    Write(dir / "outside/secret", "secret");
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "src/sub").c_str(), 0750), 0);
    Write(dir / "src/file", "file");
    Write(dir / "src/sub/inner", "inner");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "src/sub/out").c_str()), 0);
    ASSERT_EQ(symlink("../file", (dir / "src/sub/rel").c_str()), 0);
    ASSERT_EQ(symlink("..", (dir / "src/sub/cycle").c_str()), 0);

    ASSERT_TRUE(XCopyFolderTree(W(dir / "src").p, W(dir / "dst").p));
    EXPECT_EQ(Read(dir / "dst/file"), "file");
    EXPECT_EQ(Read(dir / "dst/sub/inner"), "inner");
    EXPECT_TRUE(IsLink(dir / "dst/sub/out"));
    EXPECT_EQ(LinkTarget(dir / "dst/sub/out"), dir / "outside");
    EXPECT_EQ(LinkTarget(dir / "dst/sub/rel"), "../file");
    EXPECT_EQ(LinkTarget(dir / "dst/sub/cycle"), "..");
    struct stat st;
    ASSERT_EQ(stat((dir / "dst/sub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);

    // Into a folder of its own: the copy does not copy itself again and again.
    ASSERT_TRUE(XCopyFolderTree(W(dir / "src").p, W(dir / "src/sub/again").p));
    EXPECT_EQ(Read(dir / "src/sub/again/file"), "file");
    EXPECT_TRUE(Exists(dir / "src/sub/again/sub/inner"));
    EXPECT_FALSE(Exists(dir / "src/sub/again/sub/again"));
}

TEST(XFileTree, MoveTreeMovesLinksAsLinks)
{
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "outside").c_str(), 0700), 0);
    Write(dir / "outside/keep", "keep");
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir / "src/sub").c_str(), 0700), 0);
    Write(dir / "src/sub/a", "a");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "src/link").c_str()), 0);
    ASSERT_EQ(mkdir((dir / "dst").c_str(), 0700), 0);
    Write(dir / "dst/existing", "existing");

    ASSERT_TRUE(XMoveFolderTree(W(dir / "src").p, W(dir / "dst").p));
    EXPECT_FALSE(Exists(dir / "src"));
    EXPECT_EQ(Read(dir / "dst/sub/a"), "a");
    EXPECT_TRUE(IsLink(dir / "dst/link"));
    EXPECT_EQ(Read(dir / "dst/existing"), "existing");
    EXPECT_EQ(Read(dir / "outside/keep"), "keep");
    EXPECT_FALSE(Exists(dir / "dst/link/link"));
}

TEST(XFileTree, MoveNoReplaceKeepsTheTarget)
{
    TempDir dir;
    Write(dir / "a", "a");
    Write(dir / "b", "b");
    EXPECT_FALSE(XMoveFileNoReplace(W(dir / "a").p, W(dir / "b").p));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Read(dir / "a"), "a");
    EXPECT_EQ(Read(dir / "b"), "b");
    ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
    EXPECT_FALSE(XMoveFileNoReplace(W(dir / "a").p, W(dir / "dangling").p));
    EXPECT_TRUE(XMoveFileNoReplace(W(dir / "a").p, W(dir / "c").p));
    EXPECT_EQ(Read(dir / "c"), "a");
    EXPECT_FALSE(Exists(dir / "a"));
    EXPECT_TRUE(XMoveFile(W(dir / "c").p, W(dir / "b").p));
    EXPECT_EQ(Read(dir / "b"), "a");
    EXPECT_FALSE(XMoveFileEx(W(dir / "missing").p, W(dir / "x").p, false));
}

TEST(XFileTree, MoveAcrossFileSystemsKeepsMetadata)
{
    const std::string other = OtherFileSystem();
    if (other.empty())
        GTEST_SKIP() << "no second file system at /dev/shm";
    TempDir dir;
    TempDir shm(other.c_str());
    const std::string data = TestPattern(5 << 20, 3);
    Write(shm / "movie.bin", data);
    ASSERT_EQ(chmod((shm / "movie.bin").c_str(), 0640), 0);
    XFileTimes times;
    times.AccessSeconds = times.WriteSeconds = 981173106;
    ASSERT_TRUE(XSetFileTimes(W(shm / "movie.bin").p, times));

    ASSERT_TRUE(XMoveFileNoReplace(W(shm / "movie.bin").p, W(dir / "movie.bin").p));
    EXPECT_FALSE(Exists(shm / "movie.bin"));
    EXPECT_EQ(Read(dir / "movie.bin"), data);
    struct stat st;
    ASSERT_EQ(stat((dir / "movie.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 981173106);

    // An existing target on the other side is never replaced.
    Write(shm / "again.bin", "new");
    Write(dir / "again.bin", "old");
    EXPECT_FALSE(XMoveFileNoReplace(W(shm / "again.bin").p, W(dir / "again.bin").p));
    EXPECT_EQ(Read(shm / "again.bin"), "new");
    EXPECT_EQ(Read(dir / "again.bin"), "old");
    // ... unless replacing is what was asked; a link at the target is replaced, not followed.
    Write(dir / "victim", "victim");
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "linked.bin").c_str()), 0);
    Write(shm / "linked.bin", "moved");
    ASSERT_TRUE(XMoveFile(W(shm / "linked.bin").p, W(dir / "linked.bin").p));
    EXPECT_FALSE(IsLink(dir / "linked.bin"));
    EXPECT_EQ(Read(dir / "linked.bin"), "moved");
    EXPECT_EQ(Read(dir / "victim"), "victim");

    // A folder moves whole, its links as links.
    ASSERT_EQ(mkdir((shm / "folder").c_str(), 0750), 0);
    Write(shm / "folder/f", "f");
    ASSERT_EQ(symlink("/etc", (shm / "folder/etc").c_str()), 0);
    ASSERT_TRUE(XMoveFile(W(shm / "folder").p, W(dir / "folder").p));
    EXPECT_FALSE(Exists(shm / "folder"));
    EXPECT_EQ(Read(dir / "folder/f"), "f");
    EXPECT_EQ(LinkTarget(dir / "folder/etc"), "/etc");
    ASSERT_EQ(stat((dir / "folder").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
}

TEST(XFileTree, FailedMoveAcrossKeepsTheSource)
{
    const std::string other = OtherFileSystem();
    if (other.empty())
        GTEST_SKIP() << "no second file system at /dev/shm";
    TempDir dir;
    TempDir shm(other.c_str());
    const std::string data = TestPattern(1 << 20, 11);
    Write(shm / "big.bin", data);
    ASSERT_EQ(mkdir((shm / "tree").c_str(), 0700), 0);
    Write(shm / "tree/small", "small");
    Write(shm / "tree/big", data);

    // The copy runs into the file-size limit: an error, not a crash, and nothing lost.
    const int code = RunWithFileSizeLimit(64 << 10, [&] {
        if (XMoveFile(W(shm / "big.bin").p, W(dir / "big.bin").p))
            return 1;
        if (errno != EFBIG)
            return 2;
        if (XMoveFileNoReplace(W(shm / "tree").p, W(dir / "tree").p))
            return 3;
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Read(shm / "big.bin"), data);
    EXPECT_FALSE(Exists(dir / "big.bin"));
    EXPECT_EQ(Read(shm / "tree/big"), data);
    EXPECT_EQ(Read(shm / "tree/small"), "small");
    EXPECT_FALSE(Exists(dir / "tree"));
}

TEST(XFileTree, MoveTreeDoesNotFollowALinkInTheDestination)
{
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "outside").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir / "src/sub").c_str(), 0700), 0);
    Write(dir / "src/sub/a", "a");
    ASSERT_EQ(mkdir((dir / "dst").c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "dst/sub").c_str()), 0);

    // dst/sub is a link, not a folder of the tree: nothing goes through it.
    EXPECT_FALSE(XMoveFolderTree(W(dir / "src").p, W(dir / "dst").p));
    EXPECT_FALSE(Exists(dir / "outside/a"));
    EXPECT_EQ(Read(dir / "src/sub/a"), "a");
    EXPECT_TRUE(IsLink(dir / "dst/sub"));
}

TEST(XFileTree, CopyTreeReplacesALinkInTheDestinationInsteadOfWritingThroughIt)
{
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "outside").c_str(), 0700), 0);
    Write(dir / "outside/victim", "keep");
    ASSERT_EQ(mkdir((dir / "src").c_str(), 0700), 0);
    Write(dir / "src/file", "new");
    ASSERT_EQ(mkdir((dir / "dst").c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir / "outside/victim").c_str(), (dir / "dst/file").c_str()), 0);

    ASSERT_TRUE(XCopyFolderTree(W(dir / "src").p, W(dir / "dst").p));
    EXPECT_EQ(Read(dir / "outside/victim"), "keep");
    EXPECT_FALSE(IsLink(dir / "dst/file"));
    EXPECT_EQ(Read(dir / "dst/file"), "new");
}
