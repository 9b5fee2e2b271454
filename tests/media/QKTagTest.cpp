#include <gtest/gtest.h>

#include "common/QtTestPrint.h"

#include "media/QKTag.h"

namespace {

QKMutableTagRef MakeTag(std::initializer_list<std::pair<const char*, const char*>> fields)
{
    auto tag = std::make_shared<QKMutableTag>();
    for (const auto& [name, value] : fields)
        tag->addTag(QString::fromUtf8(name), QString::fromUtf8(value));
    return tag;
}

TEST(QKTag, MultiValueFieldsAndTheirDisplayForm)
{
    EXPECT_EQ(QKTag::multiValToDisplay(QStringLiteral("a\rb\r\nc")), QStringLiteral("a; b; c"));
    EXPECT_EQ(QKTag::multiValFromDisplay(QStringLiteral("a; b;c")), QStringLiteral("a\rb\rc"));

    EXPECT_FALSE(QKTag::isFieldMultiVal(QStringLiteral("Comment")));
    EXPECT_FALSE(QKTag::isFieldMultiVal(QStringLiteral("unsynced LYRICS")));
    EXPECT_FALSE(QKTag::isFieldMultiVal(QStringLiteral("TITLE")));
    EXPECT_FALSE(QKTag::isFieldMultiVal(QStringLiteral("Album")));
    EXPECT_TRUE(QKTag::isFieldMultiVal(QStringLiteral("album artist")));
    EXPECT_TRUE(QKTag::isFieldMultiVal(QStringLiteral("genre")));

    const QKMutableTagRef tag = MakeTag({{"Genre", "Jazz\rBlues"}, {"title", "T"}});
    EXPECT_FALSE(tag->getTagStrings(QStringLiteral("missing")).has_value());
    EXPECT_EQ(*tag->getTagStrings(QStringLiteral("GENRE")),
              (QStringList{QStringLiteral("Jazz"), QStringLiteral("Blues")}));
    EXPECT_EQ(*tag->getTagStrings(QStringLiteral("title")), QStringList{QStringLiteral("T")});
    EXPECT_EQ(tag->getTagString(QStringLiteral("none"), QStringLiteral("dflt")), QStringLiteral("dflt"));
    EXPECT_FALSE(tag->getTagString(QStringLiteral("none")).has_value());
}

TEST(QKTag, CopiesAreIndependentAndKeepTheirClass)
{
    const QKMutableTagRef tag = MakeTag({{"title", "T"}});
    const QKTagRef copy = tag->copy();
    ASSERT_NE(std::dynamic_pointer_cast<QKMutableTag>(copy), nullptr);
    tag->setTagValue(QStringLiteral("changed"), QStringLiteral("title"));
    EXPECT_EQ(copy->getTagString(QStringLiteral("title")), QStringLiteral("T"));

    const QKTagRef plain = QKTag::tagWithTag(tag.get());
    EXPECT_EQ(std::dynamic_pointer_cast<QKMutableTag>(plain->copy()), nullptr);
    EXPECT_EQ(QKTag::tagWithTag(nullptr)->tagCount(), 0);

    NTag raw;
    raw.AddTag(L"a", L"b");
    const QKTagRef wrapped = QKTag::wrapNTag(&raw);
    raw.Clear();
    EXPECT_EQ(wrapped->tagCount(), 1);
}

TEST(QKTag, UndecodableFileNameBytesSurviveTheQtSide)
{
    NTag raw;
    raw.AddTag(L"file", L"name\xDC85.mkv");
    const QKTagRef wrapped = QKTag::wrapNTag(&raw);
    const QString value = *wrapped->getTagString(QStringLiteral("FILE"));
    QKMutableTag copy;
    copy.addTag(QStringLiteral("file"), value);
    EXPECT_EQ(std::wstring(copy.tag()->GetValue(L"file").View()), std::wstring(L"name\xDC85.mkv"));
}

TEST(QKTag, RawDataAndElementAccess)
{
    const QKMutableTagRef tag = MakeTag({{"title", "T"}});
    tag->addTagData(QStringLiteral("_albumart_1_Front"), QByteArray("\x89PNG", 4));
    tag->setTagValue(QStringLiteral("v"), int64_t{1}); // data dropped, value set
    tag->setTagData(QByteArray("xyz"), int64_t{0});    // value dropped, data set
    EXPECT_EQ(tag->tagValueAt(0), QString());
    EXPECT_EQ(tag->tagDataAt(0), QByteArray("xyz"));
    EXPECT_EQ(tag->tagValueAt(1), QStringLiteral("v"));
    EXPECT_TRUE(tag->tagDataAt(1).isEmpty());
    EXPECT_TRUE(tag->isTagBinary(1));
    EXPECT_FALSE(tag->isTagBinary(0));
    EXPECT_EQ(tag->tagNameAt(7), QString());
    EXPECT_EQ(tag->elemNameSet(), (QSet<QString>{QStringLiteral("title"), QStringLiteral("_albumart_1_front")}));

    const QByteArray raw = tag->toRawData();
    const QKTagRef back = QKTag::initWithRawData(raw);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->toRawData(), raw);
    EXPECT_EQ(QKTag::initWithRawData(raw.left(raw.size() - 1)), nullptr);

