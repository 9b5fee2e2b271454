// The naming context: its values (live ones through a subclass) and the example data and
// live example the naming dialog shows.
#include <gtest/gtest.h>

#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/NamingTestSupport.h"
#include "platform/XWorkspace.h"

namespace {

class LiveContext : public KRADynamicNamingDialogV2_Context {
public:
    QString* source = nullptr;
    QString encoder() const override { return *source; }
};

TEST(NamingContext, MadeUpExample)
{
    TestStoreScope registry;
    KRADynamicNamingDialogV2_Context context;
    EXPECT_TRUE(context.allowSameFolder());
    const NTag none;
    EXPECT_EQ(
        context.exampleFor(QStringLiteral("[artist]/[track] [title] ([album artist])"), false, none, false, false),
        QStringLiteral("Artist/05 Title (Album Artist)"));
    // Compilation: no album artist. Multi-disc: the disc goes into the album.
    EXPECT_EQ(context.exampleFor(QStringLiteral("[album artist]|[IFCOMP]c[]"), false, none, true, false),
              QStringLiteral("|c"));
    EXPECT_EQ(context.exampleFor(QStringLiteral("[album] [IFMULTI]m[]"), false, none, false, true),
              QStringLiteral("Album Title, Disc 1 m"));
    EXPECT_EQ(context.exampleFor(QStringLiteral("[origpath]/[origfilename]"), false, none, false, false),
              QStringLiteral("Folder1/Folder2/Folder3/A Filename"));

    context.setAllowSameFolder(false);
    const NTag tags = context.exampleTags(false, none, false, false);
    EXPECT_EQ(tags.FindTag(L"origpath"), nullptr);
    EXPECT_EQ(tags.FindTag(L"origfilename"), nullptr);
    EXPECT_EQ(U8(tags.GetValue(L"k_bitrate")), "128");
}

TEST(NamingContext, DiscFormatOfTheProfile)
{
    TestStoreScope registry;
    KRADynamicNamingDialogV2_Context context;
    context.setActiveProfileReg(QStringLiteral("Software\\Brantok\\MarvoniVideo\\Profiles\\P"));
    EXPECT_EQ(context.discToAlbumFormat(), QStringLiteral("[album], Disc [discnum]"));
    ASSERT_TRUE(XRegistry::SetString(L"[album] ([discnum])", L"TrivenoxDiscNumToAlbum", L"HKCU",
                                     L"Software\\Brantok\\MarvoniVideo\\Profiles\\P"));
    EXPECT_EQ(context.discToAlbumFormat(), QStringLiteral("[album] ([discnum])"));
    EXPECT_EQ(context.exampleFor(QStringLiteral("[album]"), false, NTag(), false, true), QStringLiteral("Album Title"));
}

TEST(NamingContext, CurrentFileTagsAndLiveEncoder)
{
    TestStoreScope registry;
    QString encoder = QStringLiteral("NoSuchEncoder");
    LiveContext context;
    context.source = &encoder;
    context.setEncoderSettings(QStringLiteral("-crf 20"));
    EXPECT_EQ(context.exampleFor(QStringLiteral("[encoder+]|[extension]"), false, NTag(), false, false),
              QStringLiteral("NoSuchEncoder -crf 20|"));
    encoder = QStringLiteral("Other");
    EXPECT_EQ(context.exampleFor(QStringLiteral("[encoder]"), false, NTag(), false, false), QStringLiteral("Other"));

    const NTag own = MakeTags({{L"artist", L"Own/Artist"}});
    auto meta = std::make_shared<QKTag>(&own);
    context.setExampleMeta(meta);
    const NTag current = context.currentExampleMeta();
    EXPECT_EQ(U8(current.GetValue(L"artist")), "Own/Artist");
    EXPECT_EQ(context.exampleFor(QStringLiteral("[artist] [title]"), true, current, false, false),
              QStringLiteral("Own-Artist "));
    // Asked for the file's tags when there are none, the made-up ones stand in.
    EXPECT_EQ(context.exampleFor(QStringLiteral("[title]"), true, NTag(), false, false), QStringLiteral("Title"));

    KRADynamicNamingDialogV2_Context unreadable;
    unreadable.setExampleURL(XFileURL(W("/nonexistent/file.mp4")));
    EXPECT_EQ(unreadable.currentExampleMeta().Count(), 0);
}

} // namespace
