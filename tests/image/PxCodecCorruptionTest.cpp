// Damaged TGA, PCX, GIF, ICO, WBMP and SKA files: cut short, single bytes flipped, header
// fields set to the values that break arithmetic.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/CorruptionSweep.h"
#include "image/ImageTestUtil.h"
#include "image/PxImage.h"

namespace {

class PxCodecCorruption : public CorruptionTest {
public:
    Sample Ffmpeg(const std::string& format, const std::string& ext, uint32_t id, const std::string& size = "23x17")
    {
        const std::string bytes = MakeFfmpegImage(Path(format + "." + ext), format, size);
        EXPECT_FALSE(bytes.empty()) << format << "." << ext;
        return {format + "." + ext, bytes, id};
    }
};

// The screen, the global table flag and every image descriptor's fields.
std::vector<Field> GifFields(const std::string& gif)
{
    std::vector<Field> fields = {{6, 2, false}, {8, 2, false}, {10, 1, false}};
    size_t at = 13 + ((uint8_t(gif[10]) & 0x80) ? 3u << ((gif[10] & 7) + 1) : 0);
    while (at < gif.size() && fields.size() < 24) {
        const uint8_t c = uint8_t(gif[at]);
        if (c == 0x21) {
            fields.push_back({at + 2, 1, false});
            at += 2;
        } else if (c == 0x2C) {
            for (size_t f : {1, 3, 5, 7})
                fields.push_back({at + f, 2, false});
            fields.push_back({at + 9, 1, false});
            const uint8_t packed = uint8_t(gif[at + 9]);
            at += 10 + ((packed & 0x80) ? 3u << ((packed & 7) + 1) : 0);
            fields.push_back({at, 1, false});
            ++at;
        } else {
            break;
        }
        while (at < gif.size() && gif[at] != 0)
            at += 1 + uint8_t(gif[at]);
        ++at;
    }
    return fields;
}

} // namespace

TEST_F(PxCodecCorruption, TgaAndPcx)
{
    uint32_t seed = 3201;
    const std::vector<Field> tga = {{0, 1, false}, {1, 1, false},  {2, 1, false},  {3, 2, false},  {5, 2, false},
                                    {7, 1, false}, {12, 2, false}, {14, 2, false}, {16, 1, false}, {17, 1, false}};
    for (const char* format : {"bgr24", "bgra", "pal8", "gray"})
        Sweep(*this, Ffmpeg(format, "tga", PXIMAGE_FORMAT_TGA), tga, seed++);
    PxImage plain(13, 9, 24);
    plain.FillRect(2, 2, 8, 6, RGBQuad{1, 2, 3, 0});
    Sweep(*this, {"plain tga", EncodeBytes(plain, PXIMAGE_FORMAT_TGA), PXIMAGE_FORMAT_TGA}, tga, seed++);

    const std::vector<Field> pcx = {{0, 1, false}, {2, 1, false},  {3, 1, false},  {4, 2, false}, {6, 2, false},
                                    {8, 2, false}, {10, 2, false}, {65, 1, false}, {66, 2, false}};
    for (const char* format : {"rgb24", "pal8", "monob"})
        Sweep(*this, Ffmpeg(format, "pcx", PXIMAGE_FORMAT_PCX), pcx, seed++);
    PxImage four(11, 5, 4);
    four.SetPixelIndex(3, 3, 9);
    Sweep(*this, {"planar pcx", EncodeBytes(four, PXIMAGE_FORMAT_PCX), PXIMAGE_FORMAT_PCX}, pcx, seed++);
}

TEST_F(PxCodecCorruption, GifAndIco)
{
    uint32_t seed = 3301;
    std::vector<Sample> gifs = {Ffmpeg("pal8", "gif", PXIMAGE_FORMAT_GIF)};
    const std::string anim = Path("anim.gif");
    ASSERT_TRUE(RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                   "testsrc=size=23x17:rate=5:d=1", "-vf",
                                   "split[a][b];[a]palettegen[p];[b][p]paletteuse", anim}));
    gifs.push_back({"animation", ReadTestFile(anim), PXIMAGE_FORMAT_GIF});
    PxImage colour(19, 17, 24);
    colour.FillRect(0, 0, 9, 9, RGBQuad{50, 60, 70, 0});
    gifs.push_back({"tiles", EncodeBytes(colour, PXIMAGE_FORMAT_GIF), PXIMAGE_FORMAT_GIF});
    for (const Sample& sample : gifs)
        Sweep(*this, sample, GifFields(sample.bytes), seed++);

    std::vector<Sample> icos = {Ffmpeg("bgra", "ico", PXIMAGE_FORMAT_ICO), Ffmpeg("pal8", "ico", PXIMAGE_FORMAT_ICO)};
    PxImage indexed(9, 7, 4);
    indexed.SetPixelIndex(2, 2, 5);
    indexed.SetTransparentIndex(5);
    icos.push_back({"ours 4-bit", EncodeBytes(indexed, PXIMAGE_FORMAT_ICO), PXIMAGE_FORMAT_ICO});
    PxImage large(260, 3, 24);
    icos.push_back({"ours png", EncodeBytes(large, PXIMAGE_FORMAT_ICO), PXIMAGE_FORMAT_ICO});
    for (const Sample& sample : icos) {
        std::vector<Field> fields = {{0, 2, false}, {2, 2, false},  {4, 2, false}, {6, 1, false},
                                     {7, 1, false}, {14, 4, false}, {18, 4, false}};
        if (sample.bytes.size() >= 22) {
            const size_t body = GetLe32(sample.bytes, 18);
            for (size_t f : {0, 4, 8, 16, 32})
                fields.push_back({body + f, 4, false});
            fields.push_back({body + 14, 2, false});
        }
        Sweep(*this, sample, fields, seed++);
    }
}

TEST_F(PxCodecCorruption, WbmpAndSka)
{
    PxImage bits(37, 9, 1);
    bits.SetPixelIndex(5, 5, 1);
    Sweep(*this, {"wbmp", EncodeBytes(bits, PXIMAGE_FORMAT_WBMP), PXIMAGE_FORMAT_WBMP},
          {{0, 1, false}, {1, 1, false}, {2, 1, false}, {3, 1, false}}, 3401);
    PxImage palette(7, 5, 8);
    palette.SetPixelIndex(1, 1, 200);
    Sweep(*this, {"ska", EncodeBytes(palette, PXIMAGE_FORMAT_SKA), PXIMAGE_FORMAT_SKA},
          {{0, 2, false}, {2, 2, false}, {4, 1, false}, {5, 4, false}}, 3402);
}
