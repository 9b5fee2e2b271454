// File naming: registry values, the naming types and their conversion, sub-paths and full
// destination paths (which never leave the chosen folder), and the recent list.
#include <gtest/gtest.h>

#include <QDate>
#include <QString>

#include "common/MediaTestFiles.h"
#include "media/QKMediaFileInfo.h"
#include "naming/KRAFileNaming.h"
#include "naming/NamingTestSupport.h"
#include "platform/XWorkspace.h"
#include "xclass/XRegistryTransaction.h"

namespace {

const wchar_t kKey[] = L"Software\\Brantok\\MarvoniVideo\\Profiles\\Test";

QUrl Url(const std::string& path)
{
    return XFileURL(W(path));
}

std::string PathOf(const QUrl& url)
{
    return U8(XPathFromFileURL(url));
}

QKMediaFileInfoRef InfoWith(const NTag& tags, const std::string& path)
{
    return QKMediaFileInfo::infoWithIDTag(QKTag::wrapNTag(&tags), W(path));
}

KRAFileNaming Dynamic(const std::string& folder, const QString& pattern)
{
    KRAFileNaming naming;
    naming.setFileNamingType(FileNamingDynamic);
    naming.setDestination(KRALocationDescriptor::withFolderPath(W(folder)));
    naming.setDynamicFormat(pattern);
    return naming;
}

TEST(KRAFileNaming, NewNamingTakesTheGlobalSettings)
{
    TestStoreScope registry;
    {
        const KRAFileNaming naming;
        EXPECT_EQ(naming.fileNamingType(), FileNamingSourceFolder);
        EXPECT_EQ(naming.dynamicFormat(), QStringLiteral("[artist]/[artist] - [title]"));
        EXPECT_EQ(naming.characterReplacement(), QStringLiteral("/-:;"));
        EXPECT_FALSE(naming.ansiOnly());
        ASSERT_TRUE(naming.destination());
        EXPECT_FALSE(naming.destination()->path().IsEmpty());
    }
    ASSERT_TRUE(XRegistry::SetString(L"", L"kRAFileNameChrReplace"));
    EXPECT_EQ(KRAFileNaming().characterReplacement(), QStringLiteral("/-:;"));
    ASSERT_TRUE(XRegistry::SetString(L"?_", L"kRAFileNameChrReplace"));
    ASSERT_TRUE(XRegistry::SetDWORD(1, L"kRAFileNameANSIFilenameOnly"));
    const KRAFileNaming naming;
    EXPECT_EQ(naming.characterReplacement(), QStringLiteral("?_"));
    EXPECT_TRUE(naming.ansiOnly());
}

TEST(KRAFileNaming, RegistryRoundTrip)
{
    TestStoreScope registry;
    TestTempDir dir;
    KRAFileNaming naming = Dynamic(dir.path(), QStringLiteral("[album]/[title]"));
    XRegistryTransaction transaction;
    naming.serializeToRegKey(W("") + kKey, transaction);
    ASSERT_TRUE(transaction.Commit());
    EXPECT_EQ(U8(XRegistry::GetString(L"KRAUserFolderStr", L"HKCU", kKey)), dir.path());
    EXPECT_TRUE(XRegistry::ValueExists(L"KRAUserFolderData", L"HKCU", kKey));

    const KRAFileNamingRef loaded = KRAFileNaming::initWithRegKey(W("") + kKey);
    EXPECT_EQ(loaded->fileNamingType(), FileNamingDynamic);
    EXPECT_EQ(loaded->dynamicFormat(), QStringLiteral("[album]/[title]"));
    ASSERT_TRUE(loaded->destination());
    EXPECT_TRUE(loaded->destination()->resolveAndMount());
    EXPECT_EQ(U8(loaded->destination()->path()), dir.path());
    EXPECT_TRUE(loaded->isEqualTo(&naming));

    // Without a destination the folder values go; a type beyond the known ones loads as 0.
    naming.setDestination(nullptr);
    XRegistryTransaction second;
    naming.serializeToRegKey(W("") + kKey, second);
    ASSERT_TRUE(second.Commit());
    EXPECT_FALSE(XRegistry::ValueExists(L"KRAUserFolderData", L"HKCU", kKey));
    EXPECT_FALSE(XRegistry::ValueExists(L"KRAUserFolderStr", L"HKCU", kKey));
    ASSERT_TRUE(XRegistry::SetDWORD(7, L"KRAUserFolder", L"HKCU", kKey));
    EXPECT_EQ(KRAFileNaming::initWithRegKey(W("") + kKey)->fileNamingType(), FileNamingSourceFolder);
}

TEST(KRAFileNaming, ConversionToDynamicNaming)
{
    TestStoreScope registry;
    KRAFileNaming single;
    single.setFileNamingType(FileNamingSingleFolder);
    single.setDestination(KRALocationDescriptor::withFolderPath(W("/out")));
    EXPECT_TRUE(single.convertToR16Dynamic());
    EXPECT_EQ(single.dynamicFormat(), QStringLiteral("[origfilename]"));
    EXPECT_EQ(U8(single.destination()->path()), "/out");
    EXPECT_FALSE(single.convertToR16Dynamic());
    EXPECT_TRUE(single.isOrigFileName());
    EXPECT_FALSE(single.isSameFolder());

    const KRAFileNamingRef same = KRAFileNaming::namingSameFolder();
    EXPECT_EQ(same->fileNamingType(), FileNamingDynamic);
    EXPECT_EQ(same->dynamicFormat(), QStringLiteral("[origpath]/[origfilename]"));
    EXPECT_TRUE(same->isSameFolder());
    EXPECT_FALSE(KRAFileNaming::namingPreservePath(Url("/Volumes/Out"))->isSameFolder());

    ASSERT_TRUE(XRegistry::SetDWORD(3, L"KRAUserFolder", L"HKCU", kKey));
    const KRAFileNamingRef old = KRAFileNaming::initWithRegKeyR16(W("") + kKey);
    EXPECT_TRUE(old->isSameFolder());
}

TEST(KRAFileNaming, SameFolderAndPreservedPath)
{
    TestStoreScope registry;
    const QUrl source = Url("/Users/me/Movies/a.mov");
    EXPECT_EQ(PathOf(KRAFileNaming::namingSameFolder()->fullPathForSource(source, nullptr, ".mp4")),
              "/Users/me/Movies/a.mp4");
    EXPECT_EQ(
        PathOf(KRAFileNaming::namingPreservePath(Url("/Volumes/Out"))->fullPathForSource(source, nullptr, ".mp4")),
        "/Volumes/Out/Users/me/Movies/a.mp4");
    EXPECT_EQ(PathOf(KRAFileNaming::namingSingleFolder(Url("/out"))->fullPathForSource(source, nullptr, ".mkv")),
              "/out/a.mkv");
    KRAFileNaming beside;
    EXPECT_EQ(PathOf(beside.fullPathForSource(source, nullptr, ".mkv")), "/Users/me/Movies/a.mkv");
    // Hidden folders stay what they are: the output goes to the source's own folder.
    EXPECT_EQ(
        PathOf(KRAFileNaming::namingSameFolder()->fullPathForSource(Url("/home/u/.cache/b.mov"), nullptr, ".mp4")),
        "/home/u/.cache/b.mp4");
}

TEST(KRAFileNaming, DynamicSubPaths)
{
    TestStoreScope registry;
    const NTag tags = MakeTags({{L"artist", L"AC/DC"}, {L"title", L"Back: In Black"}, {L"date", L"1980"}});
    const auto info = InfoWith(tags, "/Users/me/Movies/a.mov");
    const QUrl source = Url("/Users/me/Movies/a.mov");

    // The origin head is kept as it is, the rest validated with the replacement pairs.
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[origpath]/[artist]")).subPathForSource(source, info.get()),
              QStringLiteral("/Users/me/Movies/AC-DC"));
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[artist]/[title]")).subPathForSource(source, info.get()),
              QStringLiteral("AC-DC/Back; In Black"));
    EXPECT_EQ(Dynamic("/out", QStringLiteral(".[title]")).subPathForSource(source, info.get()),
              QStringLiteral("Back; In Black"));
    // Text that goes on the source's own name keeps its blanks and dots: it starts no name.
    EXPECT_EQ(
        Dynamic("/out", QStringLiteral("[origpath]/[origfilename] - [title]")).subPathForSource(source, info.get()),
        QStringLiteral("/Users/me/Movies/a - Back; In Black"));
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[origpath]/[origfilename].conv")).subPathForSource(source, info.get()),
              QStringLiteral("/Users/me/Movies/a.conv"));
    EXPECT_EQ(
        Dynamic("/out", QStringLiteral("[origpath]/[origfilename]/.[title]")).subPathForSource(source, info.get()),
        QStringLiteral("/Users/me/Movies/a/Back; In Black"));
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[origpath] .[title]")).subPathForSource(source, info.get()),
              QStringLiteral("/Users/me/Movies/Back; In Black"));
    // A source's own "date" tag wins over the current date (once the template reads tags at
    // all; [date] alone needs none of the file's).
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[title] [date]")).subPathForSource(source, info.get()),
              QStringLiteral("Back; In Black 1980"));
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[date]")).subPathForSource(source, info.get()), today);
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[date]")).subPathForSource(source, nullptr), today);
    // A template that reads tags needs the media information.
    EXPECT_FALSE(Dynamic("/out", QStringLiteral("[artist]")).subPathForSource(source, nullptr));
    EXPECT_FALSE(Dynamic("/out", QStringLiteral("[artist]")).fullPathForSource(source, nullptr, ".mp4").isValid());
}

