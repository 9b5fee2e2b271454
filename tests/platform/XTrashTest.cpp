// The trash with HOME and XDG_DATA_HOME pointed into a fresh temporary folder. The tests
// that need volumes of their own mount tmpfs and bind mounts in a private mount namespace
// (they are skipped where the process may not make one).
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "platform/XTrash.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

namespace {

std::string ReadFile(const std::string& path)
{
    return ReadTestFile(path, "<missing>");
}

void WriteFile(const std::string& path, const std::string& data)
{
    WriteTestFile(path, data, 0644);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::string Uid()
{
    return std::to_string(static_cast<unsigned long>(getuid()));
}

// One private mount namespace for the whole process, so that nothing mounted here is seen
// outside and everything goes away with the process.
bool PrivateMounts()
{
    static int state = -1;
    if (state < 0) {
        state = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }
    return state == 1;
}

class TrashTest : public testing::Test {
protected:
    std::string root;
    std::string home;
    std::vector<std::string> mounts;
    TestTempDir temp;
    std::optional<TestEnvScope> homeScope;
    std::optional<TestEnvScope> dataScope;

    void SetUp() override
    {
        ASSERT_FALSE(temp.path().empty());
        char* resolved = realpath(temp.path().c_str(), nullptr);
        ASSERT_NE(resolved, nullptr);
        root = resolved;
        free(resolved);
        home = root + "/home";
        ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
        homeScope.emplace("HOME", home);
        dataScope.emplace("XDG_DATA_HOME", nullptr);
    }

    void TearDown() override
    {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
            umount2(it->c_str(), MNT_DETACH);
        dataScope.reset();
        homeScope.reset();
    }

    // A tmpfs volume at root/NAME; false (test skipped) where mounting is not allowed.
    bool MountVolume(const std::string& name, std::string* path, unsigned long flags = 0)
    {
        *path = root + "/" + name;
        if (mkdir(path->c_str(), 0755) != 0 || !PrivateMounts())
            return false;
        if (mount("tmpfs", path->c_str(), "tmpfs", flags, "size=8m,mode=0755") != 0)
            return false;
        mounts.push_back(*path);
        return true;
    }

    std::string HomeTrash() const { return home + "/.local/share/Trash"; }
};

#define NEED_MOUNTS(ok)                                                                                                \
    if (!(ok))                                                                                                         \
    GTEST_SKIP() << "cannot mount a private tmpfs here: " << strerror(errno)

std::string InfoPath(const std::string& trash, const std::string& entry)
{
    return trash + "/info/" + entry + ".trashinfo";
}

TEST_F(TrashTest, HomeTrashIsMadeWithMode0700AndRecordsThePath)
{
    const std::string file = root + "/a b%.txt";
    WriteFile(file, "payload");
    XStr trashed, error;
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(file), &trashed, &error), XTrashResult::Moved) << error.ToUTF8String();
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(trashed.ToUTF8String(), HomeTrash() + "/files/a b%.txt");
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/a b%.txt"), "payload");
    EXPECT_EQ(ModeOf(HomeTrash()), 0700u);
    EXPECT_EQ(ModeOf(HomeTrash() + "/files"), 0700u);
    EXPECT_EQ(ModeOf(HomeTrash() + "/info"), 0700u);
    EXPECT_EQ(XGetHomeTrashFolder().ToUTF8String(), HomeTrash());

    const std::string info = ReadFile(InfoPath(HomeTrash(), "a b%.txt"));
    const std::string expectedHead = "[Trash Info]\nPath=" + root + "/a%20b%25.txt\nDeletionDate=";
    ASSERT_EQ(info.compare(0, expectedHead.size(), expectedHead), 0) << info;
    const std::string date = info.substr(expectedHead.size());
    ASSERT_EQ(date.size(), 20u) << date; // YYYY-MM-DDThh:mm:ss and a line feed
    EXPECT_EQ(date[4], '-');
    EXPECT_EQ(date[10], 'T');
    EXPECT_EQ(date[13], ':');
    EXPECT_EQ(date.back(), '\n');
}

TEST_F(TrashTest, TakenNamesGetNumberedAndStrayEntriesAreNotOverwritten)
{
    const std::string file = root + "/c.txt";
    WriteFile(file, "first");
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(file)), XTrashResult::Moved);
    WriteFile(file, "second");
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(file)), XTrashResult::Moved);
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/c.txt"), "first");
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/c.txt.2"), "second");
    EXPECT_TRUE(Exists(InfoPath(HomeTrash(), "c.txt.2")));

    // A file in files/ without its record still holds its name.
    WriteFile(HomeTrash() + "/files/d.txt", "stray");
    WriteFile(root + "/d.txt", "new");
    XStr trashed;
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(root + "/d.txt"), &trashed), XTrashResult::Moved);
    EXPECT_EQ(trashed.ToUTF8String(), HomeTrash() + "/files/d.txt.2");
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/d.txt"), "stray");
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/d.txt.2"), "new");
    EXPECT_FALSE(Exists(InfoPath(HomeTrash(), "d.txt")));
}

