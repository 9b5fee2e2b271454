// What decoders keep of colours and transparency: animation frames with tables of their own
// over earlier frames, the alpha mask of 32-bit bit-field BMPs, a cursor's AND mask.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/ImageTestUtil.h"
#include "image/PxFile.h"
#include "image/PxImage.h"
#include "image/PxImageGIF.h"

namespace {

class PxTransparency : public TempFolderTest {};

constexpr RGBQuad kBlack{0, 0, 0, 0}, kWhite{255, 255, 255, 0}, kRed{0, 0, 255, 0}, kGreen{0, 255, 0, 0};

// A palette picture of the depth whose pixels the function gives (x, y from the top).
PxImage Indexed(uint32_t bpp, const std::vector<RGBQuad>& palette, int (*pixel)(int32_t x, int32_t y))
{
    PxImage image(8, 8, bpp);
    for (size_t i = 0; i < palette.size(); ++i)
        image.SetPaletteColor(uint8_t(i), palette[i]);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            image.SetPixelIndex(x, 7 - y, uint8_t(pixel(x, y)));
    return image;
}

// A picture's pixels as red, green, blue, top row first.
std::string Rgb(const PxImage& image)
{
    return ImagePixels(image);
}

std::string RgbOf(const std::vector<RGBQuad>& pixels)
{
    std::string s;
    for (const RGBQuad& c : pixels)
        s += std::string{char(c.red), char(c.green), char(c.blue)};
    return s;
}

// Whether a pixel shows: its alpha, or its index against the transparent one.
bool Opaque(const PxImage& image, int32_t x, int32_t y)
{
    if (image.AlphaIsValid())
        return image.AlphaGet(x, y) > 0;
    if (image.GetBpp() <= 8 && image.HasTransparentIndex())
        return image.GetPixelIndex(x, y) != image.GetTransparentIndex();
    return true;
}

} // namespace

TEST_F(PxTransparency, GifFramesWithOwnTablesKeepTheColoursOfFramesShowingThrough)
{
    // Frame 0 (the global table: black, white) is white with a black column; frame 1 lets the
    // top half show through its transparent entry and paints the bottom half from its own table.
    PxImage first = Indexed(1, {kBlack, kWhite}, [](int32_t x, int32_t) { return x == 0 ? 0 : 1; });
    first.SetDisposalMethod(1);
    std::string expected;
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            expected += RgbOf({y < 4 ? (x == 0 ? kBlack : kWhite) : kGreen});
    // A small table like the first, and a 16-entry one without white or black in it.
    std::vector<RGBQuad> sixteen(16, kRed);
    sixteen[5] = kGreen;
    struct Case {
        const char* name;
        PxImage second;
    } cases[] = {
        {"1-bit table", Indexed(1, {kRed, kGreen}, [](int32_t, int32_t y) { return y < 4 ? 0 : 1; })},
        {"4-bit table", Indexed(4, sixteen, [](int32_t, int32_t y) { return y < 4 ? 0 : 5; })},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.second.SetTransparentIndex(0);
        c.second.SetDisposalMethod(1);
        PxImage* frames[2] = {&first, &c.second};
        PxMemFile memory;
        ASSERT_TRUE(memory.Open());
        PxImageGIF writer;
        ASSERT_TRUE(writer.EncodeFrames(&memory, frames, 2, true, true)) << writer.GetLastError();
        const std::string bytes(reinterpret_cast<const char*>(memory.GetBuffer(false)), size_t(memory.Size()));

        PxImage shown;
        shown.SetFrame(1);
        ASSERT_TRUE(DecodeBytes(shown, bytes, PXIMAGE_FORMAT_GIF)) << shown.GetLastError();
        EXPECT_TRUE(Rgb(shown) == expected) << "white and black of frame 0 stay as they were";
        PxImage all;
        all.SetRetrieveAllFrames(true);
        ASSERT_TRUE(DecodeBytes(all, bytes, PXIMAGE_FORMAT_GIF)) << all.GetLastError();
        ASSERT_EQ(all.GetFrameCount(), 2);
        EXPECT_TRUE(Rgb(*all.GetFrameImage(1)) == expected);

        const std::string path = Path(std::string(c.name[0] == '1' ? "one" : "four") + ".gif");
        WriteTestFile(path, bytes);
        // ffmpeg puts the frames together the same way (it repeats frames to its frame rate:
        // the last one it gives is the second frame).
        const std::string ffmpeg = FfmpegPixels(path);
        ASSERT_GE(ffmpeg.size(), 2 * expected.size());
        EXPECT_TRUE(ffmpeg.substr(ffmpeg.size() - expected.size()) == expected) << "ffmpeg's second frame";
    }
}

