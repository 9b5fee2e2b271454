#include "app/KREStartup.h"
#include "app/AppTestSupport.h"

#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <grp.h>
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

} // namespace
