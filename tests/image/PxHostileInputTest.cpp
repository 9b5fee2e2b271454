// Tiny files that ask for gigabytes or minutes: each is made here, decoded in a child process
// under an address-space and CPU-time limit, and must end quickly with a clear refusal (or a
// picture) within the memory the library allows itself.
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "image/BoundedChild.h"
#include "image/ImageTestUtil.h"
#include "image/PxImage.h"
#include "image/PxImageGIF.h"

namespace {

// Limits far above what a bounded decode needs and far below what the bombs took before.
constexpr size_t kAddressSpace = size_t(1) << 30;
constexpr unsigned kCpuSeconds = 20;
// A refusal holds almost nothing; a decode holds its picture and working buffers.
constexpr long kRefusalKiB = 64 * 1024;
constexpr long kDecodeKiB = 400 * 1024;

void PutBe16(std::string& s, size_t at, uint32_t v)
{
    s[at] = char(v >> 8);
    s[at + 1] = char(v);
}

// Where the marker (0xFF, code) first stands, or npos.
size_t FindMarker(const std::string& jpeg, uint8_t code)
{
    for (size_t i = 2; i + 3 < jpeg.size();) {
        if (uint8_t(jpeg[i]) != 0xFF)
            return std::string::npos;
        const uint8_t at = uint8_t(jpeg[i + 1]);
        if (at == code)
            return i;
        i += 2 + ((uint8_t(jpeg[i + 2]) << 8) | uint8_t(jpeg[i + 3]));
    }
    return std::string::npos;
}

// An 8 x 8 progressive grey JPEG of our own encoder whose frame header then claims the size.
std::string ProgressiveGreyJpeg(uint32_t width, uint32_t height)
{
    PxImage grey(8, 8, 8);
    grey.SetGrayPalette();
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            grey.SetPixelIndex(x, y, uint8_t(x * 30 + y));
    grey.SetCodecOption(0x10, PXIMAGE_FORMAT_JPG);
    std::string jpeg = EncodeBytes(grey, PXIMAGE_FORMAT_JPG);
    const size_t frame = FindMarker(jpeg, 0xC2);
    if (frame == std::string::npos)
        return std::string();
    PutBe16(jpeg, frame + 5, height);
    PutBe16(jpeg, frame + 7, width);
    return jpeg;
}

// The same file cut after its first scan header, that scan then repeated with two bytes of
// data each time: every scan goes over all the picture's blocks again.
std::string ManyScansJpeg(uint32_t side, int scans)
{
    const std::string jpeg = ProgressiveGreyJpeg(side, side);
    const size_t scan = FindMarker(jpeg, 0xDA);
    if (scan == std::string::npos)
        return std::string();
    const size_t headerEnd = scan + 2 + ((uint8_t(jpeg[scan + 2]) << 8) | uint8_t(jpeg[scan + 3]));
    std::string out = jpeg.substr(0, scan);
    const std::string header = jpeg.substr(scan, headerEnd - scan);
    for (int i = 0; i < scans; ++i)
        out += header + std::string(2, '\0');
    return out + "\xFF\xD9";
}

// Decodes the bytes as the type and answers "ok WxH" or "refused: message".
std::string DecodeAnswer(const std::string& bytes, uint32_t id, int32_t frame = 0, uint8_t jpegScale = 1)
{
    PxImage image;
    image.SetFrame(frame);
    image.SetJpegScale(jpegScale);
    if (!DecodeBytes(image, bytes, id))
        return std::string("refused: ") + image.GetLastError();
    return "ok " + std::to_string(image.GetWidth()) + "x" + std::to_string(image.GetHeight());
}

// ---- GIF by hand ----

std::string Le16Bytes(uint32_t v)
{
    return std::string{char(v), char(v >> 8)};
}

std::string GifHeader(uint32_t width, uint32_t height, const std::string& globalTable = std::string())
{
    std::string h = "GIF89a" + Le16Bytes(width) + Le16Bytes(height);
    uint8_t packed = 0;
    if (!globalTable.empty()) {
        int n = 0;
        while ((3u << (n + 1)) < globalTable.size())
            ++n;
        packed = uint8_t(0x80 | n);
    }
    h += char(packed);
    h += std::string(2, '\0');
    return h + globalTable;
}

// Image data of code size 2 that holds one pixel of index 0: clear, 0, end (3 bits each).
const std::string kOnePixelData = std::string("\x02\x02\x44\x01\x00", 5);

std::string GifImage(uint32_t left, uint32_t top, uint32_t width, uint32_t height, const std::string& data)
{
    return "\x2C" + Le16Bytes(left) + Le16Bytes(top) + Le16Bytes(width) + Le16Bytes(height) + std::string(1, '\0') +
           data;
}

} // namespace