// The names come from what ffprobe reads of real files: Ogg's tags are on its sound stream,
// ID3v1 tags are Latin-1 bytes.
TEST(KRAFileNaming, TemplatesReadOggStreamTagsAndLatin1Tags)
{
    if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    TestStoreScope registry;
    TestTempDir dir;
    const std::string ogg = dir.file("a.ogg");
    ASSERT_TRUE(MakeTestAudio(ogg, "1",
                              {"-c:a", "libvorbis", "-metadata:s:a:0", "artist=Ann", "-metadata:s:a:0", "title=Song"}));
    const std::string mp3 = dir.file("b.mp3");
    ASSERT_TRUE(MakeTestAudio(mp3, "1", {"-c:a", "libmp3lame", "-id3v2_version", "0"}));
    ASSERT_TRUE(AppendID3v1(mp3, "Caf\xE9 M\xFCller", "J\xFCrgen", ""));

    const KRAFileNaming naming = Dynamic(dir.file("out"), QStringLiteral("[artist] - [title]"));
    const auto name = [&](const std::string& path) {
        const QKMediaFileInfoRef info = QKMediaFileInfo::infoForFile(W(path));
        return PathOf(naming.fullPathForSource(Url(path), info.get(), ".mkv"));
    };
    EXPECT_EQ(name(ogg), dir.file("out/Ann - Song.mkv"));
    EXPECT_EQ(name(mp3), dir.file("out/J\xC3\xBCrgen - Caf\xC3\xA9 M\xC3\xBCller.mkv"));
}

