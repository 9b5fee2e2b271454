// Lowering the depth: the nearest-entry search by cells against the plain one, error diffusion
// against a straightforward in-place version, the grey conversion and the ten dither methods.
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "image/ImageTestUtil.h"
#include "image/PxImage.h"

namespace {

PxImage Photo(int32_t w, int32_t h, uint32_t seed)
{
    PxImage image(w, h, 24);
    std::mt19937 random(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image.SetPixelColor(
                x, y, RGBQuad{uint8_t(x * 3 + random() % 40), uint8_t(y * 5 + random() % 20), uint8_t(random()), 0});
    return image;
}

PxImage Gray(int32_t w, int32_t h, uint8_t level)
{
    PxImage image(w, h, 8);
    image.SetGrayPalette();
    image.Clear(level);
    return image;
}

// The diffusion as written out for one pixel at a time, changing the source itself: the error
// to the right (7/16) and to the three pixels of the next row (2/16, 4/16, 1/16).
std::vector<uint8_t> DiffusedIndices(PxImage source, const PxImage& palette)
{
    std::vector<uint8_t> out;
    const int32_t w = source.GetWidth(), h = source.GetHeight();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const RGBQuad c = source.GetPixelColorUnchecked(x, y, false);
            const uint8_t index = palette.GetNearestIndex(c);
            out.push_back(index);
            const RGBQuad s = palette.GetPaletteColor(index);
            const int e[3] = {c.red - s.red, c.green - s.green, c.blue - s.blue};
            const auto spread = [&](int32_t nx, int32_t ny, int weight) {
                if (!source.IsInsideImage(nx, ny))
                    return;
                RGBQuad n = source.GetPixelColorUnchecked(nx, ny, false);
                const auto add = [&](uint8_t v, int d) { return uint8_t(std::clamp(v + weight * d / 16, 0, 255)); };
                n = RGBQuad{add(n.blue, e[2]), add(n.green, e[1]), add(n.red, e[0]), 0};
                source.SetPixelColor(nx, ny, n);
            };
            spread(x + 1, y, 7);
            spread(x - 1, y + 1, 2);
            spread(x, y + 1, 4);
            spread(x + 1, y + 1, 1);
        }
    return out;
}

std::vector<uint8_t> Indices(const PxImage& image)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < image.GetHeight(); ++y)
        for (int32_t x = 0; x < image.GetWidth(); ++x)
            out.push_back(image.GetPixelIndex(x, y));
    return out;
}

double WhiteShare(const PxImage& image)
{
    double white = 0;
    for (int32_t y = 0; y < image.GetHeight(); ++y)
        for (int32_t x = 0; x < image.GetWidth(); ++x)
            white += image.GetPixelIndex(x, y);
    return white / (double(image.GetWidth()) * image.GetHeight());
}

} // namespace

TEST(PxDecreaseBpp, NearestEntriesAsThePlainSearchFindsThem)
{
    const PxImage photo = Photo(120, 90, 1);
    // The standard palettes, and a given palette with duplicates searched over its first 100.
    std::vector<RGBQuad> given(256);
    std::mt19937 random(2);
    for (RGBQuad& c : given)
        c = RGBQuad{uint8_t(random() & 0xF0), uint8_t(random() & 0xF0), uint8_t(random() & 0xF0), 0};
    for (uint32_t bpp : {8u, 4u, 1u})
        for (uint32_t count : {0u, 100u}) {
            SCOPED_TRACE(testing::Message() << bpp << " bits, " << count << " entries");
            PxImage image(photo, true);
            ASSERT_TRUE(image.DecreaseBpp(bpp, false, count ? given.data() : nullptr, count));
            ASSERT_EQ(image.GetBpp(), bpp);
            int wrong = 0;
            for (int32_t y = 0; y < 90; ++y)
                for (int32_t x = 0; x < 120; ++x)
                    wrong += image.GetPixelIndex(x, y) != image.GetNearestIndex(photo.GetPixelColorUnchecked(x, y));
            EXPECT_EQ(wrong, 0);
        }

    PxImage same = Gray(5, 5, 9);
    const std::string before = ImageFingerprint(same);
    EXPECT_TRUE(same.DecreaseBpp(8, true, nullptr, 0));
    EXPECT_EQ(ImageFingerprint(same), before);
    EXPECT_FALSE(same.DecreaseBpp(24, false));
    EXPECT_STREQ(same.GetLastError(), "DecreaseBpp: target BPP greater than source BPP");
}