TEST(PxHostileInput, ProgressiveJpegOfHugeSizeIsRefusedBeforeLibjpegAllocates)
{
    SKIP_WITHOUT_MEMORY_LIMITS();
    const std::string bomb = ProgressiveGreyJpeg(30000, 30000);
    ASSERT_FALSE(bomb.empty());
    ASSERT_LT(bomb.size(), 1000u);
    for (const uint8_t scale : {uint8_t(1), uint8_t(8)}) {
        SCOPED_TRACE(scale);
        // At 1/8 the picture would fit, but a progressive file keeps every coefficient of the
        // whole picture (1.8 GB here) before any row comes out.
        const BoundedResult r =
            RunBounded(kAddressSpace, kCpuSeconds, [&] { return DecodeAnswer(bomb, PXIMAGE_FORMAT_JPG, 0, scale); });
        ASSERT_TRUE(r.finished) << r.how;
        EXPECT_EQ(r.answer, "refused: PXIMAGE_MAX_MEMORY exceeded");
        EXPECT_LT(r.peakKiB, kRefusalKiB);
    }
    // The size alone is still answered.
    PxImage probe;
    ASSERT_TRUE(probe.CheckFormatMemory(reinterpret_cast<const uint8_t*>(bomb.data()), uint32_t(bomb.size()), 0));
    EXPECT_EQ(probe.GetWidth(), 30000);
    EXPECT_EQ(probe.GetType(), uint32_t(PXIMAGE_FORMAT_JPG));
}

TEST(PxHostileInput, JpegOfThousandsOfScansStopsAfterABoundedNumber)
{
    SKIP_WITHOUT_MEMORY_LIMITS();
    const std::string bomb = ManyScansJpeg(8192, 10000);
    ASSERT_FALSE(bomb.empty());
    ASSERT_LT(bomb.size(), 200000u);
    const BoundedResult r =
        RunBounded(kAddressSpace, kCpuSeconds, [&] { return DecodeAnswer(bomb, PXIMAGE_FORMAT_JPG); });
    ASSERT_TRUE(r.finished) << r.how;
    EXPECT_EQ(r.answer, "refused: JPEG has too many scans");
    EXPECT_LT(r.peakKiB, kDecodeKiB);

    // A file of a few scans decodes.
    const std::string few = ManyScansJpeg(64, 5);
    EXPECT_EQ(DecodeAnswer(few, PXIMAGE_FORMAT_JPG), "ok 64x64");
}

TEST(PxHostileInput, EscapeFlagStopsAProgressiveDecodeWhileLibjpegReadsScans)
{
    SKIP_WITHOUT_MEMORY_LIMITS();
    const std::string slow = ManyScansJpeg(8192, 90);
    const BoundedResult r = RunBounded(kAddressSpace, kCpuSeconds, [&] {
        PxImage image;
        std::atomic<bool> started{false};
        std::thread canceller([&] {
            while (!started.load())
                std::this_thread::yield();
            image.SetEscape(1);
        });
        started = true;
        const bool ok = DecodeBytes(image, slow, PXIMAGE_FORMAT_JPG);
        canceller.join();
        return ok ? std::string("decoded") : std::string(image.GetLastError());
    });
    ASSERT_TRUE(r.finished) << r.how;
    EXPECT_EQ(r.answer, "Cancelled");
}

TEST(PxHostileInput, ProgressiveJpegDecodesAsItsBaselineTwin)
{
    PxImage picture(61, 37, 24);
    for (int32_t y = 0; y < 37; ++y)
        for (int32_t x = 0; x < 61; ++x)
            picture.SetPixelColor(x, y, RGBQuad{uint8_t(x * 4), uint8_t(y * 6), uint8_t((x ^ y) * 3), 255});
    const std::string baseline = EncodeBytes(picture, PXIMAGE_FORMAT_JPG);
    picture.SetCodecOption(0x10, PXIMAGE_FORMAT_JPG);
    const std::string progressive = EncodeBytes(picture, PXIMAGE_FORMAT_JPG);
    ASSERT_NE(FindMarker(progressive, 0xC2), std::string::npos);
    PxImage a, b;
    ASSERT_TRUE(DecodeBytes(a, baseline, PXIMAGE_FORMAT_JPG)) << a.GetLastError();
    ASSERT_TRUE(DecodeBytes(b, progressive, PXIMAGE_FORMAT_JPG)) << b.GetLastError();
    // The same coefficients, only sent in another order.
    EXPECT_TRUE(ImagePixels(a) == ImagePixels(b));
}

TEST(PxHostileInput, WebpOfHugeSizeIsRefusedBeforeLibwebpAllocates)
{
    SKIP_WITHOUT_MEMORY_LIMITS();
    PxImage small(16, 16, 24);
    small.Clear(90);
    std::string bomb = EncodeBytes(small, PXIMAGE_FORMAT_WEBP);
    // A lossy file: the chunk header, the frame tag and start code, then 14-bit sizes.
    ASSERT_GT(bomb.size(), 30u);
    ASSERT_EQ(bomb.substr(12, 4), "VP8 ");
    ASSERT_EQ(bomb.substr(23, 3), "\x9d\x01\x2a");
    bomb.replace(26, 4, Le16Bytes(16383) + Le16Bytes(16383));
    const BoundedResult r =
        RunBounded(kAddressSpace, kCpuSeconds, [&] { return DecodeAnswer(bomb, PXIMAGE_FORMAT_WEBP); });
    ASSERT_TRUE(r.finished) << r.how;
    // 16383 x 16383 x 3 bytes would be 805 MB.
    EXPECT_EQ(r.answer, "refused: PXIMAGE_MAX_MEMORY exceeded");
    EXPECT_LT(r.peakKiB, kRefusalKiB);
}