TEST(KRAFileNaming, AnsiOnlyNames)
{
    TestStoreScope registry;
    const NTag tags = MakeTags({{L"artist", L"Mot\u00F6rhead \u732B"}});
    const auto info = InfoWith(tags, "/m/a.mov");
    KRAFileNaming naming = Dynamic("/out", QStringLiteral("[artist]"));
    naming.setAnsiOnly(true);
    EXPECT_EQ(naming.subPathForSource(Url("/m/a.mov"), info.get()), QStringLiteral("Motorhead _"));
    naming.setAnsiOnly(false);
    EXPECT_EQ(naming.subPathForSource(Url("/m/a.mov"), info.get()), QString::fromWCharArray(L"Mot\u00F6rhead \u732B"));
}

TEST(KRAFileNaming, EncoderFieldsReplaceTheFileOwn)
{
    TestStoreScope registry;
    const NTag tags = MakeTags({{L"encoder", L"Lavf60"}, {L"artist", L"x"}});
    const auto info = InfoWith(tags, "/m/a.mov");
    KRAFileNaming naming = Dynamic("/out", QStringLiteral("[artist] [encoder] [encoder+]"));
    EXPECT_EQ(naming.subPathForSource(Url("/m/a.mov"), info.get()), QStringLiteral("x Lavf60 "));
    naming.setEncoderName(QStringLiteral("NoSuchEncoder"));
    naming.setEncoderExtra(QStringLiteral("-crf 20"));
    EXPECT_EQ(naming.subPathForSource(Url("/m/a.mov"), info.get()),
              QStringLiteral("x NoSuchEncoder NoSuchEncoder -crf 20"));
    EXPECT_TRUE(naming.usesEncoderInfo());
}

