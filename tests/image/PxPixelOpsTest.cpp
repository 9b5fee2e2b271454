// Pixels, palettes, the alpha plane, drawing, selections, depth changes, flips and mirrors.
#include <cstring>

#include <gtest/gtest.h>

#include "image/ImageTestUtil.h"
#include "image/PxImage.h"

namespace {

bool Same(RGBQuad a, RGBQuad b)
{
    return PxPack(a) == PxPack(b);
}

} // namespace

TEST(PxPalette, GrayTestsNearestSearchAndCounts)
{
    PxImage gray(4, 4, 8);
    gray.SetGrayPalette();
    EXPECT_TRUE(gray.IsGrayScale());
    PxImage mono(4, 4, 1);
    mono.SetGrayPalette();
    EXPECT_FALSE(mono.IsGrayScale()) << "entry 1 is 255, not 1";
    EXPECT_FALSE(PxImage(4, 4, 24).IsGrayScale());
    PxImage sixteen(4, 4, 4);
    sixteen.SetGrayPalette();
    EXPECT_EQ(sixteen.GetPaletteColor(3).red, 51);

    PxImage two(1, 1, 1);
    two.SetPaletteColor(0, 0, 0, 0);
    two.SetPaletteColor(1, 20, 20, 20);
    EXPECT_EQ(two.GetNearestIndex(RGBQuad{10, 10, 10, 0}), 0) << "a tie goes to the lower index";
    PxImage dup(1, 1, 8);
    dup.SetPaletteColor(5, 1, 2, 3);
    dup.SetPaletteColor(6, 1, 2, 3);
    EXPECT_EQ(dup.GetNearestIndex(RGBQuad{3, 2, 1, 0}), 5);
    dup.SetImportantColorCount(5);
    EXPECT_NE(dup.GetNearestIndex(RGBQuad{3, 2, 1, 0}), 5) << "only the important entries are searched";
    dup.SetImportantColorCount(300);
    EXPECT_EQ(dup.GetImportantColorCount(), 0u);
    sixteen.SetImportantColorCount(40);
    EXPECT_EQ(sixteen.GetImportantColorCount(), 16u);

    // A count kept from an earlier, larger palette must not reach past a new small one.
    dup.SetImportantColorCount(200);
    dup.Create(2, 2, 1);
    dup.GetNearestIndex(RGBQuad{9, 9, 9, 0});
    EXPECT_EQ(dup.GetImportantColorCount(), 0u);

    PxImage standard(1, 1, 8);
    standard.SetStandardPalette();
    const RGBQuad e9 = standard.GetPaletteColor(9);
    EXPECT_TRUE(e9.red == 0xa6 && e9.green == 0xca && e9.blue == 0xf0);
    EXPECT_EQ(standard.GetPaletteColor(255).red, 0xff);
}

TEST(PxPixels, IndexAndColourAtEveryDepth)
{
    for (uint32_t bpp : {1u, 4u, 8u}) {
        PxImage image(13, 3, bpp);
        const uint8_t top = uint8_t((1u << bpp) - 1);
        for (int x = 0; x < 13; ++x)
            image.SetPixelIndex(x, 1, uint8_t(x % (top + 1)));
        image.SetPixelIndex(12, 2, 0xFF);
        for (int x = 0; x < 13; ++x)
            EXPECT_EQ(image.GetPixelIndex(x, 1), x % (top + 1)) << bpp;
        EXPECT_EQ(image.GetPixelIndex(12, 2), top) << "masked to the depth";
        EXPECT_EQ(image.GetPixelIndex(11, 2), 0) << "a neighbour in the same byte is untouched";
    }
    PxImage palette(2, 2, 8);
    palette.SetTransparentIndex(7);
    EXPECT_EQ(palette.GetPixelIndex(-1, 0), 7);

    PxImage rgb(2, 2, 24);
    rgb.SetTransparentColor(RGBQuad{1, 2, 3, 99});
    rgb.SetPixelColor(1, 1, RGBQuad{10, 20, 30, 0});
    EXPECT_EQ(rgb.GetPixelColor(1, 1).alpha, 0) << "24-bit pixels take the background's fourth byte";
    EXPECT_EQ(rgb.GetPixelColorUnchecked(1, 1).alpha, 255);
    EXPECT_EQ(rgb.GetPixelColor(1, 1).red, 30);
    rgb.SetPixelColor(0, 0, ColorRef(0x00332211));
    EXPECT_EQ(rgb.GetPixelColor(0, 0).red, 0x11);
    EXPECT_EQ(rgb.GetPixelColor(0, 0).blue, 0x33);
    rgb.BlendPixelColor(1, 1, RGBQuad{255, 255, 255, 0}, 0.5f);
    EXPECT_EQ(rgb.GetPixelColor(1, 1).red, (255 * 128 + 30 * 128) >> 8);

    PxImage swap(9, 1, 1);
    swap.SetStandardPalette();
    swap.SetPixelIndex(3, 0, 1);
    swap.SwapIndex(0, 1);
    EXPECT_EQ(swap.GetPixelIndex(3, 0), 0);
    EXPECT_EQ(swap.GetPixelIndex(4, 0), 1);
    EXPECT_EQ(swap.GetPaletteColor(0).red, 255);
}

