// The user's file filter at its edges: letter case and undecodable names in the file types,
// the age limit at exactly one period and at counts reaching back to 1601, and field values
// with several values and the "album artist" fallback.
#include "batch/BatchTestSupport.h"
#include "batch/KRAFileFilter.h"
#include "media/QKMediaFileInfo.h"
#include "media/QKTag.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

QSet<QString> Set(std::initializer_list<const char*> texts)
{
    QSet<QString> set;
    for (const char* text : texts)
        set.insert(QString::fromUtf8(text));
    return set;
}

QKMediaFileInfoRef InfoWithTags(std::initializer_list<std::pair<const char*, const char*>> tags)
{
    auto tag = std::make_shared<QKMutableTag>();
    for (const auto& [name, value] : tags)
        tag->addTag(QString::fromUtf8(name), QString::fromUtf8(value));
    return QKMediaFileInfo::infoWithIDTag(tag, XStr::FromUTF8("/m/a.mp3"));
}

// The test run within one tick of the file-time clock (whole seconds), so that "now" inside
// the filter is the now the test computed with.
bool WithinOneTick(const std::function<bool(uint64_t now)>& test)
{
    for (;;) {
        const uint64_t now = QKMediaFileInfo::fileTimeNow();
        const bool result = test(now);
        if (QKMediaFileInfo::fileTimeNow() == now)
            return result;
    }
}

} // namespace

TEST(FileFilterLimits, FileTypesIgnoreLetterCase)
{
    KRAFileFilter filter;
    filter.setFilterMeta(QStringLiteral("File Types"), Set({".AVI", ".MKV"}));
    EXPECT_FALSE(filter.testJustURL(QFileUrl("/v/a.Avi")));
    EXPECT_FALSE(filter.testJustURL(QFileUrl("/v/b.mkv")));
    EXPECT_FALSE(filter.testJustURL(QFileUrl("/v/\xff\xfe.AVI"))); // a name that is not UTF-8
    EXPECT_TRUE(filter.testJustURL(QFileUrl("/v/\xff\xfe.mp4")));
    EXPECT_FALSE(filter.testJustURL(QFileUrl("/v/ends-in-a-dot.")));
    EXPECT_TRUE(filter.testJustURL(QFileUrl("/v.avi/a.mp4")));
}

TEST(FileFilterLimits, AgeLimitAtItsEdges)
{
    const uint64_t day = QKMediaFileInfo::fileTime1Second() * 86400ULL;
    const QUrl url = QFileUrl("/v/a.mkv");
    KRAFileFilter filter;
    filter.setFilterMeta(QStringLiteral("Date"), Set({"10 days"}));
    EXPECT_TRUE(WithinOneTick([&](uint64_t now) { return filter.testURL(url, nullptr, now - 10 * day); }));
    EXPECT_FALSE(WithinOneTick([&](uint64_t now) { return filter.testURL(url, nullptr, now - 10 * day - 1); }));

    // A long limit that still lies after 1601 is kept; counts reaching back further, and the
    // largest ones, set none rather than leaving out every file.
    filter.setFilterMeta(QStringLiteral("Date"), Set({"150000"}));
    EXPECT_FALSE(filter.testURL(url, nullptr, 1));
    for (const char* text : {"160000", "2147483647", "99999999999 days", "-2147483648"}) {
        filter.setFilterMeta(QStringLiteral("Date"), Set({text}));
        EXPECT_TRUE(filter.testURL(url, nullptr, 1)) << text;
    }
}

TEST(FileFilterLimits, FieldValues)
{
    const QUrl url = QFileUrl("/m/a.mp3");
    KRAFileFilter filter;
    filter.setFilterMeta(QStringLiteral("Genre"), Set({"Speech"}));
    EXPECT_FALSE(filter.testURL(url, InfoWithTags({{"GENRE", "Rock\rSpeech"}}).get()));
    EXPECT_TRUE(filter.testURL(url, InfoWithTags({{"genre", "Rock"}, {"artist", "Speech"}}).get()));
    EXPECT_TRUE(filter.testURL(url, nullptr));

    // "album artist" falls back on "artist" only when the file has no album artist.
    filter.setFilterMeta(QStringLiteral("Genre"), QSet<QString>());
    filter.setFilterMeta(QStringLiteral("Album Artist"), Set({"Band"}));
    EXPECT_FALSE(filter.testURL(url, InfoWithTags({{"artist", "Band"}}).get()));
    EXPECT_FALSE(filter.testURL(url, InfoWithTags({{"album artist", "Band"}}).get()));
    EXPECT_TRUE(filter.testURL(url, InfoWithTags({{"album artist", "Other"}, {"artist", "Band"}}).get()));
    EXPECT_TRUE(filter.testURL(url, InfoWithTags({{"title", "Band"}}).get()));
}