    QKMutableTag replaced;
    replaced.addTag(QStringLiteral("old"), QStringLiteral("x"));
    EXPECT_TRUE(replaced.fromRawData(raw));
    EXPECT_EQ(replaced.tagCount(), 2);
    EXPECT_FALSE(replaced.fromRawData(raw.left(5)));
}

TEST(QKTag, SubsetsAndCombinedTag)
{
    const QKMutableTagRef tag = MakeTag({{"title", "T"}, {"_crc", "1"}});
    tag->addTag(QStringLiteral("_albumart_1_Front"), "art", 3);
    EXPECT_EQ(tag->subsetTextOnly()->tagCount(), 1);
    const QKTagRef art = tag->subsetAlbumArtOnly();
    ASSERT_EQ(art->tagCount(), 1);
    EXPECT_TRUE(QKTag::elemIsAlbumArt(art->tagNameAt(0)));

    const QKMutableTagRef other = MakeTag({{"title", "Other"}, {"artist", "A"}});
    const QKTagRef combined = tag->tagCombinedWith(other.get());
    EXPECT_EQ(combined->getTagString(QStringLiteral("title")), QStringLiteral("T"));
    EXPECT_EQ(combined->getTagString(QStringLiteral("artist")), QStringLiteral("A"));
    EXPECT_EQ(tag->getTagString(QStringLiteral("artist")), std::nullopt);

    EXPECT_EQ(QKTag::unknownValFor(QStringLiteral("ARTIST")), QStringLiteral("unknown artist"));
    EXPECT_EQ(QKTag::unknownValFor(QStringLiteral("genre")), std::nullopt);
}

TEST(QKTag, CombineTagsMarksFieldsThatDiffer)
{
    EXPECT_EQ(QKTag::combineTags({}), nullptr);
    const QKMutableTagRef first = MakeTag({{"Title", "Same"}, {"artist", "One"}, {"year", "2001"}});
    EXPECT_EQ(QKTag::combineTags({first}), first);

    const QKMutableTagRef second = MakeTag({{"title", "Same"}, {"ARTIST", "Two"}, {"genre", "Rock"}});
    const QKTagRef combined = QKTag::combineTags({first, second});
    ASSERT_NE(combined, first);
    EXPECT_EQ(combined->getTagString(QStringLiteral("title")), QStringLiteral("Same"));
    EXPECT_EQ(combined->getTagString(QStringLiteral("artist")), QStringLiteral("<different>"));
    EXPECT_EQ(combined->getTagString(QStringLiteral("genre")), QStringLiteral("<different>"));
    EXPECT_EQ(combined->getTagString(QStringLiteral("year")), QStringLiteral("<different>"));
    EXPECT_EQ(first->getTagString(QStringLiteral("artist")), QStringLiteral("One"));

    const QKMutableTagRef withArt = MakeTag({{"Title", "Same"}});
    withArt->addTag(QStringLiteral("pic"), "a", 1);
    const QKMutableTagRef otherArt = MakeTag({{"Title", "Same"}});
    otherArt->addTag(QStringLiteral("pic"), "b", 1);
    const QKTagRef arts = QKTag::combineTags({withArt, otherArt}, QStringLiteral("*"));
    EXPECT_EQ(arts->getTagString(QStringLiteral("pic")), QStringLiteral("*"));
    EXPECT_TRUE(arts->tagDataAt(1).isEmpty());
    EXPECT_EQ(arts->getTagString(QStringLiteral("title")), QStringLiteral("Same"));
}

} // namespace
