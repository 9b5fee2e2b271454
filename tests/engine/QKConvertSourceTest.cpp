#include <gtest/gtest.h>

#include "common/MediaTestFiles.h"
#include "engine/QKConvertSource.h"
#include "platform/XWorkspace.h"

namespace {

QUrl FileUrl(const std::string& path)
{
    return XFileURL(XStr::FromUTF8(path));
}

TEST(QKConvertSource, TransformKeepsSourcesAndConvertsUrlsAndTextsInOrder)
{
    const QKConvertSourceRef ready = QKConvertSource::withURL(FileUrl("/videos/a.mp4"));
    const QVariantList items{
        QKConvertSource::toVariant(ready),           QVariant(FileUrl("/videos/b.mkv")),
        QVariant(QStringLiteral("/videos/c d.avi")), QVariant(42),
        QVariant(QStringLiteral("not a url")),
    };
    const QList<QKConvertSourceRef> sources = QKConvertSource::transformURLs(items);
    ASSERT_EQ(sources.size(), 3);
    EXPECT_EQ(sources[0], ready); // the very object, not a copy
    EXPECT_EQ(sources[1]->urlPerceived(), FileUrl("/videos/b.mkv"));
    EXPECT_EQ(sources[1]->urlForConversion(), FileUrl("/videos/b.mkv"));
    EXPECT_EQ(sources[2]->pathForConversion(), XStr(L"/videos/c d.avi"));
    EXPECT_EQ(sources[2]->strPerceivedFilename(), QStringLiteral("c d.avi"));

    const QList<QUrl> urls = QKConvertSource::grabURLs(items);
    ASSERT_EQ(urls.size(), 3);
    EXPECT_EQ(urls[0], FileUrl("/videos/a.mp4"));
    EXPECT_TRUE(QKConvertSource::grabURL(QVariant(3.5)).isEmpty());
}

TEST(QKConvertSource, PerceivedNameAndPathSurviveAnyBytes)
{
    // A name that is not UTF-8 must still name the same file after the round trip.
    const XStr path = XStr::FromUTF8("/v/caf\xE9 \"x\" $(y).mov");
    const QKConvertSourceRef source = QKConvertSource::withURL(XFileURL(path));
    EXPECT_EQ(source->pathForConversion().ToUTF8String(), path.ToUTF8String());
    source->setStrPerceivedFilename(QStringLiteral("shown"));
    EXPECT_EQ(source->strPerceivedFilename(), QStringLiteral("shown"));
    source->setStrPerceivedFilename(std::nullopt);
    EXPECT_TRUE(source->strPerceivedFilename().endsWith(QStringLiteral(" \"x\" $(y).mov")));
}

TEST(QKConvertSource, ProbeLengthReadsTheFileToConvert)
{
    TestTempDir dir;
    const std::string video = dir.file("two seconds.mp4");
    ASSERT_TRUE(MakeTestVideo(video, "160x120", "25", "2"));
    const QKConvertSourceRef source = QKConvertSource::withURL(FileUrl(video));
    const uint64_t length = source->probeLength();
    EXPECT_GE(length, 1900u);
    EXPECT_LE(length, 2200u);

    WriteTextFile(dir.file("notes.txt"), "not media\n");
    EXPECT_EQ(QKConvertSource::withURL(FileUrl(dir.file("notes.txt")))->probeLength(), 0u);
    EXPECT_EQ(QKConvertSource::withURL(QUrl())->probeLength(), 0u);
}

TEST(QKConvertSourceConcat, LengthIsTheSumOfTheReadableFiles)
{
    TestTempDir dir;
    ASSERT_TRUE(MakeTestVideo(dir.file("one.mp4"), "160x120", "25", "1"));
    ASSERT_TRUE(MakeTestVideo(dir.file("two.mp4"), "160x120", "25", "2"));
    WriteTextFile(dir.file("broken.mp4"), "this is no video");

    QKConvertSourceConcat concat;
    EXPECT_EQ(concat.specialActionDesc(), QStringLiteral("concatenating"));
    concat.setConcatURLs({FileUrl(dir.file("one.mp4")), FileUrl(dir.file("broken.mp4")), FileUrl(dir.file("two.mp4"))});
    EXPECT_EQ(concat.urlPerceived(), FileUrl(dir.file("one.mp4")));
    EXPECT_EQ(concat.urlForConversion(), FileUrl(dir.file("one.mp4")));
    const uint64_t total = concat.probeLength();
    EXPECT_GE(total, 2900u);
    EXPECT_LE(total, 3300u);

    concat.setConcatURLs({});
    EXPECT_TRUE(concat.urlPerceived().isEmpty());
    EXPECT_TRUE(concat.urlForConversion().isEmpty());
    EXPECT_EQ(concat.probeLength(), 0u);
}

TEST(QKConvertSourceTemp, TemporaryFileLivesAsLongAsTheSource)
{
    std::string tempPath;
    {
        const auto source =
            QKConvertSourceTemp::withURL(FileUrl("/videos/list source.mp4"), QStringLiteral("-f concat"));
        ASSERT_TRUE(source);
        tempPath = source->tempPath().ToUTF8String();
        EXPECT_TRUE(PathExists(tempPath));
        EXPECT_EQ(tempPath.substr(tempPath.size() - 4), ".tmp");
        EXPECT_EQ(source->pathForConversion().ToUTF8String(), tempPath);
        EXPECT_EQ(source->urlPerceived(), FileUrl("/videos/list source.mp4"));
        EXPECT_EQ(source->inputOptions(), QStringLiteral("-f concat"));
        EXPECT_EQ(source->strPerceivedFilename(), QStringLiteral("list source.mp4"));
    }
    EXPECT_FALSE(PathExists(tempPath));
}

} // namespace
