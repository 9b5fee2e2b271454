// Profiles as the store keeps them: saved by one side and read by another (another
// configuration, another process), user-profile names, batch-profile copies, and the
// multi-encoder clean-up that must never lose what it cannot place.
#include <gtest/gtest.h>

#include <QVariantMap>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "engine/KRAMultiEncConfig.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"
#include "setup/KRAConfig.h"
#include "setup/KRAProfile.h"
#include "xclass/XRegistry.h"

namespace {

const wchar_t kProduct[] = L"Software\\Brantok\\MarvoniVideo";

void AllowUserProfiles(bool allow)
{
    XRegistry::SetDWORD(allow ? 1 : 0, L"kRAAllowProfiles", L"HKCU", kProduct);
}

XStr Stored(const QString& profile, const wchar_t* value)
{
    return XRegistry::GetString(value, L"HKCU", KRAProfile::regKeyFor(profile).p);
}

} // namespace

TEST(Profiles, SavedValuesComeBackInAnotherConfigurationAndProcess)
{
    TestStoreScope store;
    TestTempDir dir;
    TestEnvScope platform("QT_QPA_PLATFORM", "offscreen");
    {
        KRAConfig config;
        KRAProfileRef h264 = config.profileNamed(QStringLiteral("WebM (VP9)"));
        ASSERT_TRUE(h264);
        h264->encoderArgsV2.strArgs = QStringLiteral("-vcodec libx264 -crf 20");
        h264->encoderArgsV2.customFormatExt = QStringLiteral("m4v");
        h264->encoderArgsV2.frontendData = QVariantMap{{"preset", "slow"}, {"tune", "film"}};
        h264->setDspString(QStringLiteral("-dspeffect1=\"Crop=-vf crop=100:100:0:0\""));
        h264->fileNaming->setFileNamingType(FileNamingDynamic);
        h264->fileNaming->setDestination(
            KRALocationDescriptor::withFolderPath(XStrFromQString(QString::fromStdString(dir.path()))));
        h264->fileNaming->setDynamicFormat(QStringLiteral("[origfilename]-small"));
        config.setActiveProfile(h264);
        ASSERT_TRUE(config.saveAll());
    }
    XRegistry::DropCache();
    KRAConfig again;
    EXPECT_EQ(again.activeProfileName(), QStringLiteral("WebM (VP9)"));
    const KRAProfileRef back = again.activeProfile();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->encoderArgsV2.strArgs, QStringLiteral("-vcodec libx264 -crf 20"));
    EXPECT_EQ(back->encoderArgsV2.customFormatExt.value_or(QString()), QStringLiteral("m4v"));
    EXPECT_EQ(back->encoderArgsV2.frontendData.value_or(QVariantMap()).value("tune").toString(),
              QStringLiteral("film"));
    EXPECT_EQ(back->dspEffects.size(), 1);
    EXPECT_EQ(back->fileNaming->dynamicFormat(), QStringLiteral("[origfilename]-small"));
    EXPECT_EQ(XStrToQString(back->fileNaming->destination()->path()), QString::fromStdString(dir.path()));
    // The file naming hears the profile's encoder and chain (the naming template may use them).
    EXPECT_EQ(back->fileNaming->encoderName().value_or(QString()), QStringLiteral("WebM (VP9)"));

    // A frontend entry that went away is gone from the store too.
    back->encoderArgsV2.frontendData = QVariantMap{{"preset", "fast"}};
    back->encoderArgsV2.customFormatExt.reset();
    ASSERT_TRUE(back->saveProfile());
    EXPECT_FALSE(XRegistry::ValueExists(
        L"tune", L"HKCU", (KRAProfile::regKeyFor(QStringLiteral("WebM (VP9)")) + L"\\encFrontendData").p));
    EXPECT_FALSE(
        XRegistry::ValueExists(L"kRA_CustomExt", L"HKCU", KRAProfile::regKeyFor(QStringLiteral("WebM (VP9)")).p));

    // Another process reads what this one stored.
    const ToolRunResult got = RunTestTool(TestToolPath("setup-tool"), {"profile", "get", "WebM (VP9)"}, "", 60000);
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_NE(got.out.find("args=-vcodec libx264 -crf 20\n"), std::string::npos) << got.out;
    EXPECT_NE(got.out.find("pattern=[origfilename]-small\n"), std::string::npos) << got.out;
    EXPECT_NE(got.out.find("frontend.preset=fast\n"), std::string::npos) << got.out;
}

TEST(Profiles, ActiveNameFallsBackToTheDefault)
{
    TestStoreScope store;
    XRegistry::SetString(L"Gone \"Nowhere\"", L"kRALastCodec", L"HKCU", kProduct);
    KRAConfig config;
    EXPECT_EQ(config.activeProfileName(), QStringLiteral("MP4 (copy, no encoding)"));
    ASSERT_TRUE(config.activeProfile());
    EXPECT_EQ(config.activeEncoder()->name(), QStringLiteral("MP4 (copy, no encoding)"));
    EXPECT_EQ(config.encoderProfiles().size(), QKEncoderDesc::listEncoders().size());
}

