// Batch profiles on disk: what a damaged or odd file reads as, names that try to leave the
// profiles folder, and a save that cannot be written.
#include "batch/KRABatchConverterProfile.h"
#include "batch/KRAFileFilter.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "platform/XStrQString.h"
#include "xclass/XEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace {

class BatchProfile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(mkdir(dir.file("app").c_str(), 0700), 0);
        XSetAppDataFolder(L"MarvoniVideo");
    }
    void Write(const QString& name, const std::string& text)
    {
        std::ofstream(XStrFromQString(KRABatchConverterProfile::profilePath(name)).ToUTF8String()) << text;
    }

    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
};

} // namespace

TEST_F(BatchProfile, FilesReadAsFarAsTheyMakeSense)
{
    Write("texty", R"({"saveSelection": "no", "selection": {"/a": "Recursive"},
                      "filters": {"File Types": [".AVI", 3, ".MOV", ".AVI"], "Date": "7", "Custom": ["x"]}})");
    auto profile = KRABatchConverterProfile::profileByName(QStringLiteral("texty"));
    EXPECT_TRUE(profile->lastError().isEmpty()) << profile->lastError().toStdString();
    EXPECT_FALSE(profile->saveSelection);
    EXPECT_FALSE(profile->selection.isValid());
    EXPECT_EQ(profile->filtersData.value(QStringLiteral("File Types")),
              (QSet<QString>{QStringLiteral(".AVI"), QStringLiteral(".MOV")}));
    EXPECT_FALSE(profile->filtersData.contains(QStringLiteral("Date")));
    EXPECT_TRUE(profile->filtersData.contains(QStringLiteral("Custom"))); // kept through load and save
    ASSERT_TRUE(profile->save());
    EXPECT_FALSE(KRABatchConverterProfile::profileByName(QStringLiteral("texty"))->grabForJSON().contains("selection"));

    KRAFileFilter filter;
    profile->getFilters(filter);
    profile->setFilters(filter);
    EXPECT_FALSE(profile->filtersData.contains(QStringLiteral("Custom")));

    for (const std::string& damaged :
         {std::string("{\"filters\": [1,"), std::string("\x00\xff", 2), std::string("[]")}) {
        Write("damaged", damaged);
        auto broken = KRABatchConverterProfile::profileByName(QStringLiteral("damaged"));
        EXPECT_FALSE(broken->lastError().isEmpty());
        EXPECT_TRUE(broken->filtersData.isEmpty());
        EXPECT_TRUE(broken->saveSelection);
    }
    auto missing = KRABatchConverterProfile::profileByName(QStringLiteral("never saved"));
    EXPECT_TRUE(missing->lastError().isEmpty());
    EXPECT_TRUE(missing->saveSelection);
}

TEST_F(BatchProfile, NamesStayInsideTheFolderAndFailedSavesSaySo)
{
    const QString folder = KRABatchConverterProfile::profilesFolder();
    for (const QString& name : {QStringLiteral("../../escape"), QStringLiteral("/etc/passwd"),
                                QStringLiteral("a/../../b"), QStringLiteral(".."), QStringLiteral("sub/name")}) {
        const QString path = KRABatchConverterProfile::profilePath(name);
        EXPECT_TRUE(path.startsWith(folder)) << path.toStdString();
        EXPECT_FALSE(path.mid(folder.size()).split(QLatin1Char('/')).contains(QStringLiteral("..")))
            << path.toStdString();
    }
    auto nested = KRABatchConverterProfile::newProfileNamed(QStringLiteral("sub/name"));
    EXPECT_TRUE(nested->save());
    EXPECT_TRUE(KRABatchConverterProfile::listProfileNames().contains(QStringLiteral("sub")));

    // A folder where the file should go: the write fails and says so.
    const std::string blockedPath =
        XStrFromQString(KRABatchConverterProfile::profilePath(QStringLiteral("blocked"))).ToUTF8String();
    ASSERT_EQ(mkdir(blockedPath.c_str(), 0700), 0);
    std::ofstream(blockedPath + "/inside") << "x";
    auto blocked = KRABatchConverterProfile::newProfileNamed(QStringLiteral("blocked"));
    EXPECT_FALSE(blocked->save());
    EXPECT_TRUE(blocked->lastError().contains(QStringLiteral("could not be saved")));
    EXPECT_FALSE(blocked->deleteProfile()); // a folder is not a profile file
    EXPECT_TRUE(blocked->name.has_value());
}
