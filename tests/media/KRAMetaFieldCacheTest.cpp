// The tag-field cache of folders: cached answers, unions over folders and sub-folders, and a
// cache that goes away while its worker is still probing.
#include "media/KRAMetaFieldCache.h"

#include "common/TestFiles.h"
#include "media/QKTag.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

#include <gtest/gtest.h>

#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

struct Received : KRAMetaFieldCacheCallback {
    void deliverMetaFieldCacheResults(const KRAMetaFieldResults& results) override
    {
        std::lock_guard<std::mutex> guard(lock);
        all.push_back(results);
        done.notify_all();
    }
    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> guard(lock);
        return done.wait_for(guard, std::chrono::seconds(30), [&] { return all.size() >= count; });
    }
    std::mutex lock;
    std::condition_variable done;
    std::vector<KRAMetaFieldResults> all;
};

// A file's "Channels" tag is its content; files named *.mkv are media.
KRAMetaFieldCache::InfoReader ChannelsFromContent(std::atomic<int>* reads = nullptr)
{
    return [reads](const QString& path) {
        if (reads)
            ++*reads;
        QFile file(path);
        auto tag = std::make_shared<QKMutableTag>();
        if (file.open(QIODevice::ReadOnly))
            tag->addTag(QStringLiteral("Channels"), QString::fromUtf8(file.readAll()));
        return QKMediaFileInfo::infoWithIDTag(tag, XStrFromQString(path));
    };
}

bool IsMkv(const QString& path)
{
    return path.endsWith(QLatin1String(".mkv"));
}

void Write(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

QUrl Url(const std::string& path)
{
    return XFileURL(XStr::FromUTF8(path.c_str()));
}

const QStringList kMeta{QStringLiteral("Channels")};
const QStringList kInfo{QStringLiteral("Sample Rate")};

} // namespace

TEST(KRAMetaFieldCache, CollectsTreesOnceAndUnitesFolders)
{
    TestTempDir dir;
    std::filesystem::create_directories(dir.file("a/sub"));
    std::filesystem::create_directories(dir.file("b"));
    std::filesystem::create_directories(dir.file("empty"));
    Write(dir.file("a/one.mkv"), "2");
    Write(dir.file("a/sub/two.mkv"), "2\r5.1");
    Write(dir.file("a/notes.txt"), "9");
    Write(dir.file("a/.hidden.mkv"), "7");
    Write(dir.file("b/three.mkv"), "6");
    std::atomic<int> reads{0};
    KRAMetaFieldCache cache(IsMkv, kMeta, kInfo, ChannelsFromContent(&reads));

    auto first = std::make_shared<Received>();
    EXPECT_FALSE(cache.fieldsForFolder(Url(dir.file("a")), first));
    ASSERT_TRUE(first->waitFor(1));
    EXPECT_EQ(first->all[0].value(QStringLiteral("Channels")),
              (QSet<QString>{QStringLiteral("2"), QStringLiteral("5.1")}));
    EXPECT_TRUE(first->all[0].value(QStringLiteral("Sample Rate")).isEmpty());
    EXPECT_EQ(reads.load(), 2); // neither the text file nor the hidden one

    // Cached now, and so is the sub-folder, which was collected on the way.
    const auto again = cache.fieldsForFolder(Url(dir.file("a")), first);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, first->all[0]);
    EXPECT_TRUE(cache.fieldsForFolder(Url(dir.file("a/sub")), first));
    EXPECT_EQ(reads.load(), 2);

    // One cached folder and one not: the union comes later, once.
    auto many = std::make_shared<Received>();
    EXPECT_FALSE(cache.fieldsForFolders({Url(dir.file("a")), Url(dir.file("b")), Url(dir.file("empty"))}, many));
    ASSERT_TRUE(many->waitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(many->all.size(), 1u);
    EXPECT_EQ(many->all[0].value(QStringLiteral("Channels")),
              (QSet<QString>{QStringLiteral("2"), QStringLiteral("5.1"), QStringLiteral("6")}));
    const auto cachedAll = cache.fieldsForFolders({Url(dir.file("b")), Url(dir.file("empty"))}, many);
    ASSERT_TRUE(cachedAll);
    EXPECT_EQ(cachedAll->value(QStringLiteral("Channels")), QSet<QString>{QStringLiteral("6")});
    // A folder without media files: every field, each empty.
    const auto empty = cache.fieldsForFolder(Url(dir.file("empty")), nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->keys(), (QStringList{QStringLiteral("Channels"), QStringLiteral("Sample Rate")}));
    EXPECT_TRUE(empty->value(QStringLiteral("Channels")).isEmpty());
    EXPECT_FALSE(cache.fieldsForFolders({}, many));
}

TEST(KRAMetaFieldCache, ACacheThatGoesAwayStopsAndCallsNobody)
{
    TestTempDir dir;
    for (int i = 0; i < 50; ++i)
        Write(dir.file("clip" + std::to_string(i) + ".mkv"), "2");
    std::atomic<int> reads{0};
    auto received = std::make_shared<Received>();
    {
        auto slow = [&reads](const QString& path) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return ChannelsFromContent(&reads)(path);
        };
        KRAMetaFieldCache cache(IsMkv, kMeta, kInfo, slow);
        EXPECT_FALSE(cache.fieldsForFolder(Url(dir.path()), received));
        while (reads.load() < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int after = reads.load();
    EXPECT_LT(after, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(reads.load(), after);
    EXPECT_TRUE(received->all.empty());
}

TEST(KRAMetaFieldCache, TagFieldsFallBackAndNameTheirAbsence)
{
    auto tag = std::make_shared<QKMutableTag>();
    tag->addTag(QStringLiteral("Artist"), QStringLiteral("Anna"));
    tag->addTag(QStringLiteral("Album"), QStringLiteral("Summer"));
    const auto info = QKMediaFileInfo::infoWithIDTag(tag, XStr(L"/x.mkv"));
    const KRAMetaFieldResults fields = KRAMetaFieldCache::fieldsOfInfo(
        info.get(), {QStringLiteral("Album Artist"), QStringLiteral("Album"), QStringLiteral("Genre")}, {});
    EXPECT_EQ(fields.value(QStringLiteral("Album Artist")), QSet<QString>{QStringLiteral("Anna")});
    EXPECT_EQ(fields.value(QStringLiteral("Album")), QSet<QString>{QStringLiteral("Anna - Summer")});
    EXPECT_EQ(fields.value(QStringLiteral("Genre")), QSet<QString>{QStringLiteral("[no Genre]")});
}