TEST(PxHostileInput, GifScreenLargerThanTheLimitIsRefusedUpFront)
{
    SKIP_WITHOUT_MEMORY_LIMITS();
    const std::string bomb = GifHeader(8192, 8192) + GifImage(0, 0, 8192, 8192, kOnePixelData) + ";";
    ASSERT_LT(bomb.size(), 64u);
    const BoundedResult r =
        RunBounded(kAddressSpace, kCpuSeconds, [&] { return DecodeAnswer(bomb, PXIMAGE_FORMAT_GIF); });
    ASSERT_TRUE(r.finished) << r.how;
    // The canvas and its saved copy alone would take 512 MB.
    EXPECT_EQ(r.answer, "refused: PXIMAGE_MAX_MEMORY exceeded");
    EXPECT_LT(r.peakKiB, kRefusalKiB);
}

TEST(PxHostileInput, GifOfThousandsOfScreenSizeFramesDrawsOnlyWhatIsAskedFor)
{
    SKIP_WITHOUT_MEMORY_LIMITS();
    // No global table and images a pixel smaller than the screen: not tiles of one picture
    // (together they cover the screen 2000 times) but an animation.
    std::string bomb = GifHeader(4096, 4096);
    for (int i = 0; i < 2000; ++i)
        bomb += GifImage(0, 0, 4095, 4095, kOnePixelData);
    bomb += ";";
    ASSERT_LT(bomb.size(), 64000u);
    const BoundedResult first =
        RunBounded(kAddressSpace, kCpuSeconds, [&] { return DecodeAnswer(bomb, PXIMAGE_FORMAT_GIF, 0); });
    ASSERT_TRUE(first.finished) << first.how;
    EXPECT_EQ(first.answer, "ok 4096x4096");
    EXPECT_LT(first.peakKiB, kDecodeKiB);
    // The last frame would take every frame drawn on the whole screen.
    const BoundedResult last =
        RunBounded(kAddressSpace, kCpuSeconds, [&] { return DecodeAnswer(bomb, PXIMAGE_FORMAT_GIF, 1999); });
    ASSERT_TRUE(last.finished) << last.how;
    EXPECT_EQ(last.answer, "refused: GIF animation too large to compose");
    EXPECT_LT(last.peakKiB, kRefusalKiB);
}

TEST(PxHostileInput, GifFramesWhoseDataEndsAtOnceAreNoFrames)
{
    SKIP_WITHOUT_MEMORY_LIMITS();
    // Thousands of empty frames on a large screen: nothing to draw and nothing to hold.
    std::string bomb = GifHeader(4096, 4096, std::string("\0\0\0\xFF\xFF\xFF", 6));
    for (int i = 0; i < 3000; ++i)
        bomb += GifImage(0, 0, 4096, 4096, std::string("\x02\x00", 2));
    bomb += GifImage(1, 1, 2, 2, kOnePixelData) + ";";
    const BoundedResult r = RunBounded(kAddressSpace, kCpuSeconds, [&] {
        PxImage image;
        image.SetRetrieveAllFrames(true);
        if (!DecodeBytes(image, bomb, PXIMAGE_FORMAT_GIF))
            return std::string("refused: ") + image.GetLastError();
        return std::to_string(image.GetFrameCount()) + " frame";
    });
    ASSERT_TRUE(r.finished) << r.how;
    EXPECT_EQ(r.answer, "1 frame");

    // Among real frames an empty one is skipped, and the frames count as they are drawn.
    const std::string table("\0\0\0\xFF\xFF\xFF", 6);
    const std::string three = GifHeader(4, 4, table) + GifImage(0, 0, 4, 4, kOnePixelData) +
                              GifImage(0, 0, 4, 4, std::string("\x02\x00", 2)) + GifImage(1, 1, 1, 1, kOnePixelData) +
                              ";";
    PxImage all;
    all.SetRetrieveAllFrames(true);
    ASSERT_TRUE(DecodeBytes(all, three, PXIMAGE_FORMAT_GIF)) << all.GetLastError();
    EXPECT_EQ(all.GetFrameCount(), 2);
}

TEST(PxHostileInput, TiledGifStillComposesItsTiles)
{
    // A 24-bit picture is written as tiles with tables of their own: they cover the screen once.
    PxImage colour(40, 33, 24);
    for (int32_t y = 0; y < 33; ++y)
        for (int32_t x = 0; x < 40; ++x)
            colour.SetPixelColor(x, y, RGBQuad{uint8_t(x * 6), uint8_t(y * 7), uint8_t(x * y), 255});
    const std::string bytes = EncodeBytes(colour, PXIMAGE_FORMAT_GIF);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, PXIMAGE_FORMAT_GIF)) << back.GetLastError();
    EXPECT_EQ(back.GetBpp(), 24u);
    EXPECT_TRUE(ImagePixels(back) == ImagePixels(colour));
}