// ---- Destinations stay inside the chosen folder --------------------------------------------

TEST(KRAFileNaming, ExtensionsCannotLeaveTheFolder)
{
    TestStoreScope registry;
    const QUrl source = Url("/src/a.mov");
    const QUrl single =
        KRAFileNaming::namingSingleFolder(Url("/out"))->fullPathForSource(source, nullptr, "/../../etc/x");
    EXPECT_EQ(PathOf(single), "/out/a-..-..-etc-x");
    KRAFileNaming beside;
    EXPECT_EQ(PathOf(beside.fullPathForSource(source, nullptr, "/../b")), "/src/a-..-b");
}

TEST(KRAFileNaming, TagsAndTemplatesCannotLeaveTheFolder)
{
    TestStoreScope registry;
    const NTag tags = MakeTags(
        {{L"artist", L".."}, {L"title", L"../../etc/passwd"}, {L"subpath", L"../../../x"}, {L"origdrive", L"/etc"}});
    const auto info = InfoWith(tags, "/src/a.mov");
    const QUrl source = Url("/src/a.mov");
    for (const QString& pattern : {QStringLiteral("[artist]/[title]"), QStringLiteral("../[title]"),
                                   QStringLiteral("[subpath]/[origdrive]/[artist]"), QStringLiteral("./../.."),
                                   QStringLiteral("[SPLIT]x,..x..,1[]/[artist]"), QStringLiteral("[origpath]/../..")}) {
        const std::string path = PathOf(Dynamic("/out", pattern).fullPathForSource(source, info.get(), ".mkv"));
        SCOPED_TRACE(pattern.toStdString() + " -> " + path);
        ASSERT_EQ(path.rfind("/out/", 0), 0u);
        EXPECT_EQ(path.find("/../"), std::string::npos);
        EXPECT_EQ(path.find("/./"), std::string::npos);
        EXPECT_NE(path.substr(path.size() - 3), "/..");
    }
    // A user-edited sub-path is held to the same rule.
    const KRAFileNaming naming = Dynamic("/out", QStringLiteral("[origfilename]"));
    EXPECT_EQ(PathOf(naming.fullPathForSourceUserString(source, QStringLiteral("../../x"), ".mp4")), "/out/_/_/x.mp4");
    EXPECT_EQ(PathOf(naming.fullPathForSourceUserString(source, QStringLiteral("/.."), "")), "/out/a");
}

