// Damaged PNG files: cut short, single bytes flipped (with the damage sealed under a fresh CRC
// too, so it reaches the decoder rather than the checksum), header fields and chunk lengths set
// to the values that break arithmetic, palettes and tRNS counts that disagree with the image.
// A decode, at full size or reduced, either succeeds with a whole image or fails with a message
// and leaves the caller's image exactly as it was.
#include <climits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/ImageTestUtil.h"
#include "image/PngTestUtil.h"
#include "image/PxImage.h"

namespace {

struct Sample {
    std::string name;
    std::string bytes;
};

class PxPngCorruption : public TempFolderTest {
protected:
    std::vector<Sample> Samples()
    {
        std::vector<Sample> out;
        const std::vector<std::string> formats{"rgb24", "rgba", "pal8", "gray", "monob", "ya8", "rgb48be", "gray16be"};
        std::vector<std::string> args{"ffmpeg",
                                      "-v",
                                      "error",
                                      "-nostdin",
                                      "-y",
                                      "-f",
                                      "lavfi",
                                      "-i",
                                      "testsrc=size=23x17:d=1",
                                      "-vf",
                                      "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='X*11'"};
        for (const std::string& format : formats)
            args.insert(args.end(), {"-frames:v", "1", "-pix_fmt", format, Path(format + ".png")});
        EXPECT_TRUE(RunProgramQuietly(args));
        for (const std::string& format : formats)
            out.push_back({format, ReadTestFile(Path(format + ".png"))});

        // Our own Adam7 file with alpha, and hand-made ones: 2-bit Adam7, a tRNS longer than its
        // palette, a palette longer than the depth allows.
        PxImage adam7;
        EXPECT_TRUE(DecodeBytes(adam7, out[1].bytes));
        adam7.SetCodecOption(1, PXIMAGE_FORMAT_PNG);
        out.push_back({"adam7", EncodeBytes(adam7, PXIMAGE_FORMAT_PNG)});
        std::vector<uint8_t> values(23 * 17);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = uint8_t(i % 4);
        out.push_back({"2-bit adam7", HandPng(23, 17, 2, 0, PngScanlines(values, 23, 17, 2, true), "", 1)});
        std::string plte;
        for (int i = 0; i < 16; ++i)
            plte += std::string{char(i * 16), char(i), char(255 - i)};
        for (uint8_t& v : values)
            v = uint8_t(v * 5);
        out.push_back(
            {"tRNS past the palette", HandPng(23, 17, 4, 3, PngScanlines(values, 23, 17, 4, false),
                                              PngChunk("PLTE", plte) + PngChunk("tRNS", std::string(20, '\x10')))});
        for (uint8_t& v : values)
            v = uint8_t(v & 1);
        out.push_back({"palette past the depth",
                       HandPng(23, 17, 1, 3, PngScanlines(values, 23, 17, 1, false), PngChunk("PLTE", plte + plte))});
        for (const Sample& sample : out)
            EXPECT_GT(sample.bytes.size(), 8u) << sample.name;
        return out;
    }

    // Decodes into an image that already holds a picture, at full size and asked for half.
    void Check(const std::string& what, const std::string& bytes)
    {
        for (uint32_t id : {0u, 4u})
            for (bool reduced : {false, true}) {
                PxImage image(3, 2, 8);
                image.SetGrayPalette();
                image.SetPixelIndex(1, 1, 77);
                if (reduced)
                    image.SetRequestedSize(11, 8);
                const std::string before = ImageFingerprint(image);
                if (bytes.empty())
                    continue;
                if (DecodeBytes(image, bytes, id)) {
                    ASSERT_TRUE(image.IsValid()) << what;
                    ASSERT_GT(image.GetWidth(), 0) << what;
                    volatile uint32_t sum = 0;
                    for (int32_t y = 0; y < image.GetHeight(); y += 3)
                        for (int32_t x = 0; x < image.GetWidth(); x += 3)
                            sum = sum + PxPack(image.GetPixelColor(x, y));
                    continue;
                }
                ASSERT_STRNE(image.GetLastError(), "") << what;
                ASSERT_TRUE(ImageFingerprint(image) == before) << what << ": a failed decode changed the image";
            }
    }
};

} // namespace

TEST_F(PxPngCorruption, CutsFlipsAndHostileFields)
{
    std::mt19937 random(20261209);
    for (const Sample& sample : Samples()) {
        const std::string& good = sample.bytes;
        ASSERT_FALSE(good.empty());
        Check(sample.name, good);
        for (size_t k = 0; k < 64; ++k)
            Check(sample.name + " cut at " + std::to_string(k) + "/64", good.substr(0, good.size() * k / 64));
        for (int i = 0; i < 500; ++i) {
            std::string flipped = good;
            const size_t at = random() % flipped.size();
            flipped[at] = char(uint8_t(flipped[at]) ^ uint8_t(1 + random() % 255));
            Check(sample.name + " flip at " + std::to_string(at), flipped);
            Check(sample.name + " sealed flip at " + std::to_string(at), ResealPng(flipped));
        }
        // IHDR: width and height, then depth, colour type, compression, filter and interlace.
        for (size_t offset : {16, 20})
            for (uint32_t value : {0u, 1u, 0xFFFFFFFFu, uint32_t(INT_MAX), uint32_t(INT_MIN), 1000000u, 1000001u}) {
                std::string changed = good;
                changed.replace(offset, 4, Be32(value));
                Check(sample.name + " field " + std::to_string(offset) + "=" + std::to_string(value),
                      ResealPng(changed));
            }
        for (size_t offset : {24, 25, 26, 27, 28})
            for (int value : {0, 1, 2, 3, 4, 6, 7, 8, 16, 255}) {
                std::string changed = good;
                changed[offset] = char(value);
                Check(sample.name + " field " + std::to_string(offset) + "=" + std::to_string(value),
                      ResealPng(changed));
            }
        // Every chunk's length.
        for (size_t at = 8; at + 12 <= good.size(); at += 12 + GetBe32(good, at))
            for (uint32_t value : {0u, 1u, 0xFFFFFFFFu, uint32_t(INT_MAX), uint32_t(INT_MIN)}) {
                std::string changed = good;
                changed.replace(at, 4, Be32(value));
                Check(sample.name + " length at " + std::to_string(at) + "=" + std::to_string(value), changed);
            }
    }
}
