// The batch filters on real media: tags that Ogg keeps on its sound stream, and cover art that
// is no picture of the file's, both as the collection of ticked files and as the value lists the
// filters dialog offers.
#include "batch/BatchTestSupport.h"
#include "batch/KRABatchConverterProfile.h"
#include "batch/QKMediaFormatFilter.h"
#include "common/MediaTestFiles.h"
#include "common/TestStore.h"
#include "media/KRAMetaFieldCache.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

class BatchMediaFilter : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        ASSERT_EQ(mkdir(dir.file("top").c_str(), 0700), 0);
        for (const auto& [name, artist] : {std::pair{"ann.ogg", "Ann"}, std::pair{"bob.ogg", "Bob"}})
            ASSERT_TRUE(MakeTestAudio(dir.file(std::string("top/") + name), "1",
                                      {"-c:a", "libvorbis", "-metadata:s:a:0", std::string("artist=") + artist}));
        ASSERT_TRUE(MakeMP3WithCoverArt(dir.file("top/cover.mp3")));
        ASSERT_TRUE(MakeTestVideo(dir.file("top/square.mkv"), "700x700", "25", "1"));
    }

    std::vector<std::string> Collect()
    {
        const clFolderListEntryRef root = clFolderListEntry::rootForURL(QFileUrl(dir.file("top")), owner);
        root->globals()->loadInfoForColumns = false;
        EXPECT_TRUE(LoadFiles(root));
        root->setCheckState(Recursive);
        return CollectPaths({root});
    }

    TestStoreScope store;
    TestTempDir dir;
    std::shared_ptr<TestTreeOwner> owner = std::make_shared<TestTreeOwner>();
};

struct Received : KRAMetaFieldCacheCallback {
    void deliverMetaFieldCacheResults(const KRAMetaFieldResults& delivered) override
    {
        std::lock_guard<std::mutex> guard(lock);
        results = delivered;
        arrived = true;
        done.notify_all();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> guard(lock);
        return done.wait_for(guard, std::chrono::minutes(2), [&] { return arrived; });
    }
    std::mutex lock;
    std::condition_variable done;
    bool arrived = false;
    KRAMetaFieldResults results;
};

} // namespace

TEST_F(BatchMediaFilter, OggStreamTagsAndCoverArtAsTheCollectionSeesThem)
{
    owner->fileFilter->setFilterMeta(QStringLiteral("artist"), QSet<QString>{QStringLiteral("Ann")});
    EXPECT_EQ(Collect(), (std::vector<std::string>{dir.file("top/bob.ogg"), dir.file("top/cover.mp3"),
                                                   dir.file("top/square.mkv")}));

    // Leaving out 700x700 pictures leaves the sound file with its 700x700 cover.
    owner->fileFilter = std::make_shared<KRAFileFilter>();
    owner->fileFilter->setFilterMeta(QStringLiteral("Resolution"), QSet<QString>{QStringLiteral("700 x 700")});
    EXPECT_EQ(Collect(),
              (std::vector<std::string>{dir.file("top/ann.ogg"), dir.file("top/bob.ogg"), dir.file("top/cover.mp3")}));
    owner->fileFilter->setFilterMeta(QStringLiteral("Resolution"), QSet<QString>{});
    owner->fileFilter->setFilterMeta(QStringLiteral("Frame Rate"), QSet<QString>{QStringLiteral("90000")});
    EXPECT_EQ(Collect().size(), 4u);
}

TEST_F(BatchMediaFilter, TheFiltersDialogOffersNoValuesOfCoverArt)
{
    auto formats = std::make_shared<QKMediaFormatFilter>();
    formats->toggleAll(true);
    KRAMetaFieldCache cache([formats](const QString& path) { return formats->fileTypeOfPath(path).has_value(); },
                            KRABatchConverterProfile::metaFieldNames(), KRABatchConverterProfile::infoFieldNames());
    auto received = std::make_shared<Received>();
    ASSERT_FALSE(cache.fieldsForFolder(QFileUrl(dir.file("top")), received));
    ASSERT_TRUE(received->wait());
    EXPECT_EQ(received->results.value(QStringLiteral("Resolution")), QSet<QString>{QStringLiteral("700 x 700")});
    EXPECT_EQ(received->results.value(QStringLiteral("Frame Rate")), QSet<QString>{QStringLiteral("25")});
    EXPECT_TRUE(received->results.value(QStringLiteral("Sample Rate")).contains(QStringLiteral("44100")));
}
