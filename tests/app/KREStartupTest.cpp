#include "app/KREStartup.h"
#include "app/AppTestSupport.h"

#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return static_cast<mode_t>(-1);
    return st.st_mode & 07777;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The store's location and defaults are process-wide: put them back after each test. Start-up
// sets the default key itself, so the scope leaves it as it is.
class KREStartupTest : public ::testing::Test {
protected:
    TestStoreScope m_store{TestStoreScope::Key::Keep};
    TestTempDir base;
};

TEST_F(KREStartupTest, MakesThePrivateDataFolderAndPointsTheStoreIntoIt)
{
    TestEnvScope over("_APPDATA_OVERRIDE", base.path());
    // Handed down by a parent process: must not win.
    TestEnvScope inherited("XCLASS_XREGISTRY_LOCATION", base.file("elsewhere.json"));

    std::string warning;
    const XStr folder = KREStartup::run(&warning);
    const std::string expected = base.path() + "/MarvoniVideo/";
    EXPECT_EQ(folder.ToUTF8String(), expected);
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_EQ(ModeOf(expected), 0700u);
    EXPECT_EQ(XGetEnv("XCLASS_XREGISTRY_LOCATION"), expected + "XRegistry");
    EXPECT_EQ(XRegistry::GetDefaultRoot().ToUTF8String(), "HKCU");
    EXPECT_EQ(XRegistry::GetDefaultKeyPath().ToUTF8String(), "Software\\Brantok\\MarvoniVideo");

    // A write without root and key lands under the program's key in that file.
    ASSERT_TRUE(XRegistry::SetDWORD(5, L"StartupProbeValue"));
    EXPECT_EQ(XRegistry::GetDWORD(L"StartupProbeValue", L"HKCU", L"Software\\Brantok\\MarvoniVideo"), 5u);
    const std::string stored = ReadAll(expected + "XRegistry");
    EXPECT_NE(stored.find("Brantok"), std::string::npos);
    EXPECT_NE(stored.find("StartupProbeValue"), std::string::npos);
    struct stat st {};
    EXPECT_NE(stat(base.file("elsewhere.json").c_str(), &st), 0);
}

TEST_F(KREStartupTest, ASecondStartKeepsTheFolderAndWhatIsInIt)
{
    TestEnvScope over("_APPDATA_OVERRIDE", base.path());
    KREStartup::run();
    const std::string folder = base.path() + "/MarvoniVideo";
    std::ofstream(folder + "/kept.txt") << "still here";
    std::string warning;
    KREStartup::run(&warning);
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_EQ(ReadAll(folder + "/kept.txt"), "still here");
    EXPECT_EQ(ModeOf(folder), 0700u);
}

TEST_F(KREStartupTest, AnExistingFolderOpenToOthersIsMadePrivate)
{
    const std::string folder = base.file("MarvoniVideo");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0); // whatever the umask
    std::string warning;
    EXPECT_TRUE(KREStartup::prepareDataFolder(XStr::FromUTF8(folder + "/"), &warning));
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_EQ(ModeOf(folder), 0700u);

    // Rights below 0700 are the owner's business and stay.
    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
    EXPECT_TRUE(KREStartup::prepareDataFolder(XStr::FromUTF8(folder + "/"), &warning));
    EXPECT_EQ(ModeOf(folder), 0500u);
    chmod(folder.c_str(), 0700);
}

TEST_F(KREStartupTest, AFolderThatCannotBeMadePrivateIsReported)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the folder to another user";
    const std::string folder = base.file("MarvoniVideo");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    std::string warning;
    EXPECT_FALSE(KREStartup::prepareDataFolder(XStr::FromUTF8(folder + "/"), &warning));
    EXPECT_NE(warning.find("another user"), std::string::npos) << warning;
    EXPECT_EQ(ModeOf(folder), 0755u); // someone else's folder is not ours to change
}

TEST_F(KREStartupTest, AFileInPlaceOfTheFolderIsReported)
{
    const std::string path = base.file("MarvoniVideo");
    std::ofstream(path) << "x";
    std::string warning;
    EXPECT_FALSE(KREStartup::prepareDataFolder(XStr::FromUTF8(path + "/"), &warning));
    EXPECT_NE(warning.find("not a folder"), std::string::npos) << warning;
}

