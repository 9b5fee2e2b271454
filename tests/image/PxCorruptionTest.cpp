// Damaged BMP files: cut short, single bytes flipped, header fields set to the values that
// break arithmetic. A decode either succeeds with a whole image or fails with a message and
// leaves the caller's image exactly as it was.
#include <climits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/CorruptionSweep.h"
#include "image/ImageTestUtil.h"
#include "image/PxImage.h"

namespace {

// The fields of a JPEG's frame header (precision, height, width, components) and of every
// segment length up to it.
std::vector<Field> JpegFields(const std::string& jpeg)
{
    std::vector<Field> fields;
    size_t at = 2;
    while (at + 4 <= jpeg.size() && uint8_t(jpeg[at]) == 0xFF) {
        const uint8_t marker = uint8_t(jpeg[at + 1]);
        fields.push_back({at + 2, 2, true});
        if (marker == 0xC0 || marker == 0xC2) {
            fields.push_back({at + 4, 1, true});
            fields.push_back({at + 5, 2, true});
            fields.push_back({at + 7, 2, true});
            fields.push_back({at + 9, 1, true});
        }
        if (marker == 0xDA)
            break;
        at += 2 + (uint8_t(jpeg[at + 2]) << 8 | uint8_t(jpeg[at + 3]));
    }
    return fields;
}

std::string RleFile(uint16_t bits, uint32_t compression, const std::string& data)
{
    std::string h(54, '\0');
    h[0] = 'B';
    h[1] = 'M';
    const uint32_t entries = 1u << bits;
    PutLe32(h, 10, 54 + 4 * entries);
    PutLe32(h, 14, 40);
    PutLe32(h, 18, 9);
    PutLe32(h, 22, 5);
    h[26] = 1;
    h[28] = char(bits);
    PutLe32(h, 30, compression);
    PutLe32(h, 34, uint32_t(data.size()));
    std::string palette;
    for (uint32_t i = 0; i < entries; ++i)
        palette += std::string{char(i), char(i * 3), char(255 - i), 0};
    return h + palette + data;
}

class PxCorruption : public CorruptionTest {
public:
    std::vector<Sample> Samples()
    {
        std::vector<Sample> out;
        for (const char* format : {"bgr24", "bgra", "pal8", "monob", "rgb4_byte", "rgb565"}) {
            const std::string bytes = MakeFfmpegImage(Path(std::string(format) + ".bmp"), format, "23x17");
            EXPECT_FALSE(bytes.empty()) << format;
            out.push_back({format, bytes, PXIMAGE_FORMAT_BMP});
        }
        out.push_back(
            {"rle8",
             RleFile(8, 1,
                     std::string("\x05\x07\x00\x03\x01\x02\x03\x00\x00\x00\x02\x01\x01\x09\x04\x00\x00\x00\x01", 19)),
             PXIMAGE_FORMAT_BMP});
        out.push_back(
            {"rle4",
             RleFile(4, 2, std::string("\x05\x17\x00\x05\x12\x34\x50\x00\x00\x00\x02\x02\x01\x03\x45\x00\x01", 17)),
             PXIMAGE_FORMAT_BMP});
        return out;
    }
};

} // namespace

TEST_F(PxCorruption, CutsFlipsAndHostileHeaderFields)
{
    std::vector<Field> bmpFields;
    for (size_t offset : {2, 10, 14, 18, 22, 30, 34, 38, 42, 46, 50})
        bmpFields.push_back({offset, 4, false});
    bmpFields.push_back({26, 2, false});
    bmpFields.push_back({28, 2, false});
    uint32_t seed = 20261209;
    for (const Sample& sample : Samples())
        Sweep(*this, sample, bmpFields, seed++);
}

TEST_F(PxCorruption, JpegWithExifAndWebp)
{
    std::vector<Sample> jpegs;
    for (const char* format : {"yuvj420p", "yuvj444p", "gray"}) {
        const std::string path = Path(std::string(format) + ".jpg");
        jpegs.push_back({format, MakeFfmpegImage(path, format, "37x29"), PXIMAGE_FORMAT_JPG});
    }
    // Ours, with an EXIF block (little-endian, with a sub-directory) in front.
    PxImage picture(21, 13, 24);
    picture.FillRect(0, 0, 10, 6, RGBQuad{10, 200, 30, 0});
    const std::string ours = EncodeBytes(picture, PXIMAGE_FORMAT_JPG);
    std::string tiff = std::string("II*\0\x08\0\0\0", 8);
    tiff += std::string("\x03\0", 2);
    tiff += std::string("\x12\x01\x03\0\x01\0\0\0\x06\0\0\0", 12); // orientation 6
    tiff += std::string("\x1a\x01\x05\0\x01\0\0\0\x32\0\0\0", 12); // x resolution at 50
    tiff += std::string("\x69\x87\x04\0\x01\0\0\0\x3a\0\0\0", 12); // EXIF directory at 58
    tiff += std::string("\0\0\0\0", 4);
    tiff += std::string("\x48\0\0\0\x01\0\0\0", 8);                              // 72 / 1
    tiff += std::string("\x01\0\x27\x88\x03\0\x01\0\0\0\x02\0\0\0\0\0\0\0", 18); // ISO 2
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    std::string segment = "\xFF\xE1";
    segment += char((body.size() + 2) >> 8);
    segment += char((body.size() + 2) & 0xFF);
    jpegs.push_back({"exif", ours.substr(0, 2) + segment + body + ours.substr(2), PXIMAGE_FORMAT_JPG});
    PxImage check;
    ASSERT_TRUE(DecodeBytes(check, jpegs.back().bytes));
    ASSERT_EQ(check.GetExifInfo().isoEquivalent, 400) << "the hand-made block reads as meant";

    uint32_t seed = 7;
    for (const Sample& sample : jpegs)
        Sweep(*this, sample, JpegFields(sample.bytes), seed++);

    PxImage webp(19, 11, 24);
    webp.FillRect(0, 0, 9, 5, RGBQuad{200, 10, 30, 0});
    Sweep(*this, {"webp lossy", EncodeBytes(webp, PXIMAGE_FORMAT_WEBP), PXIMAGE_FORMAT_WEBP},
          {{4, 4, false}, {16, 4, false}, {26, 2, false}, {28, 2, false}}, seed++);
    webp.AlphaCreate();
    webp.AlphaSet(3, 3, 7);
    Sweep(*this, {"webp alpha", EncodeBytes(webp, PXIMAGE_FORMAT_WEBP), PXIMAGE_FORMAT_WEBP},
          {{4, 4, false}, {16, 4, false}}, seed++);
}
