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
        return done.wait_for(guard, std::chrono::minutes(5), [&] { return all.size() >= count; });
    }
    std::mutex lock;
    std::condition_variable done;
    std::vector<KRAMetaFieldResults> all;
};

// Holds readers while closed; open by default.
class Gate {
public:
    void close()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_open = false;
    }
    void open()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void pass()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait(guard, [this] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = true;
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
    Gate gate;
    const auto reader = [&gate, read = ChannelsFromContent(&reads)](const QString& path) {
        gate.pass();
        return read(path);
    };
    KRAMetaFieldCache cache(IsMkv, kMeta, kInfo, reader);

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

    // One cached folder and one not: the union comes later, once. The reader holds the worker
    // on b until the call has returned, so the answer cannot be ready before it returns.
    auto many = std::make_shared<Received>();
    gate.close();
    EXPECT_FALSE(cache.fieldsForFolders({Url(dir.file("a")), Url(dir.file("b")), Url(dir.file("empty"))}, many));
    gate.open();
    ASSERT_TRUE(many->waitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // room for a second call that must not come
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

// The worker may finish the folders still missing before the call returns; then the call
// answers at once and the callback is not called. Either way the union arrives exactly once.
TEST(KRAMetaFieldCache, AUnionIsAnsweredAtOnceOrLaterButOnlyOnce)
{
    TestTempDir dir;
    std::filesystem::create_directories(dir.file("a"));
    std::filesystem::create_directories(dir.file("b"));
    Write(dir.file("a/one.mkv"), "2");
    Write(dir.file("b/two.mkv"), "6");
    const QSet<QString> both{QStringLiteral("2"), QStringLiteral("6")};
    for (int round = 0; round < 20; ++round) {
        KRAMetaFieldCache cache(IsMkv, kMeta, kInfo, ChannelsFromContent());
        auto primed = std::make_shared<Received>();
        EXPECT_FALSE(cache.fieldsForFolder(Url(dir.file("a")), primed));
        ASSERT_TRUE(primed->waitFor(1));
        auto many = std::make_shared<Received>();
        const auto now = cache.fieldsForFolders({Url(dir.file("a")), Url(dir.file("b"))}, many);
        if (now) {
            EXPECT_EQ(now->value(QStringLiteral("Channels")), both);
            EXPECT_TRUE(many->all.empty()) << "answered at once and called as well";
        } else {
            ASSERT_TRUE(many->waitFor(1));
            ASSERT_EQ(many->all.size(), 1u);
            EXPECT_EQ(many->all[0].value(QStringLiteral("Channels")), both);
        }
    }
}

TEST(KRAMetaFieldCache, ACacheThatGoesAwayStopsAndCallsNobody)
{
    TestTempDir dir;
    for (int i = 0; i < 50; ++i)
        Write(dir.file("clip" + std::to_string(i) + ".mkv"), "2");
    std::atomic<int> entered{0};
    std::atomic<int> returned{0};
    Gate gate;
    auto received = std::make_shared<Received>();
    {
        // The third read waits at the gate: the cache goes away while its worker is inside it.
        auto held = [&](const QString& path) {
            if (++entered == 3)
                gate.pass();
            QKMediaFileInfoRef info = ChannelsFromContent()(path);
            ++returned;
            return info;
        };
        gate.close();
        KRAMetaFieldCache cache(IsMkv, kMeta, kInfo, held);
        EXPECT_FALSE(cache.fieldsForFolder(Url(dir.path()), received));
        while (entered.load() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    gate.open();
    while (returned.load() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Room for reads that must not come: the worker stops before the next file.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(entered.load(), 3);
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