TEST(Profiles, UserProfileNames)
{
    TestStoreScope store;
    AllowUserProfiles(false);
    {
        KRAConfig off;
        EXPECT_FALSE(off.allowUserProfiles());
        EXPECT_FALSE(off.newUserProfile(QStringLiteral("Mine"), QStringLiteral("AVI")));
    }
    AllowUserProfiles(true);
    KRAConfig config;
    ASSERT_TRUE(config.allowUserProfiles());

    KRAProfileRef quoted = config.newUserProfile(QStringLiteral("My \"best\" one"), QStringLiteral("AVI"));
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->profileName, QStringLiteral("My ''best'' one \"AVI\""));
    EXPECT_EQ(quoted->userProfileName().value_or(QString()), QStringLiteral("My ''best'' one"));
    EXPECT_EQ(quoted->encoderName, QStringLiteral("AVI"));
    EXPECT_TRUE(quoted->isUserProfile());

    // Taken names, also in another case of A-Z (the store would give both one key); the same
    // text under another encoder is a different profile.
    EXPECT_FALSE(config.newUserProfile(QStringLiteral("my ''BEST'' one"), QStringLiteral("AVI")));
    EXPECT_TRUE(config.newUserProfile(QStringLiteral("My \"best\" one"), QStringLiteral("VOB")));

    // Names the store or the pop-up could not keep apart are refused with a reason.
    for (const char* bad : {"a\\b", "", "   ", "Create Profile", "AVI", "two\nlines"}) {
        QString why;
        EXPECT_FALSE(config.newUserProfile(QString::fromUtf8(bad), QStringLiteral("AVI"), &why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
    // Slashes and leading dots are only text to the store: they come back exactly.
    for (const char* odd : {"a/b", ".hidden", "../up"}) {
        KRAProfileRef profile = config.newUserProfile(QString::fromUtf8(odd), QStringLiteral("AVI"));
        ASSERT_TRUE(profile) << odd;
        profile->encoderArgsV2.strArgs = QStringLiteral("-q %1").arg(QString::fromUtf8(odd));
        ASSERT_TRUE(profile->saveProfile());
    }
    XRegistry::DropCache();
    KRAConfig again;
    QStringList names;
    for (const KRAProfileRef& profile : again.userProfiles())
        names.append(profile->userProfileName().value_or(QString()));
    EXPECT_TRUE(names.contains(QStringLiteral("a/b"))) << names.join('|').toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("../up")));
    EXPECT_EQ(again.profileNamed(QStringLiteral(".hidden \"AVI\""))->encoderArgsV2.strArgs,
              QStringLiteral("-q .hidden"));
    // No nested keys were made.
    XStrList keys;
    XRegistry::EnumKeys(L"HKCU", KRAProfile::rootRegPath().p, &keys);
    for (int64_t i = 0; i < keys.Count(); ++i)
        EXPECT_FALSE(XStrToQString(keys[i]).contains('\\'));
}

TEST(Profiles, BatchProfilesHaveTheirOwnCopies)
{
    TestStoreScope store;
    AllowUserProfiles(true);
    {
        KRAConfig plain;
        KRAProfileRef mine = plain.newUserProfile(QStringLiteral("Mine"), QStringLiteral("AVI"));
        ASSERT_TRUE(mine);
        mine->encoderArgsV2.strArgs = QStringLiteral("-q 3");
        plain.setActiveProfile(mine);
        ASSERT_TRUE(plain.saveAll());
    }
    ASSERT_TRUE(KRAConfig::cloneBatchConverterDataFrom(std::nullopt, QStringLiteral("Holiday")));
    {
        KRAConfig holiday(QStringLiteral("Holiday"));
        EXPECT_EQ(holiday.activeProfileName(), QStringLiteral("Mine \"AVI\""));
        holiday.activeProfile()->encoderArgsV2.strArgs = QStringLiteral("-q 9");
        ASSERT_TRUE(holiday.activeProfile()->saveProfile());
    }
    XRegistry::DropCache();
    EXPECT_EQ(KRAConfig().activeProfile()->encoderArgsV2.strArgs, QStringLiteral("-q 3"));
    EXPECT_EQ(KRAConfig(QStringLiteral("Holiday")).activeProfile()->encoderArgsV2.strArgs, QStringLiteral("-q 9"));

    // A batch profile without data of its own starts with the defaults.
    ASSERT_TRUE(KRAConfig::cloneBatchConverterDataFrom(QStringLiteral("Nothing here"), QStringLiteral("Fresh")));
    EXPECT_EQ(KRAConfig(QStringLiteral("Fresh")).activeProfileName(), QStringLiteral("MP4 (copy, no encoding)"));
    EXPECT_FALSE(KRAConfig::cloneBatchConverterDataFrom(std::nullopt, QStringLiteral("encFrontendData")));

    // Deleting a user profile takes every batch copy with it.
    KRAConfig config;
    ASSERT_TRUE(config.deleteProfile(config.profileNamed(QStringLiteral("Mine \"AVI\""))));
    EXPECT_FALSE(XRegistry::KeyExists(L"HKCU", KRAProfile::regKeyFor(QStringLiteral("Mine \"AVI\"")).p));
    EXPECT_FALSE(KRAConfig(QStringLiteral("Holiday")).profileNamed(QStringLiteral("Mine \"AVI\"")));
}

