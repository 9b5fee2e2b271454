// The image object and its byte streams: sizes and their bounds, settings, ownership between
// an image, its ghosts and its frames, the memory dump.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "image/ImageTestUtil.h"
#include "image/PxFile.h"
#include "image/PxImage.h"

TEST(PxMemFile, GrowsInWholeStepsAndReadsShort)
{
    PxMemFile f;
    ASSERT_TRUE(f.Open());
    EXPECT_FALSE(f.Open()) << "a second open while a buffer is held";
    EXPECT_EQ(f.Size(), 0);
    EXPECT_EQ(f.Capacity(), 0);
    for (int i = 0; i < 65536; ++i)
        ASSERT_TRUE(f.PutC(uint8_t(i)));
    EXPECT_EQ(f.Capacity(), 65536);
    ASSERT_TRUE(f.PutC(1));
    EXPECT_EQ(f.Capacity(), 131072);
    EXPECT_EQ(f.Size(), 65537);

    ASSERT_TRUE(f.Seek(-10, 0));
    EXPECT_EQ(f.Tell(), 0);
    ASSERT_TRUE(f.Seek(-10, 2));
    uint8_t items[12];
    EXPECT_EQ(f.Read(items, 4, 3), 2u) << "10 bytes left make two whole items";
    EXPECT_TRUE(f.Eof());
    ASSERT_TRUE(f.Seek(100, 2));
    EXPECT_EQ(f.Error(), 1);
    EXPECT_EQ(f.Read(items, 1, 1), 0u);
    EXPECT_FALSE(f.Seek(0, 7));
}

TEST(PxMemFile, CallerBufferIsReadInPlaceAndNeverWrittenPastItsEnd)
{
    uint8_t caller[2] = {'a', 'b'};
    PxMemFile f(caller, 2);
    char line[8];
    EXPECT_EQ(f.GetS(line, 8), nullptr) << "no line feed before the end";
    f.Seek(0, 0);
    EXPECT_EQ(f.GetC(), 'a');
    f.Seek(0, 2);
    ASSERT_EQ(f.Write("xyz", 1, 3), 3u);
    EXPECT_EQ(caller[0], 'a');
    EXPECT_EQ(caller[1], 'b');
    uint8_t* own = f.GetBuffer(false);
    EXPECT_NE(own, caller);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(own), 5), "abxyz");

    PxMemFile empty;
    EXPECT_EQ(empty.Tell(), -1);
    EXPECT_EQ(empty.Size(), -1);
    EXPECT_EQ(empty.Write("x", 1, 1), 0u);
}

TEST(PxMemFile, GapAfterASeekPastTheEndReadsAsZeros)
{
    // Heap memory that held other bytes is what a growing buffer is likely to be given.
    for (const size_t size : {size_t(65536), size_t(131072), size_t(4096)}) {
        std::vector<uint8_t*> used;
        for (int i = 0; i < 4; ++i) {
            used.push_back(static_cast<uint8_t*>(malloc(size)));
            memset(used.back(), 0xA5, size);
        }
        for (uint8_t* p : used)
            free(p);
        PxMemFile f;
        ASSERT_TRUE(f.Open());
        ASSERT_EQ(f.Write("abc", 1, 3), 3u);
        ASSERT_TRUE(f.Seek(int32_t(size) - 1000, 0));
        ASSERT_EQ(f.Write("x", 1, 1), 1u);
        ASSERT_TRUE(f.Seek(int32_t(size) + 500, 0));
        ASSERT_TRUE(f.PutC('y'));
        ASSERT_EQ(f.Size(), int32_t(size) + 501);
        const uint8_t* data = f.GetBuffer(false);
        size_t nonZero = 0;
        for (size_t i = 3; i < size - 1000; ++i)
            nonZero += data[i] != 0;
        for (size_t i = size - 999; i < size + 500; ++i)
            nonZero += data[i] != 0;
        EXPECT_EQ(nonZero, 0u) << "gap bytes that were never written";
        EXPECT_EQ(data[size - 1000], 'x');
        EXPECT_EQ(data[size + 500], 'y');
    }
    // Over a caller's buffer too, once the data moves to a buffer of the stream's own.
    uint8_t caller[4] = {'a', 'b', 'c', 'd'};
    PxMemFile f(caller, 4);
    ASSERT_TRUE(f.Seek(40, 0));
    ASSERT_EQ(f.Write("z", 1, 1), 1u);
    const uint8_t* data = f.GetBuffer(false);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 4), "abcd");
    for (int i = 4; i < 40; ++i)
        EXPECT_EQ(data[i], 0) << i;
}