TEST_F(TrashTest, XdgDataHomeIsUsedOnlyWhenAbsolute)
{
    const std::string data = root + "/data";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    WriteFile(root + "/x", "1");
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(root + "/x")), XTrashResult::Moved);
    EXPECT_EQ(ReadFile(data + "/Trash/files/x"), "1");

    setenv("XDG_DATA_HOME", "relative/data", 1);
    WriteFile(root + "/y", "2");
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(root + "/y")), XTrashResult::Moved);
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/y"), "2");
}

TEST_F(TrashTest, FoldersLinksAndNamesThatAreNotUtf8)
{
    const std::string folder = root + "/folder";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteFile(folder + "/inner", "in");
    const std::string link = root + "/link";
    ASSERT_EQ(symlink(folder.c_str(), link.c_str()), 0);

    // The link goes as a link; its target stays.
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(link)), XTrashResult::Moved);
    struct stat st;
    ASSERT_EQ(lstat((HomeTrash() + "/files/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(folder + "/inner"), "in");

    // A trailing "/" still names the folder, which goes whole.
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(folder + "/")), XTrashResult::Moved);
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/folder/inner"), "in");

    const std::string odd = root + "/bad\xff name";
    WriteFile(odd, "odd");
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(odd)), XTrashResult::Moved);
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/bad\xff name"), "odd");
    EXPECT_NE(ReadFile(InfoPath(HomeTrash(), "bad\xff name")).find("/bad%FF%20name\n"), std::string::npos);
}

TEST_F(TrashTest, AFailedMoveLeavesTheItemAndReportsFailure)
{
    XStr error;
    EXPECT_EQ(XMoveItemToTrash(XStr::FromUTF8(root + "/missing"), nullptr, &error), XTrashResult::Failed);
    EXPECT_FALSE(error.IsEmpty());

    // A folder that holds the trash cannot go into it: it stays, with nothing deleted.
    const std::string local = home + "/.local";
    ASSERT_EQ(mkdir(local.c_str(), 0755), 0);
    WriteFile(local + "/keep", "keep");
    EXPECT_EQ(XMoveItemToTrash(XStr::FromUTF8(local), nullptr, &error), XTrashResult::Failed);
    EXPECT_EQ(ReadFile(local + "/keep"), "keep");
    EXPECT_EQ(std::string(), std::string(Exists(InfoPath(HomeTrash(), ".local")) ? "record left" : ""));

    // The list form tries every item and reports the failure.
    WriteFile(root + "/ok", "ok");
    XStrList list;
    list.Add(XStr::FromUTF8(root + "/missing"));
    list.Add(XStr::FromUTF8(root + "/ok"));
    EXPECT_FALSE(XMoveToTrash(list));
    EXPECT_FALSE(Exists(root + "/ok"));
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/ok"), "ok");

    EXPECT_TRUE(XMoveToTrash(XStrList()));
}

TEST_F(TrashTest, OtherVolumesUseTheTrashAtTheirTopFolder)
{
    std::string volume;
    NEED_MOUNTS(MountVolume("vol", &volume));
    ASSERT_EQ(mkdir((volume + "/sub").c_str(), 0755), 0);
    WriteFile(volume + "/sub/x y", "on volume");
    XStr trashed, error;
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(volume + "/sub/x y"), &trashed, &error), XTrashResult::Moved)
        << error.ToUTF8String();
    const std::string trash = volume + "/.Trash-" + Uid();
    EXPECT_EQ(trashed.ToUTF8String(), trash + "/files/x y");
    EXPECT_EQ(ReadFile(trash + "/files/x y"), "on volume");
    EXPECT_EQ(ModeOf(trash), 0700u);
    // The path is recorded relative to the volume's top folder.
    EXPECT_NE(ReadFile(InfoPath(trash, "x y")).find("\nPath=sub/x%20y\n"), std::string::npos);
    EXPECT_FALSE(Exists(HomeTrash()));

    // An administrator's sticky .Trash takes precedence, with a folder per user in it.
    ASSERT_EQ(mkdir((volume + "/.Trash").c_str(), 0777), 0);
    ASSERT_EQ(chmod((volume + "/.Trash").c_str(), 01777), 0);
    WriteFile(volume + "/z", "z");
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(volume + "/z")), XTrashResult::Moved);
    EXPECT_EQ(ReadFile(volume + "/.Trash/" + Uid() + "/files/z"), "z");

    // Without the sticky bit it is not trusted.
    ASSERT_EQ(chmod((volume + "/.Trash").c_str(), 0777), 0);
    WriteFile(volume + "/w", "w");
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(volume + "/w")), XTrashResult::Moved);
    EXPECT_EQ(ReadFile(trash + "/files/w"), "w");
}

