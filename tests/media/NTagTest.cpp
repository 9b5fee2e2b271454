#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "media/NTag.h"
#include "xclass/XCRC32.h"

namespace {

std::wstring W(const XStr& text)
{
    return std::wstring(text.View());
}

std::vector<uint8_t> Raw(const NTag& tag)
{
    XBuffer buffer;
    EXPECT_TRUE(tag.ToRawData(buffer));
    std::vector<uint8_t> bytes(buffer.Data, buffer.Data + buffer.Used);
    buffer.Free();
    return bytes;
}

std::vector<std::wstring> Names(const NTag& tag)
{
    std::vector<std::wstring> names;
    for (int64_t i = 0; i < tag.Count(); ++i)
        names.push_back(W(tag.TagAt(i)->Name));
    return names;
}

void AddLE32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AddArt(NTag& tag, int number, const wchar_t* type, const std::string& bytes, const wchar_t* description = L"")
{
    tag.AddTagData(NTag::MakeAlbumArtName(number, type, description).p, bytes.data(), bytes.size());
}

TEST(NTag, ElementsAreFoundByNameIgnoringCaseOfLatinLettersOnly)
{
    NTag tag;
    tag.AddTag(L"Title", L"One");
    tag.AddTag(L"title", L"Two");
    tag.AddTag(L"ÄRTIST", L"x");
    EXPECT_EQ(W(tag.GetValue(L"TITLE")), L"One");
    EXPECT_EQ(tag.FindTag(L"ärtist"), nullptr);
    EXPECT_EQ(W(tag.GetValue(L"missing")), L"");

    tag.SetValue(L"TITLE", L"Three");
    EXPECT_EQ(W(tag.TagAt(0)->Value), L"Three");
    EXPECT_EQ(W(tag.TagAt(1)->Value), L"Two");
    tag.SetValue(L"genre", L"Jazz");
    EXPECT_EQ(tag.Count(), 4);
    EXPECT_EQ(W(tag.TagAt(3)->Name), L"genre");

    EXPECT_TRUE(tag.RemoveTag(L"title"));
    EXPECT_FALSE(tag.RemoveTag(L"title"));
    EXPECT_EQ(Names(tag), (std::vector<std::wstring>{L"ÄRTIST", L"genre"}));
}

TEST(NTag, TakeTagRemovesEveryElementOfTheNameOrOnePicture)
{
    NTag tag;
    tag.AddTag(L"artist", L"A");
    tag.AddTag(L"album", L"B");
    tag.AddTag(L"Artist", L"C");
    EXPECT_EQ(W(tag.TakeTag(L"ARTIST")), L"A");
    EXPECT_EQ(Names(tag), (std::vector<std::wstring>{L"album"}));
    EXPECT_EQ(W(tag.TakeTag(L"nothing")), L"");

    AddArt(tag, 1, L"Front", "one");
    AddArt(tag, 10, L"Back", "ten");
    AddArt(tag, 1, L"Back", "again");
    // The picture number ends at the "_": taking picture 1 leaves picture 10 alone.
    EXPECT_EQ(W(tag.TakeTag(L"_albumart_1_whatever")), L"");
    EXPECT_EQ(Names(tag), (std::vector<std::wstring>{L"album", L"_albumart_10_Back", L"_albumart_1_Back"}));
}

TEST(NTag, AlbumArtNamesCarryTypeAndDescription)
{
    EXPECT_EQ(W(NTag::MakeAlbumArtName(2, L"Front", L"")), L"_albumart_2_Front");
    EXPECT_EQ(W(NTag::MakeAlbumArtName(3, L"Back", L"scan")), L"_albumart_3_Back<subdesc>scan");

    NTag tag;
    AddArt(tag, 10, L"Ten", "x");
    AddArt(tag, 1, L"Cover", "y", L"the <b> side");
    tag.AddTagData(L"_ALBUMART_2", "z", 1);
    XStr type, description;
    const STInternalTag* one = tag.GetAlbumArt(1, &type, &description);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(W(one->Name), L"_albumart_1_Cover<subdesc>the <b> side");
    EXPECT_EQ(W(type), L"Cover");
    EXPECT_EQ(W(description), L"the <b> side");
    ASSERT_NE(tag.GetAlbumArt(2, &type, &description), nullptr);
    EXPECT_EQ(W(type), L"");
    EXPECT_EQ(W(description), L"");
    EXPECT_EQ(tag.GetAlbumArt(3), nullptr);
}

TEST(NTag, RemoveInternalTagsKeepsWhatTheFlagsProtect)
{
    NTag tag;
    tag.AddTag(L"title", L"t");
    tag.AddTag(L"_crc", L"1");
    tag.AddTag(L"_crcx", L"2");
    tag.AddTag(L"_RIFF_info", L"3");
    tag.AddTag(L"_cdindex", L"4");
    AddArt(tag, 1, L"Front", "art");
    tag.AddTag(L"", L"nameless");

    NTag all(tag);
    all.RemoveInternalTags(0);
    EXPECT_EQ(Names(all), (std::vector<std::wstring>{L"title", L""}));

    NTag crc(tag);
    crc.RemoveInternalTags(0x10);
    EXPECT_EQ(Names(crc), (std::vector<std::wstring>{L"title", L"_crc", L""}));

    NTag most(tag);
    most.RemoveInternalTags(2 | 4 | 8 | 0x10 | 0x100);
    EXPECT_EQ(Names(most),
              (std::vector<std::wstring>{L"title", L"_crc", L"_RIFF_info", L"_cdindex", L"_albumart_1_Front", L""}));

    tag.RemoveDataTags();
    EXPECT_EQ(tag.GetAlbumArt(1), nullptr);
    EXPECT_EQ(tag.Count(), 6);
}

TEST(NTag, MergeAddsMissingFieldsAndOverwritesOnlyWhenAsked)
{
    NTag mine;
    mine.AddTag(L"title", L"Mine");
    mine.AddTag(L"_riff_x", L"keep");
    NTag other;
    other.AddTag(L"TITLE", L"Theirs");
    other.AddTag(L"artist", L"Them");
    other.AddTag(L"_private", L"goes");
    other.AddTag(L"_crc", L"stays");

    NTag kept(mine);
    kept.Merge(other, false);
    EXPECT_EQ(Names(kept), (std::vector<std::wstring>{L"title", L"_riff_x", L"artist", L"_crc"}));
    EXPECT_EQ(W(kept.GetValue(L"title")), L"Mine");

    NTag replaced(mine);
    replaced.Merge(other, true);
    EXPECT_EQ(W(replaced.TagAt(0)->Name), L"TITLE");
    EXPECT_EQ(W(replaced.GetValue(L"title")), L"Theirs");
}

TEST(NTag, MergePoolsDistinctPicturesInOrder)
{
    NTag mine;
    AddArt(mine, 1, L"Front", "AAA");
    AddArt(mine, 3, L"Back", "CCC"); // after a gap: not collected
    NTag other;
    AddArt(other, 1, L"Front", "AAA"); // the same picture
    AddArt(other, 2, L"Back", "AAA");  // same bytes, other type
    AddArt(other, 3, L"Front", "BBB", L"d");

    mine.Merge(other, false);
    EXPECT_EQ(Names(mine),
              (std::vector<std::wstring>{L"_albumart_1_Front", L"_albumart_2_Back", L"_albumart_3_Front<subdesc>d"}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(mine.TagAt(2)->Data.Data), mine.TagAt(2)->Data.Size), "BBB");

    // Merging a container into itself keeps every picture once.
    NTag self(mine);
    self.AddTag(L"title", L"t");
    self.Merge(self, false);
    EXPECT_EQ(Names(self), (std::vector<std::wstring>{L"title", L"_albumart_1_Front", L"_albumart_2_Back",
                                                      L"_albumart_3_Front<subdesc>d"}));
}

TEST(NTag, NumberPairsAreShownWithTwoDigits)
{
    NTag tag;
    tag.AddTag(L"track", L"3/7");
    tag.AddTag(L"disc", L" 12");
    tag.AddTag(L"none", L"0/5");
    tag.AddTag(L"spaced", L"4 /  12 ");
    EXPECT_EQ(W(tag.GetNumberPairDisplay(L"track")), L"03/07");
    EXPECT_EQ(W(tag.GetNumberPairDisplay(L"disc")), L"12");
    EXPECT_EQ(W(tag.GetNumberPairDisplay(L"none")), L"");
    EXPECT_EQ(W(tag.GetNumberPairDisplay(L"missing")), L"");
    EXPECT_EQ(W(tag.GetNumberPairDisplay(L"spaced")), L"04/12");
}

TEST(NTag, DumpShowsValuesAndTheStartOfData)
{
    NTag tag;
    tag.AddTag(L"title", L"T");
    const uint8_t bytes[] = {0x00, 0xAB, 0x1F};
    tag.AddTagData(L"_albumart_1_", bytes, sizeof bytes);
    EXPECT_EQ(W(tag.Dump()), L"title: T\r\n_albumart_1_:   [DATA] 00 AB 1F");
    std::string big(300, 'x');
    NTag large;
    large.AddTagData(L"d", big.data(), big.size());
    EXPECT_EQ(W(large.Dump()).size(), std::wstring(L"d:   [DATA]").size() + 100 * 3);
}

TEST(NTagRawData, LayoutIsCountThenLengthPrefixedUtf16Elements)
{
    NTag empty;
    EXPECT_EQ(Raw(empty), (std::vector<uint8_t>{0, 0, 0, 0}));

    NTag tag;
    tag.AddTagData(L"ab", "\x01\x02", 2);
    tag.AddTag(L"c", L"d");
    std::vector<uint8_t> expected;
    AddLE32(expected, 2);
    AddLE32(expected, 4 + 6 + 2 + 2);
    expected.insert(expected.end(), {'a', 0, 'b', 0, 0, 0, 0, 0, 1, 2});
    AddLE32(expected, 4 + 4 + 4);
    expected.insert(expected.end(), {'c', 0, 0, 0, 'd', 0, 0, 0});
    EXPECT_EQ(Raw(tag), expected);
}

TEST(NTagRawData, RoundTripKeepsNamesValuesDataAndOrder)
{
    NTag tag;
    tag.AddTag(L"title", L"Ünïcode \U0001F600 and a lossless byte \xDC85");
    tag.AddTag(L"title", L"second");
    tag.AddTag(L"", L"");
    std::string art(5000, '\0');
    for (size_t i = 0; i < art.size(); ++i)
        art[i] = static_cast<char>(i * 7);
    AddArt(tag, 1, L"Front", art, L"desc");

    const std::vector<uint8_t> raw = Raw(tag);
    NTag back;
    ASSERT_TRUE(back.FromRawData(raw.data(), raw.size()));
    ASSERT_EQ(back.Count(), tag.Count());
    for (int64_t i = 0; i < tag.Count(); ++i) {
        EXPECT_EQ(W(back.TagAt(i)->Name), W(tag.TagAt(i)->Name));
        EXPECT_EQ(W(back.TagAt(i)->Value), W(tag.TagAt(i)->Value));
        EXPECT_TRUE(back.TagAt(i)->Data.IsEqual(tag.TagAt(i)->Data));
    }
    EXPECT_EQ(Raw(back), raw);

    // No bytes at all read as an empty container.
    EXPECT_TRUE(back.FromRawData(nullptr, 0));
    EXPECT_EQ(back.Count(), 0);
}

TEST(NTagRawData, DamagedDataFailsCleanlyAndKeepsTheCompleteElements)
{
    NTag tag;
    tag.AddTag(L"first", L"1");
    tag.AddTagData(L"second", "data", 4);
    tag.AddTag(L"third", L"3");
    const std::vector<uint8_t> raw = Raw(tag);

    // Every cut-off: a failure, never a read past the end (the sanitizer build watches).
    for (size_t n = 1; n < raw.size(); ++n) {
        std::vector<uint8_t> cut(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(n));
        NTag back;
        EXPECT_FALSE(back.FromRawData(cut.data(), cut.size())) << n;
        EXPECT_LE(back.Count(), 3);
    }

    // The first element's length beyond the buffer: nothing read.
    std::vector<uint8_t> tooLong = raw;
    tooLong[4] = 0xFF;
    tooLong[5] = 0xFF;
    NTag back;
    EXPECT_FALSE(back.FromRawData(tooLong.data(), tooLong.size()));
    EXPECT_EQ(back.Count(), 0);

    // Element lengths of 0 to 3 (and negative) cannot hold their own length field.
    for (const uint32_t length : {0u, 1u, 2u, 3u, 0x80000000u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bad;
        AddLE32(bad, 0x7FFFFFFF);
        for (int i = 0; i < 100; ++i)
            AddLE32(bad, length);
        EXPECT_FALSE(back.FromRawData(bad.data(), bad.size())) << length;
        EXPECT_EQ(back.Count(), 0);
    }

    // More elements counted than there are: the real ones are kept.
    std::vector<uint8_t> overCounted = raw;
    overCounted[0] = 4;
    EXPECT_FALSE(back.FromRawData(overCounted.data(), overCounted.size()));
    EXPECT_EQ(Names(back), (std::vector<std::wstring>{L"first", L"second", L"third"}));

    std::vector<uint8_t> negative = raw;
    negative[3] = 0x80;
    EXPECT_FALSE(back.FromRawData(negative.data(), negative.size()));

    // A value without its terminating 0 unit inside the element's length.
    std::vector<uint8_t> unterminated;
    AddLE32(unterminated, 1);
    AddLE32(unterminated, 4 + 4 + 2);
    unterminated.insert(unterminated.end(), {'n', 0, 0, 0, 'v', 0});
    EXPECT_FALSE(back.FromRawData(unterminated.data(), unterminated.size()));

    // Bytes after the counted elements are not part of the tag.
    std::vector<uint8_t> padded = raw;
    padded.insert(padded.end(), 8, 0);
    EXPECT_TRUE(back.FromRawData(padded.data(), padded.size()));
    EXPECT_EQ(Raw(back), raw);
}

// Random and mutated inputs: reading never crashes, hangs or reads past the end, and
// whatever reads cleanly writes back to data that reads to the same thing.
TEST(NTagRawData, FuzzedInputIsReadSafely)
{
    std::mt19937 random(20240607u);
    NTag seedTag;
    seedTag.AddTag(L"title", L"Some title");
    seedTag.AddTag(L"artist", L"\U0001F3B5 someone");
    AddArt(seedTag, 1, L"Front", std::string(40, 'p'));
    seedTag.AddTag(L"_crc", L"12345678");
    const std::vector<uint8_t> seed = Raw(seedTag);

    int cleanReads = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> input;
        if (round % 2 == 0) {
            input.resize(random() % 96);
            for (uint8_t& b : input)
                b = static_cast<uint8_t>(random());
            if (input.size() >= 4 && random() % 2) // a plausible count
                input[0] = static_cast<uint8_t>(random() % 4), input[1] = input[2] = input[3] = 0;
        } else {
            input = seed;
            const int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const size_t at = random() % input.size();
                switch (random() % 4) {
                case 0:
                    input[at] = static_cast<uint8_t>(random());
                    break;
                case 1:
                    input.resize(at);
                    break;
                case 2:
                    input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random()));
                    break;
                default:
                    input.erase(input.begin() + static_cast<std::ptrdiff_t>(at));
                    break;
                }
                if (input.empty())
                    break;
            }
        }
        // A copy of exactly the input's size, so that any read beyond it is caught.
        std::vector<uint8_t> exact(input);
        NTag tag;
        const bool ok = tag.FromRawData(exact.empty() ? nullptr : exact.data(), exact.size());
        if (!ok)
            continue;
        ++cleanReads;
        const std::vector<uint8_t> again = Raw(tag);
        NTag second;
        ASSERT_TRUE(second.FromRawData(again.data(), again.size()));
        ASSERT_EQ(Raw(second), again);
    }
    EXPECT_GT(cleanReads, 0);
}

TEST(XCRC32, MatchesTheStandardCheckValue)
{
    EXPECT_EQ(XCRC32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(XCRC32(nullptr, 0), 0u);
    EXPECT_EQ(XCRC32("6789", 4, XCRC32("12345", 5)), 0xCBF43926u);
}

} // namespace