TEST(KRAFileNaming, EmptyOrRelativeFoldersGiveNoDestination)
{
    TestStoreScope registry;
    const QUrl source = Url("/src/a.mov");
    for (const char* folder : {"", "out", "./out", "~/out"}) {
        SCOPED_TRACE(folder);
        const KRAFileNaming naming = Dynamic(folder, QStringLiteral("[origfilename]"));
        EXPECT_FALSE(naming.fullPathForSource(source, nullptr, ".mp4").isValid());
        EXPECT_FALSE(KRAFileNaming(naming).prepareFolder());
    }
    KRAFileNaming none = Dynamic("/out", QStringLiteral("[origfilename]"));
    none.setDestination(nullptr);
    EXPECT_FALSE(none.fullPathForSource(source, nullptr, ".mp4").isValid());
    // Next to a source that names no absolute file: no destination either.
    KRAFileNaming beside;
    EXPECT_FALSE(beside.fullPathForSource(QUrl(QStringLiteral("file:a.mov")), nullptr, ".mp4").isValid());
    EXPECT_FALSE(beside.fullPathForSource(QUrl(), nullptr, ".mp4").isValid());
}

TEST(KRAFileNaming, DestinationsFitThePathLimit)
{
    TestStoreScope registry;
    const std::string longName(300, 'n');
    const NTag tags = MakeTags({{L"title", W(longName).p}});
    const auto info = InfoWith(tags, "/src/a.mov");
    std::string pattern;
    for (int i = 0; i < 30; i++)
        pattern += "[title]/";
    pattern += "[title]";
    const std::string path = PathOf(
        Dynamic("/out", QString::fromStdString(pattern)).fullPathForSource(Url("/src/a.mov"), info.get(), ".mkv"));
    ASSERT_FALSE(path.empty());
    EXPECT_LT(path.size(), 4096u);
    EXPECT_EQ(path.substr(path.size() - 4), ".mkv");
    EXPECT_EQ(path.rfind("/out/", 0), 0u);
}

// An untagged file is named after itself, never after its extension alone, and two untagged
// files never share a name.
TEST(KRAFileNaming, AnEmptyNameIsTheSourceOwn)
{
    TestStoreScope registry;
    const NTag none;
    const auto untagged = InfoWith(none, "/m/untagged.mp4");
    const auto other = InfoWith(none, "/m/other.mp4");
    for (const QString& pattern :
         {QStringLiteral("[composer]"), QStringLiteral("[composer][genre]"), QStringLiteral("[composer] "),
          QStringLiteral("[composer]."), QStringLiteral(" . "), QString(), QStringLiteral("[IFVALUE]composer,x,[]")}) {
        SCOPED_TRACE(pattern.toStdString());
        const KRAFileNaming naming = Dynamic("/out", pattern);
        EXPECT_EQ(naming.subPathForSource(Url("/m/untagged.mp4"), untagged.get()), QStringLiteral("untagged"));
        EXPECT_EQ(PathOf(naming.fullPathForSource(Url("/m/untagged.mp4"), untagged.get(), ".mkv")),
                  "/out/untagged.mkv");
        EXPECT_EQ(PathOf(naming.fullPathForSource(Url("/m/other.mp4"), other.get(), ".mkv")), "/out/other.mkv");
    }
    // Only the name was empty: the folders stay.
    const NTag artistOnly = MakeTags({{L"artist", L"A"}});
    const auto withArtist = InfoWith(artistOnly, "/m/untagged.mp4");
    EXPECT_EQ(PathOf(Dynamic("/out", QStringLiteral("[artist]/[composer]"))
                         .fullPathForSource(Url("/m/untagged.mp4"), withArtist.get(), ".mkv")),
              "/out/A/untagged.mkv");
    EXPECT_EQ(PathOf(Dynamic("/out", QStringLiteral("[artist]/[composer]/"))
                         .fullPathForSource(Url("/m/untagged.mp4"), untagged.get(), ".mkv")),
              "/out/untagged.mkv");
    EXPECT_EQ(PathOf(Dynamic("/", QStringLiteral("[origpath]"))
                         .fullPathForSource(Url("/m/untagged.mp4"), untagged.get(), ".mkv")),
              "/m/untagged.mkv");
    EXPECT_EQ(PathOf(Dynamic("/", QStringLiteral("[origpath]/[composer]"))
                         .fullPathForSource(Url("/m/untagged.mp4"), untagged.get(), ".mkv")),
              "/m/untagged.mkv");
    // Text glued to the source's own name is not a name of its own.
    EXPECT_EQ(Dynamic("/", QStringLiteral("[origpath]/[origfilename][composer]"))
                  .subPathForSource(Url("/m/untagged.mp4"), untagged.get()),
              QStringLiteral("/m/untagged"));
    // A cleared user-edited name, and a source whose own name is only an extension.
    const KRAFileNaming naming = Dynamic("/out", QStringLiteral("[origfilename]"));
    EXPECT_EQ(PathOf(naming.fullPathForSourceUserString(Url("/m/untagged.mp4"), QString(), ".mkv")),
              "/out/untagged.mkv");
    EXPECT_EQ(PathOf(naming.fullPathForSourceUserString(Url("/m/untagged.mp4"), QStringLiteral("sub/"), ".mkv")),
              "/out/sub/untagged.mkv");
    KRAFileNaming beside;
    EXPECT_EQ(PathOf(beside.fullPathForSource(Url("/m/.mp4"), nullptr, ".mkv")), "/m/_.mkv");
    // No source path and no tags: still a name, not the extension.
    EXPECT_EQ(
        PathOf(Dynamic("/out", QStringLiteral("[origfilename]")).fullPathForSource(QUrl(), untagged.get(), ".mkv")),
        "/out/_.mkv");
}

