// The format lists and the user's file filter: how list files parse, that damaged ones give
// an empty filter, that a list is read once, and what each kind of exclusion lets through.
#include "batch/BatchTestSupport.h"
#include "batch/KRAFileFilter.h"
#include "batch/QKMediaFormatFilter.h"
#include "common/MediaTestFiles.h"
#include "common/TestStore.h"
#include "media/QKMediaFileInfo.h"
#include "xclass/XRegistry.h"

#include <gtest/gtest.h>

namespace {

QByteArray Utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

QUrl File(const char* path)
{
    return XFileURL(XStr::FromUTF8(path));
}

} // namespace

TEST(FormatList, PairsOfLinesBecomeOneRowPerExtension)
{
    const QString text = QStringLiteral("\uFEFFMatroska\r\n.mkv;.MKA\n\n.skipped\r\uFEFFMPEG\n.mpg;;.mpeg\nOdd");
    QString damaged;
    const decoderList_t list = QKMediaFormatFilter::parse(Utf16(text), &damaged);
    EXPECT_TRUE(damaged.isEmpty());
    EXPECT_EQ(list.lstExtension, QStringList({".mkv", ".MKA", ".mpg", "", ".mpeg"}));
    EXPECT_EQ(list.lstExtDescription, QStringList({"Matroska", "Matroska", "MPEG", "MPEG", "MPEG"}));

    for (const QByteArray& bad : {QByteArray(), QByteArray("\xff\xfe\x41", 3), Utf16(QStringLiteral("A\n.a\n")),
                                  Utf16(QStringLiteral("\uFEFFA\n.a")) + QByteArray("\x00\xd8", 2)}) {
        damaged.clear();
        EXPECT_TRUE(QKMediaFormatFilter::parse(bad, &damaged).lstExtension.isEmpty());
        EXPECT_FALSE(damaged.isEmpty());
    }
}

TEST(FormatList, TheListsAreReadOncePerProcessAndTheFirstRowDecides)
{
    TestStoreScope store;
    QKMediaFormatFilter first;
    const int reads = QKMediaFormatFilter::listReads();
    ASSERT_GE(reads, 1);
    EXPECT_EQ(first.fileTypeOf(File("/v/Clip.MKV")), QStringLiteral("Matroska Video"));
    EXPECT_FALSE(first.fileTypeOf(File("/v/notes.txt")));
    EXPECT_FALSE(first.fileTypeOf(File("/v/noextension")));
    EXPECT_TRUE(first.extensions().contains(QStringLiteral(".mp4")));

    // Each filter's enabled flags are its own; the list is not read again.
    QKMediaFormatFilter second;
    second.toggleAll(false);
    EXPECT_FALSE(second.isMediaFile(File("/v/a.mkv")));
    EXPECT_TRUE(first.isMediaFile(File("/v/a.mkv")));

    // With the audio list, ".m4a" is in both: the first list's row decides.
    XRegistry::SetDWORD(1, L"ShowAudioOnly");
    QKMediaFormatFilter audio;
    EXPECT_EQ(audio.fileTypeOf(File("/a/x.m4a")), QStringLiteral("AAC Audio"));
    EXPECT_EQ(audio.fileTypeOf(File("/a/x.dts")), QStringLiteral("DTS Audio"));
    QKMediaFormatFilter again;
    EXPECT_EQ(QKMediaFormatFilter::listReads(), reads + 1); // the audio list, once
}

TEST(FileFilter, EachKindOfExclusion)
{
    KRAFileFilter filter;
    EXPECT_FALSE(filter.active());
    filter.setFilterMeta(QStringLiteral("File Types"), QSet<QString>{QStringLiteral(".AVI")});
    EXPECT_FALSE(filter.testJustURL(File("/v/a.avi")));
    EXPECT_FALSE(filter.testJustURL(File("/v/noextension")));
    EXPECT_TRUE(filter.testJustURL(File("/v/a.mkv")));
    EXPECT_TRUE(filter.active());
    EXPECT_FALSE(filter.metaActive());

    // The date: 0 days keeps everything but counts as set; one period old passes.
    const uint64_t day = QKMediaFileInfo::fileTime1Second() * 86400ULL;
    const uint64_t now = QKMediaFileInfo::fileTimeNow();
    filter.setFilterMeta(QStringLiteral("Date"),
                         QSet<QString>{QStringLiteral("[date not checked, all files included]")});
    EXPECT_TRUE(filter.metaActive());
    EXPECT_FALSE(filter.needsInfo());
    EXPECT_TRUE(filter.testURL(File("/v/a.mkv"), nullptr, 1));
    filter.setFilterMeta(QStringLiteral("Date"), QSet<QString>{QStringLiteral("7 Days (1 week)")});
    EXPECT_FALSE(filter.testURL(File("/v/a.mkv"), nullptr, now - 8 * day));
    EXPECT_TRUE(filter.testURL(File("/v/a.mkv"), nullptr, now - 6 * day));
    for (const char* odd : {"-5 days", "999999999 days"}) {
        filter.setFilterMeta(QStringLiteral("Date"), QSet<QString>{QString::fromLatin1(odd)});
        EXPECT_TRUE(filter.testURL(File("/v/a.mkv"), nullptr, 1)) << odd; // no age limit, no failure
    }

    // A copy is a filter of its own; equal until one changes.
    KRAFileFilter copy = filter;
    EXPECT_TRUE(copy.isEqualToFilter(filter));
    copy.setFilterMeta(QStringLiteral("Resolution"), std::optional<QStringList>(QStringList{"640x480"}));
    EXPECT_FALSE(copy.isEqualToFilter(filter));
    EXPECT_TRUE(copy.needsInfo());
    copy.setFilterMeta(QStringLiteral("Resolution"), QSet<QString>{});
    EXPECT_FALSE(copy.filterForMeta(QStringLiteral("Resolution")));
}

TEST(FileFilter, InformationFieldsExcludeByTheFilesMediaProperties)
{
    TestTempDir dir;
    const std::string clip = dir.file("clip.mkv");
    ASSERT_TRUE(MakeTestVideo(clip, "320x240"));
    const QKMediaFileInfoRef info = QKMediaFileInfo::readLiteInfoFromFile(XStr::FromUTF8(clip.c_str()));
    ASSERT_TRUE(info);
    const std::optional<QString> resolution = info->getAudioPropsValueOf(QStringLiteral("Resolution"));
    ASSERT_TRUE(resolution && !resolution->isEmpty());

    KRAFileFilter filter;
    filter.setFilterMeta(QStringLiteral("Resolution"), QSet<QString>{QStringLiteral("1920x1080")});
    EXPECT_TRUE(filter.testURL(File(clip.c_str()), info.get()));
    filter.setFilterMeta(QStringLiteral("Resolution"), QSet<QString>{*resolution});
    EXPECT_FALSE(filter.testURL(File(clip.c_str()), info.get()));
    // A file without information (or without that field) stays.
    EXPECT_TRUE(filter.testURL(File(clip.c_str()), nullptr));
}