TEST_F(KREStartupTest, ALinkInPlaceOfTheFolderNeverHasItsTargetChanged)
{
    // A folder shared by everyone (sticky, open to all) must keep its rights.
    const std::string shared = base.file("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string own = base.file("own");
    ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
    ASSERT_EQ(chmod(own.c_str(), 0755), 0);
    const std::string priv = base.file("private");
    ASSERT_EQ(mkdir(priv.c_str(), 0700), 0);

    for (const auto& [target, mode] : {std::pair{shared, 01777u}, std::pair{own, 0755u}}) {
        SCOPED_TRACE(target);
        const std::string link = base.file("MarvoniVideo");
        unlink(link.c_str());
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        std::string warning;
        EXPECT_FALSE(KREStartup::prepareDataFolder(XStr::FromUTF8(link + "/"), &warning));
        EXPECT_NE(warning.find("symbolic link"), std::string::npos) << warning;
        EXPECT_EQ(ModeOf(target), mode);
    }

    // The whole start-up through such a link: the target keeps its rights, the store still
    // lives in it.
    TestEnvScope over("_APPDATA_OVERRIDE", base.path());
    unlink(base.file("MarvoniVideo").c_str());
    ASSERT_EQ(symlink(shared.c_str(), base.file("MarvoniVideo").c_str()), 0);
    std::string warning;
    KREStartup::run(&warning);
    EXPECT_NE(warning.find("symbolic link"), std::string::npos) << warning;
    EXPECT_EQ(ModeOf(shared), 01777u);

    // A link to a folder that is already private needs nothing and says nothing.
    unlink(base.file("MarvoniVideo").c_str());
    ASSERT_EQ(symlink(priv.c_str(), base.file("MarvoniVideo").c_str()), 0);
    warning.clear();
    EXPECT_TRUE(KREStartup::prepareDataFolder(XStr::FromUTF8(base.file("MarvoniVideo/")), &warning));
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_EQ(ModeOf(priv), 0700u);

    // A link that leads nowhere is no folder; nothing is made at its far end.
    unlink(base.file("MarvoniVideo").c_str());
    ASSERT_EQ(symlink(base.file("nowhere").c_str(), base.file("MarvoniVideo").c_str()), 0);
    warning.clear();
    EXPECT_FALSE(KREStartup::prepareDataFolder(XStr::FromUTF8(base.file("MarvoniVideo/")), &warning));
    EXPECT_NE(warning.find("symbolic link"), std::string::npos) << warning;
    EXPECT_EQ(ModeOf(base.file("nowhere")), static_cast<mode_t>(-1));
}

// An ordinary user whose data folder would go into a folder of root's: the warning names the
// reason the folder could not be made. Run in a child that, when we are root, becomes the
// user "nobody" first (root may make folders anywhere).
TEST_F(KREStartupTest, AFolderThatCannotBeMadeIsReportedWithTheReason)
{
    ASSERT_EQ(chmod(base.path().c_str(), 0755), 0);
    const std::string locked = base.file("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    const std::string folder = locked + "/MarvoniVideo/";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
            _exit(2);
        std::string warning;
        const bool ok = KREStartup::prepareDataFolder(XStr::FromUTF8(folder), &warning);
        const ssize_t written = write(fds[1], warning.data(), warning.size());
        _exit(ok ? 1 : written < 0 ? 3 : 0);
    }
    close(fds[1]);
    std::string warning;
    char chunk[512];
    ssize_t n;
    while ((n = read(fds[0], chunk, sizeof chunk)) > 0)
        warning.append(chunk, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << warning;
    EXPECT_NE(warning.find("could not be created: " + std::string(std::strerror(EACCES))), std::string::npos)
        << warning;
    EXPECT_EQ(ModeOf(folder), static_cast<mode_t>(-1));
}

// A home of its own, with no override: the data folder goes to the XDG place.
class KREStartupHomeTest : public KREStartupTest {
protected:
    std::string home = base.file("home");
    TestEnvScope homeScope{"HOME", home};
    TestEnvScope dataScope{"XDG_DATA_HOME", nullptr};
    TestEnvScope overrideScope{"_APPDATA_OVERRIDE", nullptr};
    std::string oldFolder = home + "/Library/MarvoniVideo";
    std::string newFolder = home + "/.local/share/MarvoniVideo";

    void SetUp() override { ASSERT_EQ(mkdir(home.c_str(), 0700), 0); }
    void MakeOldFolder()
    {
        mkdir((home + "/Library").c_str(), 0700); // kept by a move, which takes only its folder
        ASSERT_EQ(mkdir(oldFolder.c_str(), 0700), 0);
        ASSERT_EQ(mkdir((oldFolder + "/ffmpeg").c_str(), 0700), 0);
        std::ofstream(oldFolder + "/XRegistry") << "{\"stored\": 1}";
        std::ofstream(oldFolder + "/ffmpeg/ffmpeg") << "installed";
    }
};

TEST_F(KREStartupHomeTest, TheDataFolderIsTheXdgPlace)
{
    std::string warning, notice;
    EXPECT_EQ(KREStartup::run(&warning, &notice).ToUTF8String(), newFolder + "/");
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_TRUE(notice.empty()) << notice;
    EXPECT_EQ(ModeOf(newFolder), 0700u);
    EXPECT_EQ(XGetEnv("XCLASS_XREGISTRY_LOCATION"), newFolder + "/XRegistry");
    EXPECT_EQ(ModeOf(home + "/Library"), static_cast<mode_t>(-1)); // nothing of the other system's

    TestEnvScope xdg("XDG_DATA_HOME", base.file("xdg"));
    EXPECT_EQ(KREStartup::run(&warning, &notice).ToUTF8String(), base.file("xdg") + "/MarvoniVideo/");
    TestEnvScope relative("XDG_DATA_HOME", "relative/share"); // not to be used
    EXPECT_EQ(KREStartup::run(&warning, &notice).ToUTF8String(), newFolder + "/");
}

TEST_F(KREStartupHomeTest, TheFolderOfAnEarlierBuildIsMovedOnceAndSaidSo)
{
    MakeOldFolder();
    std::string warning, notice;
    EXPECT_EQ(KREStartup::run(&warning, &notice).ToUTF8String(), newFolder + "/");
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_NE(notice.find(oldFolder), std::string::npos) << notice;
    EXPECT_NE(notice.find(newFolder), std::string::npos) << notice;
    EXPECT_EQ(ReadAll(newFolder + "/XRegistry"), "{\"stored\": 1}");
    EXPECT_EQ(ReadAll(newFolder + "/ffmpeg/ffmpeg"), "installed");
    EXPECT_EQ(ModeOf(oldFolder), static_cast<mode_t>(-1));

    // Once: the next start finds the new place and says nothing.
    notice.clear();
    KREStartup::run(&warning, &notice);
    EXPECT_TRUE(notice.empty()) << notice;

    // Both there (an old folder made again by hand, or an older build run since): the new
    // one is used, nothing is merged or replaced.
    MakeOldFolder();
    std::ofstream(oldFolder + "/XRegistry") << "older";
    KREStartup::run(&warning, &notice);
    EXPECT_TRUE(notice.empty()) << notice;
    EXPECT_EQ(ReadAll(newFolder + "/XRegistry"), "{\"stored\": 1}");
    EXPECT_EQ(ReadAll(oldFolder + "/XRegistry"), "older");
}

// A link the user made to keep the data elsewhere: the new place leads to the same folder.
TEST_F(KREStartupHomeTest, ALinkedOldFolderStaysWhereItLeads)
{
    const std::string elsewhere = base.file("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    std::ofstream(elsewhere + "/XRegistry") << "linked";
    ASSERT_EQ(mkdir((home + "/Library").c_str(), 0700), 0);
    ASSERT_EQ(symlink("../../elsewhere", oldFolder.c_str()), 0); // relative: it must not break
    std::string warning, notice;
    KREStartup::run(&warning, &notice);
    EXPECT_FALSE(notice.empty());
    EXPECT_EQ(ReadAll(newFolder + "/XRegistry"), "linked");
    struct stat st {};
    EXPECT_NE(lstat(oldFolder.c_str(), &st), 0);
}

TEST_F(KREStartupHomeTest, TheOverrideComesFirstAndMovesNothing)
{
    MakeOldFolder();
    TestEnvScope over("_APPDATA_OVERRIDE", base.file("over"));
    std::string warning, notice;
    EXPECT_EQ(KREStartup::run(&warning, &notice).ToUTF8String(), base.file("over") + "/MarvoniVideo/");
    EXPECT_TRUE(notice.empty()) << notice;
    EXPECT_EQ(ReadAll(oldFolder + "/XRegistry"), "{\"stored\": 1}");
    EXPECT_EQ(ModeOf(newFolder), static_cast<mode_t>(-1));
}

TEST_F(KREStartupHomeTest, AFolderThatCannotBeMovedIsUsedWhereItIs)
{
    MakeOldFolder();
    std::ofstream(base.file("plain")) << "x";
    TestEnvScope xdg("XDG_DATA_HOME", base.file("plain") + "/share"); // under a plain file
    std::string warning, notice;
    EXPECT_EQ(KREStartup::run(&warning, &notice).ToUTF8String(), oldFolder + "/");
    EXPECT_NE(warning.find("could not be moved"), std::string::npos) << warning;
    EXPECT_TRUE(notice.empty()) << notice;
    EXPECT_EQ(XGetEnv("XCLASS_XREGISTRY_LOCATION"), oldFolder + "/XRegistry");
    EXPECT_EQ(ReadAll(oldFolder + "/XRegistry"), "{\"stored\": 1}");
}

// The data folder cannot be used: start-up says why, once, and what it means.
TEST_F(KREStartupTest, AnUnusableDataFolderIsToldOnce)
{
    TestEnvScope over("_APPDATA_OVERRIDE", base.path());
    std::ofstream(base.file("MarvoniVideo")) << "a plain file in the folder's place";
    std::string warning;
    KREStartup::run(&warning);
    EXPECT_NE(warning.find("not a folder"), std::string::npos) << warning;
    EXPECT_NE(warning.find("conversions still run"), std::string::npos) << warning;
    EXPECT_EQ(warning.find("not a folder"), warning.rfind("not a folder")) << warning;
    EXPECT_EQ(warning.find('\n'), std::string::npos) << warning;

    // A folder that is there but read-only: a read-only mount holds for root too; without
    // the right to mount, permission bits do for an ordinary user.
    unlink(base.file("MarvoniVideo").c_str());
    const std::string mountPoint = base.file("ro");
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0700), 0);
    bool mounted = false;
    if (geteuid() == 0 && mount("marvoni-test", mountPoint.c_str(), "tmpfs", 0, "mode=0700") == 0) {
        mounted = true;
        ASSERT_EQ(mkdir((mountPoint + "/MarvoniVideo").c_str(), 0700), 0);
        if (mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            umount2(mountPoint.c_str(), MNT_DETACH);
            GTEST_SKIP() << "a tmpfs could be mounted but not made read-only: " << std::strerror(errno);
        }
    } else if (geteuid() == 0) {
        GTEST_SKIP() << "running as root without the right to mount: permission bits do not stop root";
    } else {
        ASSERT_EQ(mkdir((mountPoint + "/MarvoniVideo").c_str(), 0700), 0);
        ASSERT_EQ(chmod((mountPoint + "/MarvoniVideo").c_str(), 0500), 0);
    }
    TestEnvScope readOnly("_APPDATA_OVERRIDE", mountPoint);
    warning.clear();
    const XStr folder = KREStartup::run(&warning);
    EXPECT_EQ(folder.ToUTF8String(), mountPoint + "/MarvoniVideo/");
    EXPECT_NE(warning.find("cannot be written"), std::string::npos) << warning;
    EXPECT_NE(warning.find("conversions still run"), std::string::npos) << warning;
    EXPECT_EQ(warning.find('\n'), std::string::npos) << warning;
    // The store only cannot save: reads give the defaults.
    EXPECT_FALSE(XRegistry::SetDWORD(5, L"StartupProbeValue"));
    if (mounted)
        umount2(mountPoint.c_str(), MNT_DETACH);
    else
        chmod((mountPoint + "/MarvoniVideo").c_str(), 0700);
}

// A program killed with SIGKILL leaves its progress files in the temporary folder: the next
// start removes them, and nothing of a process still running nor of the user's.
TEST_F(KREStartupTest, TheNextStartRemovesTemporariesOfKilledRuns)
{
    TestEnvScope over("_APPDATA_OVERRIDE", base.path());
    const std::string tmp = base.file("tmp");
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    TestEnvScope tmpdir("TMPDIR", tmp);
    TestEnvScope scope("XTempFolderScope_Location", nullptr);
    auto startSleeper = [] {
        const pid_t pid = fork();
        if (pid == 0) {
            execlp("sleep", "sleep", "600", static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    };
    auto idOf = [](pid_t pid) {
        // "<pid>-<n>-<start>-<namespace>", the start read as the program reads it.
        const std::string text = ReadAll("/proc/" + std::to_string(pid) + "/stat");
        std::string rest = text.substr(text.rfind(')') + 2);
        for (int field = 3; field < 22; ++field)
            rest = rest.substr(rest.find(' ') + 1);
        struct stat ns {};
        stat("/proc/self/ns/pid", &ns);
        return std::to_string(pid) + "-0-" + rest.substr(0, rest.find(' ')) + "-" + std::to_string(ns.st_ino);
    };
    const pid_t killed = startSleeper();
    const pid_t alive = startSleeper();
    ASSERT_GT(killed, 0);
    ASSERT_GT(alive, 0);
    const std::string killedFile = tmp + "/_qkXTempFile-" + idOf(killed) + ".tmp";
    const std::string aliveFile = tmp + "/_qkXTempFile-" + idOf(alive) + ".tmp";
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
    for (const std::string& path : {killedFile, aliveFile, tmp + "/notes.tmp"})
        std::ofstream(path) << "x";

    KREStartup::run();
    struct stat st {};
    EXPECT_NE(lstat(killedFile.c_str(), &st), 0);
    EXPECT_EQ(lstat(aliveFile.c_str(), &st), 0);
    EXPECT_EQ(lstat((tmp + "/notes.tmp").c_str(), &st), 0);
    kill(alive, SIGKILL);
    waitpid(alive, nullptr, 0);
}

} // namespace
