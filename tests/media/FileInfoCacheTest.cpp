// The file-information cache: results in list order, the 500 files read without a listener,
// delivery stopping at shutdown, and the column values of the file tables.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>

#include "common/MediaTestFiles.h"
#include "common/TestFiles.h"
#include "media/QKFileInfoCache.h"
#include "media/QKTag.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

// Spins the event loop until done() or the time is up.
template <class Done>
bool WaitFor(Done done, int ms = 300000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QList<QUrl> Urls(int count)
{
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i)
        urls.append(QUrl::fromLocalFile(QStringLiteral("/nonexistent/file%1.mp4").arg(i)));
    return urls;
}

// A reader that makes a record naming the file, without ffprobe.
QKMediaFileInfoRef FakeRead(const QUrl& url)
{
    auto tag = std::make_shared<QKTag>();
    tag->tag()->AddTag(L"Title", XStrFromQString(url.fileName()).p);
    return QKMediaFileInfo::infoWithIDTag(tag, XPathFromFileURL(url));
}

QKFileInfoColumns ColumnsOf(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> tags)
{
    auto tag = std::make_shared<QKTag>();
    for (const auto& [name, value] : tags)
        tag->tag()->AddTag(name, value);
    const QKMediaFileInfoRef info = QKMediaFileInfo::infoWithIDTag(tag, XStr(L"/x.mp4"));
    return QKFileInfoColumns(info.get());
}

} // namespace

TEST(FileInfoCache, ReadsInOrderAndWaitsForAListenerBeyond500)
{
    const QKFileInfoCacheRef empty = QKFileInfoCache::create({}, false, FakeRead);
    EXPECT_EQ(empty->count(), 0);

    const QKFileInfoCacheRef cache = QKFileInfoCache::create(Urls(600), true, FakeRead);
    EXPECT_EQ(cache->infoForIndex(0), nullptr) << "nothing before the first batch";
    ASSERT_TRUE(WaitFor([&] { return cache->countLoaded() >= 500; }));
    // Without a listener the worker waits after 500 files.
    WaitFor([] { return false; }, 1500);
    EXPECT_EQ(cache->countLoaded(), 500);
    EXPECT_EQ(cache->infoForIndex(500), nullptr);
    EXPECT_EQ(cache->infoForIndex(7)->columns->getValue(QStringLiteral("Title")).toString(),
              QStringLiteral("file7.mp4"));

    int64_t told = 0;
    const int id = cache->addCallback([&](int64_t loaded) { told += loaded; });
    ASSERT_TRUE(WaitFor([&] { return cache->countLoaded() == 600; }));
    // The listener may hear of the last batch a moment after it was loaded.
    EXPECT_TRUE(WaitFor([&] { return told >= 100; }));
    EXPECT_EQ(told, 100);
    EXPECT_EQ(cache->infoForIndex(599)->info->path(), XStr(L"/nonexistent/file599.mp4"));
    cache->removeCallback(id);
}

TEST(FileInfoCache, NothingArrivesAfterShutdownOrRelease)
{
    std::atomic<int> reads{0};
    const auto slowRead = [&reads](const QUrl& url) {
        ++reads;
        return FakeRead(url);
    };
    QKFileInfoCacheRef cache = QKFileInfoCache::create(Urls(50), false, slowRead);
    cache->shutdown();
    WaitFor([] { return false; }, 1200);
    EXPECT_EQ(cache->countLoaded(), 0);

    // A cache let go while its worker runs: the worker ends, nothing is touched.
    QKFileInfoCacheRef dropped = QKFileInfoCache::create(Urls(300), false, slowRead);
    dropped.reset();
    WaitFor([] { return false; }, 1200);

    // A file that cannot be read still has its row.
    TestTempDir dir;
    const QKFileInfoCacheRef real = QKFileInfoCache::create({QUrl::fromLocalFile(QStringLiteral("/nonexistent.mp4"))});
    ASSERT_TRUE(WaitFor([&] { return real->countLoaded() == 1; }));
    EXPECT_TRUE(real->infoForIndex(0)->info);
}