TEST(PxAlpha, PlaneOperations)
{
    PxImage image(3, 2, 24);
    image.RemoveAlpha();
    EXPECT_FALSE(image.AlphaIsValid());
    ASSERT_TRUE(image.AlphaCreate());
    image.AlphaSet(1, 1, 5);
    ASSERT_TRUE(image.AlphaCreate());
    EXPECT_EQ(image.AlphaGet(1, 1), 5) << "a second create keeps the plane";
    EXPECT_EQ(image.AlphaGet(3, 0), 0);
    image.AlphaSet(9, 9, 1);
    PxImage other(4, 4, 24);
    other.AlphaCreate();
    EXPECT_FALSE(image.AlphaCopy(other));
    EXPECT_EQ(image.AlphaGet(1, 1), 5);
    ASSERT_TRUE(image.AlphaFlip());
    EXPECT_EQ(image.AlphaGet(1, 0), 5);
    ASSERT_TRUE(image.AlphaMirror());
    EXPECT_EQ(image.AlphaGet(1, 0), 5);
    EXPECT_EQ(image.AlphaGet(0, 0), 255);

    PxImage split;
    ASSERT_TRUE(image.AlphaSplit(&split));
    EXPECT_EQ(split.GetBpp(), 8u);
    EXPECT_TRUE(split.IsGrayScale());
    EXPECT_EQ(split.GetPixelIndex(1, 0), 5);

    // Flattening: a plane of 0 against black gives black; 255 scales each channel by 255/256.
    PxImage strip(2, 1, 24);
    strip.SetPixelColor(0, 0, RGBQuad{255, 100, 7, 0});
    strip.AlphaCreate();
    strip.AlphaStrip();
    EXPECT_FALSE(strip.AlphaIsValid());
    EXPECT_EQ(strip.GetPixelColor(0, 0).blue, 254);
    EXPECT_EQ(strip.GetPixelColor(0, 0).green, (255 * 100) >> 8);
    strip.AlphaCreate();
    strip.AlphaClear();
    strip.AlphaStrip();
    EXPECT_TRUE(Same(strip.GetPixelColorUnchecked(0, 0, false), RGBQuad{0, 0, 0, 255}));

    PxImage palette(2, 1, 8);
    palette.SetTransparentIndex(3);
    palette.SetPixelIndex(1, 0, 3);
    ASSERT_TRUE(palette.AlphaFromTransparency());
    EXPECT_EQ(palette.AlphaGet(1, 0), 0);
    EXPECT_EQ(palette.AlphaGet(0, 0), 255);
}

TEST(PxDraw, LinesAndRectangles)
{
    PxImage image(6, 4, 24);
    const RGBQuad white{255, 255, 255, 0};
    image.DrawLine(0, 3, 0, 1, white);
    int lit = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            lit += image.GetPixelColor(x, y).red == 255;
    EXPECT_EQ(lit, 4);
    EXPECT_EQ(image.GetPixelColor(1, 0).red, 255);
    EXPECT_EQ(image.GetPixelColor(2, 1).red, 255);
    // A line from far outside costs nothing and draws only the part inside.
    image.DrawLine(INT32_MIN, INT32_MAX, 3, 3, white);
    EXPECT_EQ(image.GetPixelColor(5, 3).red, 255);

    PxImage rect(5, 3, 8);
    rect.SetGrayPalette();
    ASSERT_TRUE(rect.FillRect(0, 0, 5, 1, RGBQuad{200, 200, 200, 9}, true));
    EXPECT_EQ(rect.GetPixelIndex(4, 2), 200) << "the top of the picture is the last stored row";
    EXPECT_EQ(rect.GetPixelIndex(4, 1), 0);
    EXPECT_EQ(rect.AlphaGet(0, 2), 9);
    EXPECT_EQ(rect.AlphaGet(0, 1), 255);
    EXPECT_TRUE(rect.FillRect(50, 50, 90, 90, RGBQuad{1, 1, 1, 0}));
    EXPECT_FALSE(PxImage().FillRect(0, 0, 1, 1, RGBQuad{}));
}