TEST_F(PxTransparency, BitFieldBmpsWithV4AndV5HeadersKeepTheirAlphaMask)
{
    // A 4 x 2 picture whose pixel i has colour (10 i, 20 i, 30 i) and alpha 30 i + 15.
    const auto bmp = [](uint32_t headerSize, uint32_t compression, const uint32_t masks[4], bool noAlpha) {
        std::string info(headerSize, '\0');
        PutLe32(info, 0, headerSize);
        PutLe32(info, 4, 4);
        PutLe32(info, 8, 2);
        info[12] = 1;
        info[14] = 32;
        PutLe32(info, 16, compression);
        PutLe32(info, 20, 32);
        for (int m = 0; m < 4; ++m)
            PutLe32(info, 40 + 4 * size_t(m), masks[m]);
        std::string pixels(32, '\0');
        for (uint32_t i = 0; i < 8; ++i) {
            const uint32_t channel[4] = {10 * i, 20 * i, 30 * i, noAlpha ? 0 : 30 * i + 15};
            uint32_t value = 0;
            for (int m = 0; m < 4 && masks[m]; ++m) {
                uint32_t shift = 0;
                while (!((masks[m] >> shift) & 1))
                    ++shift;
                value |= (channel[m] << shift) & masks[m];
            }
            PutLe32(pixels, 4 * i, value);
        }
        std::string file(14, '\0');
        file[0] = 'B';
        file[1] = 'M';
        PutLe32(file, 2, uint32_t(14 + info.size() + pixels.size()));
        PutLe32(file, 10, uint32_t(14 + info.size()));
        return file + info + pixels;
    };
    const uint32_t usual[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    const uint32_t turned[4] = {0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF};
    for (const uint32_t headerSize : {108u, 124u})
        for (const uint32_t* masks : {usual, turned}) {
            SCOPED_TRACE(std::to_string(headerSize) + (masks == usual ? " usual" : " turned"));
            PxImage image;
            ASSERT_TRUE(DecodeBytes(image, bmp(headerSize, 3, masks, false), PXIMAGE_FORMAT_BMP))
                << image.GetLastError();
            ASSERT_TRUE(image.AlphaIsValid());
            for (uint32_t i = 0; i < 8; ++i) {
                const RGBQuad c = image.GetPixelColor(int32_t(i % 4), int32_t(i / 4), true);
                EXPECT_EQ(c.red, 10 * i);
                EXPECT_EQ(c.green, 20 * i);
                EXPECT_EQ(c.blue, 30 * i);
                EXPECT_EQ(c.alpha, 30 * i + 15) << "pixel " << i;
            }
            // A mask over bytes that are all 0 means no alpha at all: opaque, as for plain files.
            ASSERT_TRUE(DecodeBytes(image, bmp(headerSize, 3, masks, true), PXIMAGE_FORMAT_BMP));
            EXPECT_EQ(image.GetPixelColor(2, 1, true).alpha, 255);
        }
    // A 4-bit alpha mask is widened to the full range.
    const uint32_t narrow[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x0F000000};
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, bmp(124, 3, narrow, false), PXIMAGE_FORMAT_BMP));
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(image.GetPixelColor(int32_t(i), 0, true).alpha, ((30 * i + 15) & 15) * 255 / 15);
    // Without an alpha mask the bit-field picture stays opaque.
    const uint32_t none[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    ASSERT_TRUE(DecodeBytes(image, bmp(124, 3, none, false), PXIMAGE_FORMAT_BMP));
    EXPECT_FALSE(image.AlphaIsValid());
}

TEST_F(PxTransparency, OneBitCursorShowsExactlyWhatItsAndMaskLeavesOpaque)
{
    // 32 x 32: the top 12 rows (384 pixels) are opaque, black but for four white ones; the rest
    // is masked with black bits, the usual transparent part of a cursor.
    std::string file = std::string("\0\0\2\0\1\0", 6);
    std::string entry(16, '\0');
    entry[0] = 32;
    entry[1] = 32;
    entry[2] = 2;
    entry[4] = 3; // hot spot
    entry[6] = 3;
    PutLe32(entry, 8, 40 + 8 + 128 + 128);
    PutLe32(entry, 12, 22);
    const std::string info = IconInfoHeader(32, 32, 1);
    const std::string palette = std::string("\0\0\0\0\xFF\xFF\xFF\0", 8);
    std::string colour(128, '\0'), mask(128, '\0');
    // Rows run from the bottom: file row r is picture row 31 - r.
    for (int32_t r = 0; r < 32; ++r) {
        const bool opaque = 31 - r < 12;
        for (int b = 0; b < 4; ++b)
            mask[size_t(4 * r + b)] = opaque ? '\0' : '\xFF';
        if (31 - r == 5)
            colour[size_t(4 * r)] = char(0xF0); // four white pixels
    }
    file += entry + info + palette + colour + mask;

    PxImage cursor;
    ASSERT_TRUE(DecodeBytes(cursor, file, PXIMAGE_FORMAT_ICO)) << cursor.GetLastError();
    ASSERT_EQ(cursor.GetWidth(), 32);
    int opaque = 0, white = 0, wrong = 0;
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 32; ++x) {
            const bool shows = Opaque(cursor, x, y);
            opaque += shows;
            if (shows != (31 - y < 12))
                ++wrong;
            if (shows && cursor.GetPixelColor(x, y).red == 255)
                ++white;
        }
    EXPECT_EQ(opaque, 384);
    EXPECT_EQ(wrong, 0) << "the opaque pixels are the ones the mask leaves";
    EXPECT_EQ(white, 4);
    // On a transparent index of its own, so that formats without an alpha plane beside a
    // palette keep it.
    EXPECT_FALSE(cursor.AlphaIsValid());
    EXPECT_LE(cursor.GetBpp(), 8u);
    // Written as PNG, it keeps the same pixels showing.
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, EncodeBytes(cursor, PXIMAGE_FORMAT_PNG), PXIMAGE_FORMAT_PNG));
    int shown = 0;
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 32; ++x)
            shown += Opaque(back, x, y);
    EXPECT_EQ(shown, 384);
}