TEST(FileInfoCache, ColumnValues)
{
    QKFileInfoColumns full = ColumnsOf({{L"Artist", L"A"}, {L"Album", L"B"}, {L"Track", L"3/12"}, {L"Disc", L"1/2"}});
    EXPECT_EQ(full.getValue(QStringLiteral("Album Artist - Album - Disc - Track")).toString(),
              QStringLiteral("A - B - 01/02 - 03/12"));
    EXPECT_EQ(full.getValue(QStringLiteral("Album - Disc - Track")).toString(), QStringLiteral("B - 01/02 - 03/12"));
    EXPECT_EQ(full.getValue(QStringLiteral("Track")).toString(), QStringLiteral("03/12"));
    EXPECT_EQ(full.getValue(QStringLiteral("Compilation")).toString(), QStringLiteral("No"));

    QKFileInfoColumns single = ColumnsOf({{L"Artist", L"A"},
                                          {L"Album Artist", L"AA"},
                                          {L"Album", L"B"},
                                          {L"Track", L"3/12"},
                                          {L"Disc", L"1/1"},
                                          {L"Compilation", L"1"}});
    EXPECT_EQ(single.getValue(QStringLiteral("Album Artist - Album - Disc - Track")).toString(),
              QStringLiteral("AA - B - 03/12"));
    EXPECT_EQ(single.getValue(QStringLiteral("Compilation")).toString(), QStringLiteral("Yes"));
    EXPECT_EQ(single.getValue(QStringLiteral("Nothing Like It")).toString(), QString());

    // A real clip: its length as text and, for sorting, as a number.
    TestTempDir dir;
    ASSERT_TRUE(MakeTestVideo(dir.file("c.mp4"), "64x48", "5", "2", {"-metadata", "title=Clip"}));
    const QKFileInfoCacheRef cache =
        QKFileInfoCache::create({QUrl::fromLocalFile(QString::fromStdString(dir.file("c.mp4")))}, true);
    ASSERT_TRUE(WaitFor([&] { return cache->countLoaded() == 1; }));
    const QKFileInfoColumns& columns = *cache->infoForIndex(0)->columns;
    EXPECT_NEAR(static_cast<double>(columns.getValue(QStringLiteral("Length"), true).toULongLong()), 2000.0, 100.0);
    EXPECT_FALSE(columns.getValue(QStringLiteral("Length")).toString().isEmpty());
    EXPECT_EQ(columns.getValue(QStringLiteral("Title")).toString(), QStringLiteral("Clip"));
}

// What the file tables show of real files: Ogg's tags live on its sound stream, and an MP3's
// cover picture gives it no resolution or frame rate.
TEST(FileInfoCache, ColumnsOfOggTagsAndCoverArt)
{
    if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    TestTempDir dir;
    ASSERT_TRUE(MakeTestAudio(dir.file("a.opus"), "1",
                              {"-c:a", "libopus", "-metadata:s:a:0", "title=Opus Song", "-metadata:s:a:0", "artist=Ann",
                               "-metadata:s:a:0", "album=First", "-metadata:s:a:0", "track=3/12"}));
    ASSERT_TRUE(MakeMP3WithCoverArt(dir.file("b.mp3")));
    const QKFileInfoCacheRef cache =
        QKFileInfoCache::create({QUrl::fromLocalFile(QString::fromStdString(dir.file("a.opus"))),
                                 QUrl::fromLocalFile(QString::fromStdString(dir.file("b.mp3")))},
                                true);
    ASSERT_TRUE(WaitFor([&] { return cache->countLoaded() == 2; }, 120000));
    const QKFileInfoColumns& opus = *cache->infoForIndex(0)->columns;
    EXPECT_EQ(opus.getValue(QStringLiteral("Title")).toString(), QStringLiteral("Opus Song"));
    EXPECT_EQ(opus.getValue(QStringLiteral("Album Artist - Album - Disc - Track")).toString(),
              QStringLiteral("Ann - First - 03/12"));
    const QKFileInfoColumns& mp3 = *cache->infoForIndex(1)->columns;
    for (const char* name : {"Resolution", "Frame Rate", "Aspect Ratio"})
        EXPECT_EQ(mp3.getValue(QString::fromLatin1(name)).toString(), QString()) << name;
    EXPECT_EQ(mp3.getValue(QStringLiteral("Sample Rate")).toString(), QStringLiteral("44100"));
}
