// The corruption sweep every decoder's tests run: cuts, single-byte flips with a fixed seed,
// and header fields set to the values that break arithmetic. A decode either succeeds with a
// whole image or fails with a message and leaves the caller's image exactly as it was.
#pragma once

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
    uint32_t id;
};

// A header field: its offset, its width in bytes and whether it is stored big-endian.
struct Field {
    size_t offset;
    int width;
    bool bigEndian;
};

void PutField(std::string& s, const Field& f, uint32_t v)
{
    if (f.offset + size_t(f.width) > s.size())
        return;
    for (int i = 0; i < f.width; ++i) {
        const int shift = 8 * (f.bigEndian ? f.width - 1 - i : i);
        s[f.offset + size_t(i)] = char(v >> shift);
    }
}

class CorruptionTest : public TempFolderTest {
public:
    // Decodes into an image that already holds a picture and checks the promise.
    void Check(const std::string& what, const std::string& bytes, uint32_t typed = PXIMAGE_FORMAT_BMP)
    {
        PxImage image(3, 2, 8);
        image.SetGrayPalette();
        image.SetPixelIndex(1, 1, 77);
        const std::string before = ImageFingerprint(image);
        for (uint32_t id : {0u, typed}) {
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

// Cuts at every 64th of the length, 500 single-byte flips with a fixed seed, and each header
// field set to the values that break arithmetic.
void Sweep(CorruptionTest& test, const Sample& sample, const std::vector<Field>& fields, uint32_t seed)
{
    std::mt19937 random(seed);
    const std::string& good = sample.bytes;
    ASSERT_FALSE(good.empty()) << sample.name;
    for (size_t k = 0; k < 64; ++k)
        test.Check(sample.name + " cut at " + std::to_string(k) + "/64", good.substr(0, good.size() * k / 64),
                   sample.id);
    for (int i = 0; i < 500; ++i) {
        std::string flipped = good;
        const size_t at = random() % flipped.size();
        flipped[at] = char(uint8_t(flipped[at]) ^ uint8_t(1 + random() % 255));
        test.Check(sample.name + " flip at " + std::to_string(at), flipped, sample.id);
    }
    for (const Field& field : fields) {
        const uint32_t top = field.width == 4 ? 0xFFFFFFFFu : field.width == 2 ? 0xFFFFu : 0xFFu;
        for (uint32_t value : {0u, top, top >> 1, (top >> 1) + 1}) {
            std::string changed = good;
            PutField(changed, field, value);
            test.Check(sample.name + " field at " + std::to_string(field.offset) + " = " + std::to_string(value),
                       changed, sample.id);
        }
    }
}

} // namespace