// The name check of the full path holds for every naming type alike; the folders that already
// exist (the destination, the source's own folder) are used as they are.
TEST(KRAFileNaming, EveryTypeChecksTheNameOfTheFullPath)
{
    TestStoreScope registry;
    const QUrl source = Url("/m/x:y/a:b.mov");
    KRAFileNaming beside;
    EXPECT_EQ(PathOf(beside.fullPathForSource(source, nullptr, ".mkv")), "/m/x:y/a;b.mkv");
    KRAFileNaming single;
    single.setFileNamingType(FileNamingSingleFolder);
    single.setDestination(KRALocationDescriptor::withFolderPath(W("/out:1")));
    EXPECT_EQ(PathOf(single.fullPathForSource(source, nullptr, ".mkv")), "/out:1/a;b.mkv");
    EXPECT_EQ(PathOf(Dynamic("/out:1", QStringLiteral("[origfilename]")).fullPathForSource(source, nullptr, ".mkv")),
              "/out:1/a;b.mkv");
    EXPECT_EQ(PathOf(KRAFileNaming::namingSameFolder()->fullPathForSource(source, nullptr, ".mkv")), "/m/x:y/a;b.mkv");
    EXPECT_EQ(PathOf(KRAFileNaming::namingPreservePath(Url("/Out"))->fullPathForSource(source, nullptr, ".mkv")),
              "/Out/m/x:y/a;b.mkv");
    // Names the naming makes, and names the user typed, are checked whole: replacement,
    // control characters, leading dots and blanks of every folder below the destination.
    const KRAFileNaming naming = Dynamic("/out", QStringLiteral("[origfilename]"));
    EXPECT_EQ(PathOf(naming.fullPathForSourceUserString(source, QStringLiteral("p:q/ .r\ts/n:m"), ".mp4")),
              "/out/p;q/r_s/n;m.mp4");
    EXPECT_EQ(PathOf(naming.fullPathForSourceUserString(source, QString::fromUtf8("p\x01q/n\x02m"), ".mp4")),
              "/out/p_q/n_m.mp4");
    KRAFileNaming tab;
    EXPECT_EQ(PathOf(tab.fullPathForSource(Url("/m/a\tb.mov"), nullptr, ".mkv")), "/m/a_b.mkv");
}