TEST(PxSelection, ShapesBoxesAndPlanes)
{
    PxImage image(10, 10, 24);
    ASSERT_TRUE(image.SelectionAddRect(PxRect{5, 2, 1, 8}));
    PxRect box;
    image.SelectionGetBox(box);
    EXPECT_EQ(box.left, 1);
    EXPECT_EQ(box.right, 6);
    EXPECT_EQ(box.bottom, 2);
    EXPECT_EQ(box.top, 9);
    EXPECT_TRUE(image.SelectionIsInside(1, 8));
    EXPECT_FALSE(image.SelectionIsInside(6, 8));

    PxImage ellipse(10, 10, 24);
    EXPECT_FALSE(ellipse.SelectionAddEllipse(PxRect{0, 4, 8, 5}));
    EXPECT_TRUE(ellipse.SelectionAddEllipse(PxRect{0, 0, 8, 8}));
    EXPECT_TRUE(ellipse.SelectionIsInside(4, 4));
    EXPECT_FALSE(ellipse.SelectionIsInside(0, 0));

    PxImage inverted(4, 4, 24);
    inverted.SelectionCreate();
    ASSERT_TRUE(inverted.SelectionInvert());
    inverted.SelectionGetBox(box);
    EXPECT_EQ(box.right, 4);
    EXPECT_EQ(box.top, 4);
    EXPECT_EQ(inverted.SelectionGetValue(3, 3), 255);

    EXPECT_FALSE(image.SelectionSet(PxImage(10, 10, 24)));
    EXPECT_STREQ(image.GetLastError(), "PxImage::SelectionSet: wrong width or height, or image is not gray scale");

    PxImage flip(4, 10, 24);
    flip.SelectionAddRect(PxRect{0, 2, 0, 4});
    ASSERT_TRUE(flip.SelectionFlip());
    flip.SelectionGetBox(box);
    EXPECT_EQ(box.bottom, 5);
    EXPECT_EQ(box.top, 8);
    EXPECT_EQ(flip.SelectionGetValue(0, 7), 255);

    // Two triangles in one call, split by an x of -1.
    PxImage poly(20, 20, 24);
    const PxPoint points[] = {{1, 1}, {8, 1}, {8, 8}, {-1, -1}, {11, 11}, {18, 11}, {18, 18}};
    ASSERT_TRUE(poly.SelectionAddPolygon(points, 7));
    EXPECT_TRUE(poly.SelectionIsInside(7, 3));
    EXPECT_FALSE(poly.SelectionIsInside(2, 7));
    EXPECT_TRUE(poly.SelectionIsInside(17, 13));
    EXPECT_FALSE(poly.SelectionIsInside(10, 5));
    PxImage gray;
    ASSERT_TRUE(poly.SelectionToGray(&gray));
    PxImage back(20, 20, 24);
    ASSERT_TRUE(back.SelectionSet(gray));
    EXPECT_TRUE(back.SelectionIsInside(17, 13));
}

TEST(PxDepth, RaisingKeepsColoursAndHonoursCancel)
{
    PxImage image(7, 3, 8);
    image.SetStandardPalette();
    for (int x = 0; x < 7; ++x)
        image.SetPixelIndex(x, 2, uint8_t(30 * x));
    image.SetQuality(42);
    const std::string before = ImagePixels(image);
    EXPECT_FALSE(image.IncreaseBitDepth(16));
    EXPECT_FALSE(image.IncreaseBitDepth(4));

    PxImage cancelled(image, true);
    cancelled.SetEscape(1);
    EXPECT_FALSE(cancelled.IncreaseBitDepth(24));
    EXPECT_EQ(ImageFingerprint(cancelled), ImageFingerprint(image)) << "a cancel leaves the image as it was";

    ASSERT_TRUE(image.IncreaseBitDepth(24));
    EXPECT_EQ(image.GetBpp(), 24u);
    EXPECT_EQ(ImagePixels(image), before);
    ASSERT_TRUE(image.AlphaIsValid()) << "palette colours read opaque, so the plane is made";
    EXPECT_EQ(image.AlphaGet(3, 1), 255);
    EXPECT_EQ(image.GetQuality(), 42) << "settings survive the change of depth";
    EXPECT_TRUE(image.IncreaseBitDepth(24));

    PxImage small(5, 2, 1);
    small.SetStandardPalette();
    small.SetPixelIndex(4, 1, 1);
    ASSERT_TRUE(small.IncreaseBitDepth(8));
    EXPECT_EQ(small.GetPixelIndex(4, 1), 1);
    EXPECT_EQ(small.GetPaletteColor(1).red, 255);
}

TEST(PxTurns, FlipAndMirror)
{
    PxImage one(3, 1, 24);
    one.SetPixelColor(0, 0, RGBQuad{1, 2, 3, 0});
    const std::string before = ImageFingerprint(one);
    ASSERT_TRUE(one.FlipRows());
    EXPECT_EQ(ImageFingerprint(one), before);

    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        PxImage image(11, 3, bpp);
        image.SetStandardPalette();
        image.AlphaCreate();
        image.SetPixelColor(0, 0, RGBQuad{255, 255, 255, 0});
        image.AlphaSet(0, 0, 3);
        image.SelectionAddPixel(0, 0);
        ASSERT_TRUE(image.MirrorColumns());
        EXPECT_EQ(image.GetPixelColor(10, 0).red, 255) << bpp;
        EXPECT_EQ(image.GetPixelColor(0, 0).red, 0) << bpp;
        EXPECT_EQ(image.AlphaGet(10, 0), 3);
        EXPECT_TRUE(image.SelectionIsInside(10, 0));
        ASSERT_TRUE(image.FlipRows());
        EXPECT_EQ(image.GetPixelColor(10, 2).red, 255) << bpp;
        EXPECT_EQ(image.AlphaGet(10, 2), 3);
        EXPECT_TRUE(image.SelectionIsInside(10, 2));
    }
}
