#include "AppTestSupport.h"
#include "KREStartup.h"

#include "XEnvironment.h"
#include "XRegistry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
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

// The registry defaults are process-wide: put them back after each test.
class KREStartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = XRegistry::GetDefaultRoot();
        m_key = XRegistry::GetDefaultKeyPath();
    }
    void TearDown() override
    {
        XRegistry::SetDefaultKey(m_root.p, m_key.p);
        XRegistry::DropCache();
    }

    AppTempDir base;

private:
    XStr m_root;
    XStr m_key;
};

TEST_F(KREStartupTest, MakesThePrivateDataFolderAndPointsTheStoreIntoIt)
{
    AppEnvScope over("_APPDATA_OVERRIDE", base.path());
    // Handed down by a parent process: must not win.
    AppEnvScope inherited("XCLASS_XREGISTRY_LOCATION", base.file("elsewhere.json"));

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
    AppEnvScope over("_APPDATA_OVERRIDE", base.path());
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

} // namespace
