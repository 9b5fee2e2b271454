// Crops, borders, thumbnails, warps and turns by any angle.
#include <cmath>

#include <gtest/gtest.h>

#include "image/ImageTestUtil.h"
#include "image/PxImage.h"

namespace {

uint32_t Rgb(RGBQuad c)
{
    return PxPack(c) & 0xFFFFFF;
}

// Every pixel different: blue x, green y, red x + y.
PxImage Ramp(int32_t w, int32_t h, uint32_t bpp = 24)
{
    PxImage image(w, h, 24);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image.SetPixelColor(x, y, RGBQuad{uint8_t(x), uint8_t(y), uint8_t(x + y), 0});
    if (bpp != 24)
        image.DecreaseBpp(bpp, false);
    return image;
}

} // namespace

TEST(PxCrop, CropExpandAndThumbnail)
{
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        PxImage image = Ramp(10, 20, bpp);
        image.AlphaCreate();
        image.AlphaSet(2, 17, 9);
        PxImage whole;
        ASSERT_TRUE(image.Crop(0, 0, 10, 20, &whole));
        EXPECT_EQ(ImagePixels(whole, true), ImagePixels(image, true));
        EXPECT_FALSE(image.Crop(3, 0, 3, 20, &whole));
        PxImage top;
        ASSERT_TRUE(image.Crop(0, 0, 10, 5, &top));
        ASSERT_EQ(top.GetHeight(), 5);
        EXPECT_EQ(PxPack(top.GetPixelColor(2, 0)), PxPack(image.GetPixelColor(2, 15))) << "the top five rows";
        EXPECT_EQ(top.AlphaGet(2, 2), 9);

        PxImage wider;
        image.SelectionAddPixel(0, 0);
        ASSERT_TRUE(image.ExpandCentred(13, 20, RGBQuad{255, 255, 255, 0}, &wider));
        EXPECT_EQ(Rgb(wider.GetPixelColor(1, 4)), Rgb(image.GetPixelColor(0, 4))) << "one column on the left";
        EXPECT_EQ(wider.GetPixelColor(11, 4).red, 255) << "two on the right, in the colour";
        EXPECT_EQ(wider.GetPixelColor(0, 4).red, 255);
        EXPECT_TRUE(wider.SelectionIsInside(1, 0));
        EXPECT_FALSE(image.ExpandCentred(9, 20, RGBQuad{}, &wider));
        PxImage framed;
        ASSERT_TRUE(image.Expand(1, 2, 3, 4, RGBQuad{0, 0, 255, 0}, &framed));
        EXPECT_EQ(framed.GetWidth(), 14);
        EXPECT_EQ(framed.GetHeight(), 26);
        EXPECT_EQ(Rgb(framed.GetPixelColor(1, 4)), Rgb(image.GetPixelColor(0, 0))) << "bottom rows below it";
    }
    PxImage wide = Ramp(400, 200);
    PxImage thumb;
    ASSERT_TRUE(wide.Thumbnail(100, 100, RGBQuad{0, 255, 0, 0}, &thumb));
    ASSERT_EQ(thumb.GetWidth(), 100);
    ASSERT_EQ(thumb.GetHeight(), 100);
    EXPECT_EQ(thumb.GetPixelColor(50, 24).green, 255);
    EXPECT_EQ(thumb.GetPixelColor(50, 75).green, 255);
    EXPECT_NE(thumb.GetPixelColor(50, 25).green, 255) << "25 rows of border above and below";
    EXPECT_NE(thumb.GetPixelColor(50, 74).green, 255);
}

