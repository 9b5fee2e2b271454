// BMP files as ffmpeg writes them and as hand-made headers describe them, the way through
// format dispatch, and what an encode must never do to the image it encodes.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/ImageTestUtil.h"
#include "image/PxImage.h"
#include "image/PxImageBMP.h"

namespace {

// A bitmap file: file header, 40-byte information header, palette, pixel bytes.
std::string HandBmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const std::string& palette,
                    const std::string& pixels, uint32_t colours = 0)
{
    std::string h(54, '\0');
    h[0] = 'B';
    h[1] = 'M';
    PutLe32(h, 2, uint32_t(54 + palette.size() + pixels.size()));
    PutLe32(h, 10, uint32_t(54 + palette.size()));
    PutLe32(h, 14, 40);
    PutLe32(h, 18, uint32_t(width));
    PutLe32(h, 22, uint32_t(height));
    h[26] = 1;
    h[28] = char(bits);
    PutLe32(h, 30, compression);
    PutLe32(h, 34, uint32_t(pixels.size()));
    PutLe32(h, 46, colours);
    return h + palette + pixels;
}

std::string GrayPalette(int n)
{
    std::string p;
    for (int i = 0; i < n; ++i)
        p += std::string{char(i), char(i), char(i), 0};
    return p;
}

class PxBmp : public TempFolderTest {};

} // namespace

TEST_F(PxBmp, FfmpegFilesDecodeToFfmpegsOwnPixelsAndRoundTrip)
{
    for (const char* format : {"bgr24", "bgra", "pal8", "gray", "monob", "rgb4_byte", "rgb8"}) {
        SCOPED_TRACE(format);
        const std::string path = Path(std::string(format) + ".bmp");
        const std::string bytes = MakeFfmpegImage(path, format, "67x45");
        ASSERT_FALSE(bytes.empty());
        PxImage image;
        ASSERT_TRUE(DecodeBytes(image, bytes, PXIMAGE_FORMAT_BMP)) << image.GetLastError();
        EXPECT_EQ(image.GetWidth(), 67);
        const std::string expected = FfmpegPixels(path);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(ImagePixels(image) == expected) << "the pixels differ from ffmpeg's own decode";

        const std::string again = EncodeBytes(image, PXIMAGE_FORMAT_BMP);
        ASSERT_FALSE(again.empty()) << image.GetLastError();
        WriteTestFile(Path("again.bmp"), again);
        EXPECT_TRUE(FfmpegPixels(Path("again.bmp")) == expected) << "ffmpeg reads our file as it read its own";
    }
    // 16-bit pixels widen by shifting each channel to the top of its byte.
    const std::string path = Path("565.bmp");
    const std::string bytes = MakeFfmpegImage(path, "rgb565", "8x2");
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, bytes));
    const uint32_t offset = GetLe32(bytes, 10);
    const uint16_t word = uint16_t(uint8_t(bytes[offset]) | uint8_t(bytes[offset + 1]) << 8);
    const RGBQuad c = image.GetPixelColor(0, 0);
    EXPECT_EQ(c.red, (word >> 11) << 3);
    EXPECT_EQ(c.green, ((word >> 5) & 63) << 2);
    EXPECT_EQ(c.blue, (word & 31) << 3);
}