TEST(PxIOFile, LeavesTheCallersStreamOpen)
{
    FILE* stream = tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        PxIOFile f(stream);
        EXPECT_EQ(f.Write("hello", 1, 5), 5u);
        EXPECT_EQ(f.Size(), 5);
        EXPECT_EQ(f.Tell(), 5) << "Size must put the position back";
    }
    EXPECT_EQ(fputc('!', stream), '!') << "the stream was closed by the wrapper";
    fclose(stream);
    PxIOFile none;
    EXPECT_EQ(none.Size(), -1);
    EXPECT_TRUE(none.Eof());
}

TEST(PxImageCreate, RefusesBadSizesAndBoundsTheBlock)
{
    PxImage image;
    EXPECT_EQ(image.Create(0, 10, 24), nullptr);
    EXPECT_STREQ(image.GetLastError(), "PxImage::Create : width and height must be greater than zero");
    EXPECT_EQ(image.Create(10, INT_MIN, 24), nullptr);
    EXPECT_EQ(image.Create(-5, 3, 8), nullptr);
    EXPECT_EQ(image.Create(16384, 16384, 24), nullptr);
    EXPECT_STREQ(image.GetLastError(), "PXIMAGE_MAX_MEMORY exceeded");
    // One bit a pixel but a padded row of 4 bytes each: the real block is what counts.
    EXPECT_EQ(image.Create(1, 100000000, 1), nullptr);
    EXPECT_EQ(image.Create(INT_MAX, INT_MAX, 1), nullptr);
    EXPECT_NE(image.Create(8192, 8192, 32), nullptr);
    EXPECT_EQ(image.GetBpp(), 24u);
}

TEST(PxImageCreate, LayoutAndDefaults)
{
    PxImage image(3, 1, 24);
    EXPECT_EQ(image.GetRowSize(), 12u);
    image.Create(1, 1, 1);
    EXPECT_EQ(image.GetRowSize(), 4u);
    EXPECT_EQ(image.GetNumColors(), 2u);
    EXPECT_EQ(image.GetBlockSize(), 52u);
    const std::pair<uint32_t, uint32_t> depths[] = {{2, 4}, {5, 8}, {8, 8}, {16, 24}, {32, 24}, {0, 1}};
    for (auto [asked, made] : depths) {
        ASSERT_NE(image.Create(9, 7, asked), nullptr);
        EXPECT_EQ(image.GetBpp(), made) << asked;
        const uint8_t* bits = image.GetRow(0);
        for (uint32_t i = 0; i < image.GetRowSize() * 7; ++i)
            ASSERT_EQ(bits[i], 0) << "a new image starts zero-filled";
    }
    EXPECT_EQ(image.GetRow(7), nullptr);
    EXPECT_EQ(image.GetRow(-1), nullptr);

    PxImage fresh;
    EXPECT_EQ(fresh.GetQuality(), 90);
    EXPECT_EQ(fresh.GetXDpi(), 96);
    EXPECT_EQ(fresh.GetHeader().xPelsPerMeter, 3780);
    EXPECT_EQ(fresh.GetTransparentIndex(), -1);
    fresh.SetXDpi(0);
    EXPECT_EQ(fresh.GetXDpi(), 96);
    fresh.SetQualityF(-5);
    EXPECT_EQ(fresh.GetQualityF(), 0.0f);
    fresh.SetQualityF(84.6f);
    EXPECT_EQ(fresh.GetQuality(), 85);
    fresh.SetQualityF(1e9f);
    EXPECT_EQ(fresh.GetQuality(), 255);
    EXPECT_FALSE(fresh.SetType(21));
    EXPECT_EQ(fresh.GetType(), 0u);
    ASSERT_TRUE(fresh.SetType(PXIMAGE_FORMAT_PNG));
    fresh.SetCodecOption(7, 21);
    EXPECT_EQ(fresh.GetCodecOption(PXIMAGE_FORMAT_PNG), 7u) << "WebP's option lands in the image's own slot";
    EXPECT_EQ(PxImage::GetTypeIdFromIndex(6), 7u);
    EXPECT_EQ(PxImage::GetTypeIndexFromId(18), 10u);
}