TEST_F(TrashTest, AVolumeWithoutTrashKeepsItsFilesAndSaysWhy)
{
    std::string volume;
    NEED_MOUNTS(MountVolume("vol", &volume));
    // A plain file where the trash folder would go: no trash can be made there.
    const std::string blocker = volume + "/.Trash-" + Uid();
    WriteFile(blocker, "not a folder");
    WriteFile(volume + "/a", "a");
    ASSERT_EQ(mkdir((volume + "/tree").c_str(), 0755), 0);
    WriteFile(volume + "/tree/inner", "i");

    XStr error;
    EXPECT_EQ(XMoveItemToTrash(XStr::FromUTF8(volume + "/a"), nullptr, &error), XTrashResult::Failed);
    EXPECT_EQ(ReadFile(volume + "/a"), "a");
    EXPECT_NE(error.ToUTF8String().find("no trash"), std::string::npos) << error.ToUTF8String();
    EXPECT_NE(error.ToUTF8String().find(blocker), std::string::npos) << error.ToUTF8String();

    // The list form neither: every item stays and the result says so.
    XStrList list;
    list.Add(XStr::FromUTF8(volume + "/a"));
    list.Add(XStr::FromUTF8(volume + "/tree"));
    EXPECT_FALSE(XMoveToTrash(list));
    EXPECT_EQ(ReadFile(volume + "/a"), "a");
    EXPECT_EQ(ReadFile(volume + "/tree/inner"), "i");

    // A half-made trash whose "files" cannot be made is no trash either.
    ASSERT_EQ(unlink(blocker.c_str()), 0);
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    WriteFile(blocker + "/files", "in the way");
    EXPECT_EQ(XMoveItemToTrash(XStr::FromUTF8(volume + "/a"), nullptr, &error), XTrashResult::Failed);
    EXPECT_EQ(ReadFile(volume + "/a"), "a");
    EXPECT_NE(error.ToUTF8String().find(blocker + "/files"), std::string::npos) << error.ToUTF8String();
}

TEST_F(TrashTest, AReadOnlyVolumeKeepsItsFiles)
{
    std::string volume;
    NEED_MOUNTS(MountVolume("ro", &volume));
    WriteFile(volume + "/kept", "kept");
    ASSERT_EQ(mount(nullptr, volume.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << strerror(errno);
    XStrList list;
    list.Add(XStr::FromUTF8(volume + "/kept"));
    EXPECT_FALSE(XMoveToTrash(list));
    EXPECT_EQ(ReadFile(volume + "/kept"), "kept");
}

TEST_F(TrashTest, ABindMountOfTheHomeVolumeUsesItsOwnTopFolder)
{
    // Same device as the home trash, yet rename across the mounts fails with EXDEV: the
    // file must reach the trash of its own mount, never be copied or lost.
    const std::string inner = root + "/inner";
    const std::string bound = root + "/bound";
    ASSERT_EQ(mkdir(inner.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(bound.c_str(), 0755), 0);
    NEED_MOUNTS(PrivateMounts() && mount(inner.c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) == 0);
    mounts.push_back(bound);
    WriteFile(bound + "/f", "bound");
    XStr trashed, error;
    ASSERT_EQ(XMoveItemToTrash(XStr::FromUTF8(bound + "/f"), &trashed, &error), XTrashResult::Moved)
        << error.ToUTF8String();
    EXPECT_EQ(trashed.ToUTF8String(), bound + "/.Trash-" + Uid() + "/files/f");
    EXPECT_EQ(ReadFile(bound + "/.Trash-" + Uid() + "/files/f"), "bound");
    // No record was left behind in the home trash for the move that could not happen.
    EXPECT_FALSE(Exists(InfoPath(HomeTrash(), "f")));
}

// The test tool's "trash" command, as a shell script would use it.
int RunTool(const std::vector<std::string>& args, std::string* errorOutput)
{
    const ToolRunResult run = RunTestTool(TestToolPath("xclass-tool"), args);
    *errorOutput += run.err;
    return run.status;
}

TEST_F(TrashTest, ToolCommandTrash)
{
    WriteFile(root + "/t", "tool");
    std::string errors;
    EXPECT_EQ(RunTool({"trash", root + "/t"}, &errors), 0) << errors;
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/t"), "tool");

    errors.clear();
    EXPECT_NE(RunTool({"trash", root + "/t"}, &errors), 0);
    EXPECT_NE(errors.find("trash"), std::string::npos) << errors;
}

} // namespace