TEST_F(PxBmp, HeaderVariants)
{
    const std::string pixels = std::string("\x01\x02\x03\x00", 4) + std::string("\x04\x05\x06\x00", 4);
    const std::string plain = HandBmp(1, 2, 24, 0, "", pixels);
    PxImage a, b, bare;
    ASSERT_TRUE(DecodeBytes(a, plain));
    ASSERT_TRUE(DecodeBytes(bare, plain.substr(14), PXIMAGE_FORMAT_BMP)) << "no file header in front";
    EXPECT_EQ(ImagePixels(bare), ImagePixels(a));

    std::string topDown = plain;
    PutLe32(topDown, 22, uint32_t(-2));
    ASSERT_TRUE(DecodeBytes(b, topDown));
    EXPECT_EQ(b.GetPixelColor(0, 0).blue, 4) << "a negative height stores its rows the other way";
    EXPECT_EQ(a.GetPixelColor(0, 0).blue, 1);

    // 32 bits: a fourth byte of 0 everywhere means opaque; any other value is the alpha.
    std::string zeros = HandBmp(2, 1, 32, 0, "", std::string("\x01\x02\x03\x00\x04\x05\x06\x00", 8));
    PxImage opaque;
    ASSERT_TRUE(DecodeBytes(opaque, zeros));
    EXPECT_EQ(opaque.AlphaGet(1, 0), 255);
    zeros[54 + 3] = 9;
    PxImage translucent;
    ASSERT_TRUE(DecodeBytes(translucent, zeros));
    EXPECT_EQ(translucent.AlphaGet(0, 0), 9);
    EXPECT_EQ(translucent.AlphaGet(1, 0), 0);

    // 16 bits without masks is 5-5-5.
    PxImage fives;
    ASSERT_TRUE(DecodeBytes(fives, HandBmp(2, 1, 16, 0, "", std::string("\x00\x7c\x1f\x00", 4))));
    EXPECT_EQ(fives.GetPixelColor(0, 0).red, 0xF8);
    EXPECT_EQ(fives.GetPixelColor(1, 0).blue, 0xF8);

    // The OS/2 core header: 12 bytes and 3-byte palette entries.
    std::string core(14 + 12, '\0');
    core[0] = 'B';
    core[1] = 'M';
    PutLe32(core, 10, 14 + 12 + 3 * 256);
    PutLe32(core, 14, 12);
    core[18] = 2;
    core[20] = 1;
    core[22] = 1;
    core[24] = 8;
    for (int i = 0; i < 256; ++i)
        core += std::string{char(i), char(255 - i), char(7)};
    core += std::string("\x05\xFA\x00\x00", 4);
    PxImage os2;
    ASSERT_TRUE(DecodeBytes(os2, core)) << os2.GetLastError();
    EXPECT_EQ(os2.GetPixelColor(0, 0).green, 250);
    EXPECT_EQ(os2.GetPixelColor(1, 0).red, 7);

    PxImage rle24, bitfields8;
    EXPECT_FALSE(DecodeBytes(rle24, HandBmp(1, 1, 24, 1, "", std::string(4, '\0')), PXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(rle24.GetLastError(), "unknown compression");
    EXPECT_FALSE(
        DecodeBytes(bitfields8, HandBmp(1, 1, 8, 3, GrayPalette(256), std::string(4, '\0')), PXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(bitfields8.GetLastError(), "compression type not supported");
}

TEST_F(PxBmp, RunLengthStaysInsideThePixelRows)
{
    // RLE8: a run of 255 pixels into a 4x2 picture, then an absolute run and a delta past the end.
    const std::string rle8 =
        std::string("\xFF\x07\x00\x00\x00\x03\x01\x02\x03\x00\x00\x02\x50\x50\x05\x09\x00\x01", 18);
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, HandBmp(4, 2, 8, 1, GrayPalette(256), rle8)));
    EXPECT_EQ(image.GetPixelIndex(3, 1), 7) << "the run fills to the end of the rows and stops";
    // RLE4: pixels alternate between the two nibbles of the value.
    const std::string rle4 = std::string("\x03\x12\x00\x00\x00\x03\x45\x60\x00\x01", 10);
    PxImage nibbles;
    ASSERT_TRUE(DecodeBytes(nibbles, HandBmp(4, 2, 4, 2, GrayPalette(16), rle4)));
    EXPECT_EQ(nibbles.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(nibbles.GetPixelIndex(1, 0), 2);
    EXPECT_EQ(nibbles.GetPixelIndex(2, 0), 1);
    EXPECT_EQ(nibbles.GetPixelIndex(0, 1), 4);
    EXPECT_EQ(nibbles.GetPixelIndex(2, 1), 6);
}

TEST_F(PxBmp, EncodingLeavesTheImageAsItWas)
{
    PxImage rgba(5, 3, 24);
    rgba.SetPixelColor(4, 2, RGBQuad{1, 2, 3, 0});
    rgba.AlphaCreate();
    rgba.AlphaSet(4, 2, 77);
    rgba.SetXDpi(300);
    // A stale header copy inside the block must not be refreshed in place by the encoder.
    reinterpret_cast<PxBitmapInfoHeader*>(rgba.GetPixelBlock())->xPelsPerMeter = 1;
    const std::string before = ImageFingerprint(rgba);
    const std::string file = EncodeBytes(rgba, PXIMAGE_FORMAT_BMP);
    EXPECT_EQ(ImageFingerprint(rgba), before);
    ASSERT_EQ(file.size(), 54u + 4 * 5 * 3);
    EXPECT_EQ(GetLe32(file, 10), 54u);
    EXPECT_EQ(GetLe32(file, 2), 54u + 60);
    EXPECT_EQ(GetLe32(file, 38), 11811u) << "300 dpi as pixels per metre";
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, file));
    EXPECT_EQ(back.AlphaGet(4, 2), 77);
    EXPECT_EQ(back.GetXDpi(), 300);

    PxImage eight(3, 3, 8);
    eight.SetGrayPalette();
    const std::string eightBefore = ImageFingerprint(eight);
    EXPECT_EQ(GetLe32(EncodeBytes(eight, PXIMAGE_FORMAT_BMP), 10), 1078u);
    // A write that fails (a full stream) is reported, and changes nothing either.
    FILE* full = fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(eight.EncodeToStdio(full, PXIMAGE_FORMAT_BMP));
    fclose(full);
    EXPECT_EQ(ImageFingerprint(eight), eightBefore);
}

TEST_F(PxBmp, DispatchMessagesAndDetection)
{
    PxImage image;
    const std::string bmp = HandBmp(3, 2, 24, 0, "", std::string(24, '\x11'));
    EXPECT_FALSE(DecodeBytes(image, bmp, PXIMAGE_FORMAT_WMF));
    EXPECT_STREQ(image.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_FALSE(DecodeBytes(image, "\x89PNG not one of ours", 0));
    EXPECT_STREQ(image.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_FALSE(image.DecodeMemory(nullptr, 0, 0));
    EXPECT_STREQ(image.GetLastError(), "invalid or empty buffer");

    EXPECT_FALSE(image.Encode(nullptr, 1));
    PxMemFile memory;
    memory.Open();
    EXPECT_FALSE(image.Encode(&memory, PXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(image.GetLastError(), "null image!!!");
    ASSERT_TRUE(DecodeBytes(image, bmp));
    EXPECT_FALSE(image.Encode(&memory, 6));
    EXPECT_STREQ(image.GetLastError(), "Encode: Unknown format");
    uint8_t dummy = 0;
    uint8_t* buffer = &dummy;
    int32_t size = 0;
    EXPECT_FALSE(image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(image.GetLastError(), "the buffer must be empty");
    EXPECT_EQ(buffer, &dummy);
    EXPECT_FALSE(image.EncodeFrames(&memory, nullptr, 0, PXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(image.GetLastError(), "Multipage Encode, Unsupported operation for this format");

    PxImage check;
    EXPECT_FALSE(check.CheckFormatMemory(reinterpret_cast<const uint8_t*>(bmp.data()), uint32_t(bmp.size()),
                                         PXIMAGE_FORMAT_PNG));
    EXPECT_TRUE(check.CheckFormatMemory(reinterpret_cast<const uint8_t*>(bmp.data()), uint32_t(bmp.size()), 0));
    EXPECT_EQ(check.GetWidth(), 3);
    EXPECT_EQ(check.GetType(), PXIMAGE_FORMAT_BMP);
    EXPECT_FALSE(check.IsValid());

    EXPECT_EQ(PxImage::GetTypeFromExtension("JPG"), 3u);
    EXPECT_EQ(PxImage::GetTypeFromExtension("jpeg"), 0u);
    EXPECT_EQ(PxImage::GetTypeFromExtension("webp"), 0u);
    EXPECT_EQ(PxImage::GetTypeFromExtension("Cur"), 5u);

    WriteTestFile(Path("p.bmp"), bmp);
    PxImage loaded(Path("p.bmp").c_str(), PXIMAGE_FORMAT_WEBP);
    EXPECT_TRUE(loaded.IsValid()) << "WebP has no table slot: the format is detected";
    ASSERT_TRUE(loaded.Save(Path("q.bmp").c_str(), PXIMAGE_FORMAT_BMP));
    EXPECT_EQ(ReadTestFile(Path("q.bmp")), EncodeBytes(loaded, PXIMAGE_FORMAT_BMP));
    EXPECT_FALSE(loaded.Save((Path("missing") + "/q.bmp").c_str(), PXIMAGE_FORMAT_BMP));
}

TEST_F(PxBmp, CancelAndSizeQueryThroughDispatch)
{
    const std::string bmp = HandBmp(3, 2, 24, 0, "", std::string(24, '\x11'));
    PxImage keep(2, 2, 8);
    const std::string before = ImageFingerprint(keep);
    keep.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(keep, bmp, PXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(keep.GetLastError(), "Cancelled");
    EXPECT_EQ(ImageFingerprint(keep), before);

    PxImage query;
    query.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(query, bmp, PXIMAGE_FORMAT_BMP));
    EXPECT_FALSE(query.IsValid());
    EXPECT_EQ(query.GetHeight(), 2);
    EXPECT_STREQ(query.GetLastError(), "output dimensions returned");
}
