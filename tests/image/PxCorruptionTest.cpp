// Damaged BMP files: cut short, single bytes flipped, header fields set to the values that
// break arithmetic. A decode either succeeds with a whole image or fails with a message and
// leaves the caller's image exactly as it was.
#include <climits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/ImageTestUtil.h"
#include "image/PxImage.h"

namespace {

struct Sample {
    std::string name;
    std::string bytes;
};

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

class PxCorruption : public TempFolderTest {
protected:
    std::vector<Sample> Samples()
    {
        std::vector<Sample> out;
        for (const char* format : {"bgr24", "bgra", "pal8", "monob", "rgb4_byte", "rgb565"}) {
            const std::string bytes = MakeFfmpegImage(Path(std::string(format) + ".bmp"), format, "23x17");
            EXPECT_FALSE(bytes.empty()) << format;
            out.push_back({format, bytes});
        }
        out.push_back(
            {"rle8",
             RleFile(8, 1,
                     std::string("\x05\x07\x00\x03\x01\x02\x03\x00\x00\x00\x02\x01\x01\x09\x04\x00\x00\x00\x01", 19))});
        out.push_back(
            {"rle4",
             RleFile(4, 2, std::string("\x05\x17\x00\x05\x12\x34\x50\x00\x00\x00\x02\x02\x01\x03\x45\x00\x01", 17))});
        return out;
    }

    // Decodes into an image that already holds a picture and checks the promise.
    void Check(const std::string& what, const std::string& bytes)
    {
        PxImage image(3, 2, 8);
        image.SetGrayPalette();
        image.SetPixelIndex(1, 1, 77);
        const std::string before = ImageFingerprint(image);
        for (uint32_t id : {0u, 1u}) {
            if (bytes.empty())
                continue;
            const bool ok = DecodeBytes(image, bytes, id);
            if (ok) {
                ASSERT_TRUE(image.IsValid()) << what;
                ASSERT_GT(image.GetWidth(), 0) << what;
                // Reading every pixel of the result is safe.
                volatile uint32_t sum = 0;
                for (int32_t y = 0; y < image.GetHeight(); y += 7)
                    for (int32_t x = 0; x < image.GetWidth(); x += 7)
                        sum = sum + PxPack(image.GetPixelColor(x, y));
                return;
            }
            ASSERT_STRNE(image.GetLastError(), "") << what;
            ASSERT_TRUE(ImageFingerprint(image) == before) << what << ": a failed decode changed the image";
        }
    }
};

} // namespace

TEST_F(PxCorruption, CutsFlipsAndHostileHeaderFields)
{
    std::mt19937 random(20261209);
    for (const Sample& sample : Samples()) {
        const std::string& good = sample.bytes;
        ASSERT_FALSE(good.empty());
        for (size_t k = 0; k < 64; ++k)
            Check(sample.name + " cut at " + std::to_string(k) + "/64", good.substr(0, good.size() * k / 64));
        for (int i = 0; i < 500; ++i) {
            std::string flipped = good;
            const size_t at = random() % flipped.size();
            flipped[at] = char(uint8_t(flipped[at]) ^ uint8_t(1 + random() % 255));
            Check(sample.name + " flip at " + std::to_string(at), flipped);
        }
        // 32-bit fields of the file and information headers, then the 16-bit ones.
        for (size_t offset : {2, 10, 14, 18, 22, 30, 34, 38, 42, 46, 50})
            for (uint32_t value : {0u, 0xFFFFFFFFu, uint32_t(INT_MAX), uint32_t(INT_MIN)}) {
                std::string changed = good;
                PutLe32(changed, offset, value);
                Check(sample.name + " field " + std::to_string(offset) + "=" + std::to_string(value), changed);
            }
        for (size_t offset : {26, 28})
            for (uint16_t value :
                 {uint16_t(0), uint16_t(0xFFFF), uint16_t(0x7FFF), uint16_t(0x8000), uint16_t(2), uint16_t(32)}) {
                std::string changed = good;
                changed[offset] = char(value);
                changed[offset + 1] = char(value >> 8);
                Check(sample.name + " field " + std::to_string(offset) + "=" + std::to_string(value), changed);
            }
    }
}