TEST(PxWarps, SkewAndCircleWarp)
{
    PxImage image = Ramp(30, 20);
    image.AlphaCreate();
    const std::string before = ImageFingerprint(image);
    for (bool interpolate : {false, true}) {
        PxImage copy(image, true);
        ASSERT_TRUE(copy.Skew(0, 0, 5, 5, interpolate));
        EXPECT_EQ(ImageFingerprint(copy), before) << "no gain, no change";
    }
    PxImage skewed(image, true);
    ASSERT_TRUE(skewed.Skew(1, 0, 0, 0, false));
    EXPECT_EQ(PxPack(skewed.GetPixelColor(3, 2)), PxPack(image.GetPixelColor(5, 2)));
    PxImage masked(image, true);
    masked.SelectionAddRect(PxRect{0, 20, 9, 0});
    ASSERT_TRUE(masked.Skew(1, 0, 0, 0, false));
    EXPECT_EQ(PxPack(masked.GetPixelColor(20, 2)), PxPack(image.GetPixelColor(20, 2))) << "outside the selection";

    // A twirl with no twist reads every pixel from its own side of the centre.
    PxImage halves(41, 21, 24);
    halves.FillRect(21, 0, 41, 21, RGBQuad{255, 255, 255, 0});
    ASSERT_TRUE(halves.CircleWarp(2, 100, 1e30f));
    int crossed = 0;
    for (int32_t y = 0; y < 21; ++y)
        for (int32_t x = 0; x < 41; ++x)
            if (x < 19 || x > 21)
                crossed += (halves.GetPixelColor(x, y).red == 255) != (x > 20);
    EXPECT_EQ(crossed, 0);
    for (int type : {-1, 0, 1, 3, 4}) {
        PxImage warped = Ramp(30, 20);
        EXPECT_TRUE(warped.CircleWarp(type, 0, 0)) << type;
    }
    PxImage nan = Ramp(8, 8);
    EXPECT_TRUE(nan.CircleWarp(2, 0, NAN));
}

TEST(PxRotate, AnyAngle)
{
    for (uint32_t bpp : {1u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        PxImage image = Ramp(7, 4, bpp);
        image.AlphaCreate();
        image.AlphaSet(6, 0, 3);
        PxImage quarter, turned;
        ASSERT_TRUE(image.RotateQuarterRight(&quarter));
        ASSERT_TRUE(image.RotateAngle(90, &turned));
        EXPECT_EQ(ImagePixels(turned, true), ImagePixels(quarter, true)) << "90 degrees is a quarter turn right";
        ASSERT_TRUE(image.RotateAngleInterpolated(90, &turned));
        EXPECT_EQ(ImagePixels(turned, true), ImagePixels(quarter, true));
        ASSERT_TRUE(image.RotateQuarterLeft(&quarter));
        ASSERT_TRUE(image.RotateAngle(-90, &turned));
        EXPECT_EQ(ImagePixels(turned, true), ImagePixels(quarter, true));
        ASSERT_TRUE(image.RotateHalf(&quarter));
        ASSERT_TRUE(image.RotateAngle(-180, &turned));
        EXPECT_EQ(ImagePixels(turned), ImagePixels(quarter));
        ASSERT_TRUE(image.RotateAngle(360, &turned));
        EXPECT_EQ(ImagePixels(turned), ImagePixels(image));
    }
    PxImage image = Ramp(40, 30);
    PxImage turned;
    ASSERT_TRUE(image.RotateAngle(45, &turned));
    EXPECT_EQ(turned.GetWidth(), 49);
    EXPECT_EQ(turned.GetHeight(), 49);
    EXPECT_FALSE(image.RotateAngle(NAN, &turned));
    const RGBQuad blue{255, 0, 0, 255};
    ASSERT_TRUE(image.RotateAngleInterpolated(30, &turned, PxImage::InterpCubicKeys, PxImage::OverflowColor, &blue,
                                              true, true));
    EXPECT_EQ(turned.GetWidth(), 40);
    EXPECT_EQ(Rgb(turned.GetPixelColor(0, 0)), Rgb(blue)) << "the corner turned in from outside";
    ASSERT_TRUE(
        image.RotateAngleInterpolated(0, &turned, PxImage::InterpBilinear, PxImage::OverflowColor, &blue, false, true));
    EXPECT_EQ(ImagePixels(turned), ImagePixels(image));

    // A turned rectangle comes out upright at its own size; no angle is a plain crop.
    PxImage box, plain;
    ASSERT_TRUE(image.CropRotatedRect(5, 3, 12, 8, 0.0001f, &box));
    ASSERT_TRUE(image.Crop(5, 3, 17, 11, &plain));
    EXPECT_EQ(ImagePixels(box), ImagePixels(plain));
    ASSERT_TRUE(image.CropRotatedRect(10, 2, 14, 9, 0.3f, &box));
    EXPECT_EQ(box.GetWidth(), 14);
    EXPECT_EQ(box.GetHeight(), 9);
    EXPECT_FALSE(image.CropRotatedRect(30, 2, 14, 9, 0.3f, &box)) << "a corner outside the image";
}