TEST(PxImageOwnership, TransferGhostsAndFramesStayConsistent)
{
    PxImage source(4, 4, 8);
    source.Clear(9);
    source.AlphaCreate();
    PxImage target(2, 2, 24);
    PxImage* frames[2] = {new PxImage(1, 1, 24), new PxImage(1, 1, 24)};
    ASSERT_TRUE(target.SetFrames(frames, 2));

    ASSERT_TRUE(target.Transfer(source, false));
    EXPECT_FALSE(source.IsValid());
    EXPECT_FALSE(source.AlphaIsValid());
    EXPECT_EQ(target.GetWidth(), 4);
    EXPECT_EQ(target.GetFrameCount(), 2) << "kept frames are still counted";
    EXPECT_NE(target.GetFrameImage(-1), nullptr);

    PxImage copy(target, true);
    EXPECT_EQ(copy.GetFrameCount(), 0) << "a copy holds no frames, so it counts none";
    EXPECT_EQ(copy.GetPixelIndex(3, 3), 9);
    EXPECT_TRUE(copy.AlphaIsValid());

    {
        PxImage ghost;
        ghost.MakeGhostOf(&copy);
        EXPECT_TRUE(ghost.IsGhost());
        EXPECT_EQ(ghost.Create(5, 5, 24), nullptr) << "a ghost never replaces storage it does not own";
        EXPECT_FALSE(ghost.FreeImageData());
        PxImage other(3, 3, 24);
        EXPECT_FALSE(other.Transfer(ghost)) << "taking a ghost's storage would free it twice";
        EXPECT_TRUE(other.IsValid());
    }
    EXPECT_EQ(copy.GetPixelIndex(1, 1), 9) << "the ghost's end left the storage alone";

    PxImage moved(1, 1, 24);
    ASSERT_TRUE(moved.Transfer(target, true));
    EXPECT_EQ(moved.GetFrameCount(), 2);
    EXPECT_EQ(target.GetFrameCount(), 0);
}

TEST(PxImageScale, ReductionFactor)
{
    PxImage image;
    image.SetRequestedSize(250, 200);
    image.ComputeScale(1000, 800);
    EXPECT_EQ(image.GetScale(), 4);
    image.SetRequestedSize(300, 200);
    image.ComputeScale(1000, 800);
    EXPECT_EQ(image.GetScale(), 1);
    image.SetRequestedSize(100, 100);
    image.ComputeScale(1600, 1600);
    EXPECT_EQ(image.GetScale(), 16);
}

TEST(PxImageImport, RawArraysAndBitFields)
{
    const uint8_t rgba[2 * 2 * 4] = {1, 2, 3, 10, 4, 5, 6, 20, 7, 8, 9, 30, 11, 12, 13, 40};
    PxImage image;
    EXPECT_FALSE(image.CreateFromArray(rgba, 2, 2, 16, 8, false));
    ASSERT_TRUE(image.CreateFromArray(rgba, 2, 2, 32, 8, true));
    EXPECT_EQ(image.AlphaGet(0, 1), 10) << "the first source row lands on top when flipped";
    EXPECT_EQ(image.GetPixelColor(1, 0).red, 13);

    // 5-6-5 words unpacked in place: every channel keeps its exact bits.
    PxImage wide(3, 1, 24);
    const uint16_t words[3] = {0xF800, 0x07E0, 0x001F};
    memcpy(wide.GetRow(0), words, sizeof words);
    ASSERT_TRUE(wide.UnpackBitfields(nullptr, 0xF800, 0x07E0, 0x001F, 16));
    EXPECT_EQ(wide.GetPixelColor(0, 0).red, 0xF8);
    EXPECT_EQ(wide.GetPixelColor(1, 0).green, 0xFC);
    EXPECT_EQ(wide.GetPixelColor(2, 0).blue, 0xF8);
    EXPECT_EQ(wide.GetPixelColor(0, 0).green, 0);
}

TEST(PxImageDump, RoundTripsPixelsPlanesAndFrames)
{
    PxImage image(5, 3, 8);
    image.SetGrayPalette();
    for (int x = 0; x < 5; ++x)
        image.SetPixelIndex(x, 1, uint8_t(40 * x));
    image.AlphaCreate();
    image.AlphaSet(2, 2, 7);
    image.SelectionAddPixel(4, 0);
    PxImage* frame[1] = {new PxImage(2, 2, 24)};
    image.SetFrames(frame, 1);
    std::vector<uint8_t> buffer(image.GetDumpSize());
    ASSERT_GT(image.Dump(buffer.data()), 0u);
    PxImage back;
    EXPECT_GT(back.UnDump(buffer.data(), buffer.size()), 0u);
    image.SetFrames(nullptr, 0);
    back.SetFrames(nullptr, 0);
    EXPECT_EQ(ImageFingerprint(back), ImageFingerprint(image));
    EXPECT_EQ(back.UnDump(buffer.data(), 100), 0u) << "a cut dump is refused";
}
