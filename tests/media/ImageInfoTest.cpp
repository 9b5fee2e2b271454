// The image header reader on pictures ffmpeg writes and on hand-made headers: kind, size and
// depth from the header alone, and the all-zero record for anything damaged or cut short.
#include <string>

#include <gtest/gtest.h>

#include "common/MediaTestFiles.h"
#include "common/TestFiles.h"
#include "media/imageInfo_t.h"

namespace {

class ImageInfo : public TempFolderTest {
protected:
    imageInfo_t Made(const std::string& name, const std::vector<std::string>& extra, const std::string& size = "64x36")
    {
        std::vector<std::string> args{
            "ffmpeg",    "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i", "testsrc=size=" + size + ":d=1",
            "-frames:v", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(Path(name));
        EXPECT_TRUE(RunProgramQuietly(args)) << name;
        return imageInfo_t(WPath(name));
    }
};

bool Empty(const imageInfo_t& i)
{
    return !i.name && !i.kind && !i.width && !i.height && !i.bitsPerPixel;
}

imageInfo_t FromBytes(const std::string& bytes)
{
    return imageInfo_t(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST_F(ImageInfo, KindsSizesAndDepthsOfRealFiles)
{
    struct Case {
        std::string file;
        std::vector<std::string> extra;
        int32_t kind, bits;
    };
    const Case cases[] = {
        {"rgb.png", {"-pix_fmt", "rgb24"}, 2, 24},
        {"rgba.png", {"-pix_fmt", "rgba"}, 2, 32},
        {"pal.png", {"-pix_fmt", "pal8"}, 2, 8},
        {"a.jpg", {"-pix_fmt", "yuvj420p"}, 1, 24},
        {"g.png", {"-pix_fmt", "gray"}, 2, 8},
        {"a.bmp", {"-pix_fmt", "bgr24"}, 4, 24},
        {"a.gif", {"-pix_fmt", "pal8"}, 3, 8},
        {"lossy.webp", {"-c:v", "libwebp"}, 5, 24},
        {"lossless.webp", {"-c:v", "libwebp", "-lossless", "1"}, 5, 24},
    };
    for (const Case& c : cases) {
        const imageInfo_t info = Made(c.file, c.extra);
        EXPECT_EQ(info.kind, c.kind) << c.file;
        EXPECT_EQ(info.width, 64) << c.file;
        EXPECT_EQ(info.height, 36) << c.file;
        EXPECT_EQ(info.bitsPerPixel, c.bits) << c.file;
    }
    const imageInfo_t tiny = Made("one.webp", {"-c:v", "libwebp", "-lossless", "1"}, "1x1");
    EXPECT_EQ(tiny.width, 1);
    EXPECT_EQ(tiny.height, 1);
    EXPECT_TRUE(Empty(imageInfo_t(WPath("missing.png"))));
}

TEST_F(ImageInfo, DamagedAndCutHeadersGiveNothing)
{
    Made("rgb.png", {"-pix_fmt", "rgb24"});
    const std::string png = ReadTestFile(Path("rgb.png"));
    const size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    EXPECT_EQ(FromBytes(png.substr(0, idat + 8)).kind, 2);
    EXPECT_TRUE(Empty(FromBytes(png.substr(0, idat - 4)))) << "cut before the image data";
    std::string huge = png;
    huge.replace(33, 4, std::string("\xFF\xFF\xFF\xF0", 4)); // the chunk after IHDR claims 4 GB
    EXPECT_TRUE(Empty(FromBytes(huge)));

    Made("a.jpg", {"-pix_fmt", "yuvj420p"});
    const std::string jpeg = ReadTestFile(Path("a.jpg"));
    const size_t sos = jpeg.find("\xFF\xDA");
    ASSERT_NE(sos, std::string::npos);
    EXPECT_TRUE(Empty(FromBytes(jpeg.substr(0, 2) + jpeg.substr(sos)))) << "a scan before any frame header";
    EXPECT_TRUE(Empty(FromBytes("GIF89a\0\0\x10\0")));
    EXPECT_TRUE(Empty(FromBytes("RIFF\x10\0\0\0WAVEfmt ")));
    EXPECT_TRUE(Empty(FromBytes(std::string())));
}

TEST_F(ImageInfo, TiffOrientationAndSamples)
{
    // Little-endian: width 40, height 30, three 8-bit samples at an offset, orientation 6.
    std::string t = std::string("II*\0\x08\0\0\0", 8);
    const auto entry = [](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        std::string e(12, '\0');
        e[0] = char(tag), e[1] = char(tag >> 8), e[2] = char(type), e[3] = char(type >> 8);
        for (int i = 0; i < 4; ++i)
            e[4 + i] = char(count >> (8 * i)), e[8 + i] = char(value >> (8 * i));
        return e;
    };
    t += std::string("\x04\0", 2) + entry(256, 3, 1, 40) + entry(257, 4, 1, 30) + entry(258, 3, 3, 62) +
         entry(274, 3, 1, 6) + std::string(4, '\0');
    t += std::string("\x08\0\x08\0\x08\0", 6);
    const imageInfo_t info = FromBytes(t);
    EXPECT_STREQ(info.name, "TIFF");
    EXPECT_EQ(info.kind, 0);
    EXPECT_EQ(info.width, 30) << "orientation 6 swaps the sides";
    EXPECT_EQ(info.height, 40);
    EXPECT_EQ(info.bitsPerPixel, 24);
    EXPECT_TRUE(Empty(FromBytes(t.substr(0, 60)))) << "the samples' offset lies past the end";
}