TEST(KRAFileNaming, NoPathGivesTrackAndTitle)
{
    TestStoreScope registry;
    const NTag tags = MakeTags({{L"track", L"3/9"}, {L"title", L"Up/Down"}});
    const auto info = InfoWith(tags, "");
    EXPECT_EQ(Dynamic("/out", QStringLiteral("[origfilename]")).subPathForSource(QUrl(), info.get()),
              QStringLiteral("3 Up-Down"));
}

// ---- Description, recent list, catalogue ------------------------------------------------------

TEST(KRAFileNaming, Description)
{
    TestStoreScope registry;
    const KRAFileNaming naming = Dynamic("/out", QStringLiteral("[artist]/[IFCOMP]x[]"));
    EXPECT_EQ(naming.descriptionRaw(), QStringLiteral("/out/[artist]/[IFCOMP]x[]"));
    EXPECT_EQ(naming.description(), QStringLiteral("/out/Artist/[IFCOMP]x[]"));
    KRAFileNaming none = naming;
    none.setDestination(nullptr);
    EXPECT_EQ(none.descriptionRaw(), QStringLiteral("[artist]/[IFCOMP]x[]"));
    EXPECT_EQ(KRAFileNaming::sanitizeDynamicPattern(QStringLiteral("a\\b")), QStringLiteral("a/b"));
}

TEST(KRAFileNaming, RecentList)
{
    TestStoreScope registry;
    QList<KRAFileNamingRef> list;
    for (int i = 0; i < 12; i++) {
        auto naming = std::make_shared<KRAFileNaming>(Dynamic("/out/" + std::to_string(i), QStringLiteral("[title]")));
        list.append(naming);
        if (i == 3) {
            auto none = std::make_shared<KRAFileNaming>(*naming);
            none->setDestination(KRALocationDescriptor::withFolderPath(W("relative")));
            list.append(none);
        }
    }
    ASSERT_TRUE(KRAFileNaming::saveRecentList(list));
    EXPECT_EQ(U8(XRegistry::GetString(L"kRALastFolder-0")), "/out/0{_._}[title]");
    EXPECT_EQ(U8(XRegistry::GetString(L"kRALastFolder-9")), "/out/9{_._}[title]");
    EXPECT_FALSE(XRegistry::ValueExists(L"kRALastFolder-10"));

    ASSERT_TRUE(XRegistry::SetString(L"/x/(null){_._}[title]", L"kRALastFolder-1"));
    ASSERT_TRUE(XRegistry::SetString(L"/x{_._}a{_._}b", L"kRALastFolder-2"));
    const QList<KRAFileNamingRef> loaded = KRAFileNaming::loadRecentList();
    ASSERT_EQ(loaded.size(), 8);
    EXPECT_EQ(U8(loaded[0]->destination()->path()), "/out/0");
    EXPECT_EQ(U8(loaded[1]->destination()->path()), "/out/3");
    EXPECT_EQ(loaded[1]->fileNamingType(), FileNamingDynamic);

    // Saving fewer removes the rest.
    ASSERT_TRUE(KRAFileNaming::saveRecentList({list[0]}));
    EXPECT_EQ(KRAFileNaming::loadRecentList().size(), 1);
}

TEST(KRAFileNaming, ElementCatalogue)
{
    const QList<KRAFileNamingElement> elements = KRAFileNamingElement::elements();
    ASSERT_EQ(elements.size(), 57);
    EXPECT_EQ(elements[0].name(), QStringLiteral("[artist]"));
    EXPECT_TRUE(elements[35].isLabel());
    EXPECT_EQ(elements[36].name(), QStringLiteral("Advanced (programmable actions on elements)"));
    EXPECT_TRUE(elements[36].isLabel());
    EXPECT_FALSE(elements[56].isLabel());
    EXPECT_EQ(elements[56].name(), QStringLiteral("[MAXLENGTH]maxlength,string[]"));
}

} // namespace