TEST(Profiles, MultiEncoderChainsMoveIntoTheEncodersOrStayWhereTheyAre)
{
    TestStoreScope store;
    const QString multi = QKEncoderDesc::strMultiEncoder();
    const XStr key = KRAProfile::regKeyFor(multi);
    const wchar_t chain[] = L"-dspeffect1=\"Crop=-vf crop=100:100:0:0\"";

    // Every encoder is offered: the profile's chain goes ahead of each encoder's own, once.
    XRegistry::SetString(L"-enc1=\"AVI=-q 1\" -enc2=\"Flash Video=\" -encDSP2=\"-dspeffect1={mqt}Deinterlace={mqt}\"",
                         L"kRA_CLI", L"HKCU", key.p);
    XRegistry::SetString(chain, L"KRADSPEffects", L"HKCU", key.p);
    {
        KRAConfig config;
        const KRAProfileRef profile = config.profileNamed(multi);
        EXPECT_TRUE(profile->dspEffects.isEmpty());
        const KRAMultiEncConfigRef set = KRAMultiEncConfig::fromArgs(profile->encoderArgsV2);
        ASSERT_EQ(set->entries.size(), 2);
        ASSERT_EQ(set->entries[0]->dspEffects.size(), 1);
        EXPECT_EQ(set->entries[0]->dspEffects[0].name, QStringLiteral("Crop"));
        ASSERT_EQ(set->entries[1]->dspEffects.size(), 2);
        EXPECT_EQ(set->entries[1]->dspEffects[1].name, QStringLiteral("Deinterlace"));
    }
    EXPECT_TRUE(Stored(multi, L"KRADSPEffects").IsEmpty());
    XRegistry::DropCache();
    EXPECT_EQ(
        KRAMultiEncConfig::fromArgs(KRAConfig().profileNamed(multi)->encoderArgsV2)->entries[0]->dspEffects.size(), 1);

    // An encoder this program does not offer, or no encoder at all: nothing can take the
    // chain for sure, so the store keeps it exactly, also after saving everything again.
    for (const wchar_t* args : {L"-enc1=\"AVI=-q 1\" -enc2=\"Encoder Of The Future=-x\"", L""}) {
        XRegistry::SetString(args, L"kRA_CLI", L"HKCU", key.p);
        XRegistry::SetString(chain, L"KRADSPEffects", L"HKCU", key.p);
        XRegistry::DropCache();
        KRAConfig config;
        EXPECT_TRUE(config.profileNamed(multi)->dspEffects.isEmpty()) << "hidden from the user";
        ASSERT_TRUE(config.saveAll());
        XRegistry::DropCache();
        EXPECT_EQ(XStrToQString(Stored(multi, L"KRADSPEffects")), QString::fromWCharArray(chain));
        EXPECT_EQ(XStrToQString(Stored(multi, L"kRA_CLI")), QString::fromWCharArray(args));
    }
}

TEST(Profiles, SetupToolKeepsProfilesInTheStore)
{
    TestStoreScope store;
    TestEnvScope platform("QT_QPA_PLATFORM", "offscreen");
    const auto tool = [](const std::vector<std::string>& args) {
        std::vector<std::string> all{"profile"};
        all.insert(all.end(), args.begin(), args.end());
        return RunTestTool(TestToolPath("setup-tool"), all, "", 60000);
    };
    ToolRunResult set = tool(
        {"set", "My H264", "--args", "-vcodec libx264 -crf 20", "--dest", "/tmp/out", "--pattern", "[origfilename]"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "My H264 \"[Custom FFmpeg settings]\"\n");
    ToolRunResult get = tool({"get", "My H264"});
    EXPECT_NE(get.out.find("args=-vcodec libx264 -crf 20\n"), std::string::npos) << get.out;
    EXPECT_NE(get.out.find("dest=/tmp/out\n"), std::string::npos) << get.out;

    ToolRunResult refused = tool({"set", "a\\b", "--args", "-c copy"});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("backslash"), std::string::npos) << refused.err;
    EXPECT_EQ(tool({"list"}).out, "My H264\n");
    EXPECT_EQ(tool({"list", "--full"}).out, "My H264 \"[Custom FFmpeg settings]\"\n");

    ASSERT_EQ(tool({"delete", "My H264"}).status, 0);
    EXPECT_EQ(tool({"list"}).out, "");
    EXPECT_NE(tool({"get", "My H264"}).status, 0);
}