TEST(PxDecreaseBpp, DiffusionAndCancel)
{
    PxImage photo = Photo(61, 23, 3);
    PxImage palette(1, 1, 4);
    palette.SetStandardPalette();
    PxImage image(photo, true);
    image.SelectionAddPixel(3, 4);
    image.AlphaCreate();
    ASSERT_TRUE(image.DecreaseBpp(4, true));
    EXPECT_EQ(Indices(image), DiffusedIndices(photo, palette));
    EXPECT_TRUE(image.SelectionIsInside(3, 4) && image.AlphaIsValid()) << "selection and alpha come along";

    // From a palette image the carried errors land on its own entries, as in place.
    PxImage indexed(photo, true);
    ASSERT_TRUE(indexed.DecreaseBpp(8, false));
    PxImage four(indexed, true);
    ASSERT_TRUE(four.DecreaseBpp(4, true));
    EXPECT_EQ(Indices(four), DiffusedIndices(indexed, palette));

    PxImage cancelled(photo, true);
    cancelled.SetEscape(1);
    EXPECT_FALSE(cancelled.DecreaseBpp(4, true));
    EXPECT_EQ(ImageFingerprint(cancelled), ImageFingerprint(photo)) << "a cancel leaves the image as it was";
}

TEST(PxGray, FromEveryDepth)
{
    PxImage rgb(3, 2, 24);
    rgb.SetPixelColor(1, 1, RGBQuad{10, 200, 90, 0});
    rgb.SetTransparentIndex(0);
    rgb.SetTransparentColor(RGBQuad{255, 255, 255, 0});
    ASSERT_TRUE(rgb.ConvertToGray());
    EXPECT_EQ(rgb.GetBpp(), 8u);
    EXPECT_TRUE(rgb.IsGrayScale());
    EXPECT_EQ(rgb.GetPixelIndex(1, 1), (10 * 117 + 200 * 601 + 90 * 306) >> 10);
    EXPECT_EQ(rgb.GetTransparentIndex(), 255) << "the background's grey level";

    PxImage sixteen(5, 1, 4);
    sixteen.SetStandardPalette();
    sixteen.SetPixelIndex(4, 0, 9); // ff:00:00
    ASSERT_TRUE(sixteen.ConvertToGray());
    EXPECT_EQ(sixteen.GetBpp(), 8u);
    EXPECT_EQ(sixteen.GetPixelIndex(4, 0), (255 * 306) >> 10);
}

TEST(PxDither, TheTenMethods)
{
    // Level 255 is white under the 4 x 4 table (its level wraps to 0).
    PxImage white = Gray(4, 4, 255);
    ASSERT_TRUE(white.DitherTo1Bit(1));
    EXPECT_EQ(WhiteShare(white), 1.0);

    PxImage half = Gray(4, 4, 128);
    ASSERT_TRUE(half.DitherTo1Bit(7));
    const int computed[16] = {0, 192, 48, 240, 128, 64, 176, 112, 32, 224, 16, 208, 160, 96, 144, 80};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(half.GetPixelIndex(i % 4, i / 4), computed[i] < 128 ? 1 : 0) << i;

    // One pixel wide: Floyd-Steinberg can only push its error straight down (5/16).
    PxImage column = Gray(1, 2, 100);
    ASSERT_TRUE(column.DitherTo1Bit(0));
    EXPECT_EQ(column.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(column.GetPixelIndex(0, 1), 1) << "100 + 100 * 5 / 16 passes the threshold";

    // Every method keeps about the share of light, and any other value is Floyd-Steinberg.
    for (uint32_t method = 0; method <= 9; ++method) {
        PxImage image = Gray(64, 64, 100);
        image.AlphaCreate();
        ASSERT_TRUE(image.DitherTo1Bit(method));
        EXPECT_EQ(image.GetBpp(), 1u);
        EXPECT_TRUE(image.AlphaIsValid());
        EXPECT_NEAR(WhiteShare(image), 100.0 / 255, 0.05) << "method " << method;
        EXPECT_EQ(image.GetPaletteColor(1).red, 255);
    }
    PxImage a = Gray(9, 9, 77), b = Gray(9, 9, 77);
    a.DitherTo1Bit(0);
    b.DitherTo1Bit(42);
    EXPECT_EQ(ImageFingerprint(a), ImageFingerprint(b));

    PxImage photo = Photo(30, 20, 4);
    const std::string before = ImageFingerprint(photo);
    photo.SetEscape(1);
    EXPECT_FALSE(photo.DitherTo1Bit(3));
    EXPECT_EQ(ImageFingerprint(photo), before) << "not even the grey conversion stays behind";
}
