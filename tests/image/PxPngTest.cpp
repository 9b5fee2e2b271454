// PNG files as ffmpeg writes them and as hand-made chunks describe them, reading at a reduced
// size, what our own files hold, and what an encode must never do to the image it encodes.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/ImageTestUtil.h"
#include "image/PngTestUtil.h"
#include "image/PxImage.h"
#include "image/PxImagePNG.h"

namespace {

// Alpha that ramps across the picture, with a fully transparent 8x8 corner.
const char* const kAlphaRamp =
    "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,8)*lt(Y,8),0,mod(X*9+Y*5,256))'";

struct PngSpec {
    std::string path;
    std::string pixelFormat;
    std::string filter;
    bool interlaced;
};

// One ffmpeg run writes every file: a one-frame testsrc picture as a PNG in each pixel format
// (ffmpeg's start costs more than the pictures, so the tests ask it seldom).
bool MakePngs(const std::vector<PngSpec>& specs, const std::string& size)
{
    std::vector<std::string> args{
        "ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i", "testsrc=size=" + size + ":d=1"};
    for (const PngSpec& spec : specs) {
        if (!spec.filter.empty())
            args.insert(args.end(), {"-vf", spec.filter});
        args.insert(args.end(), {"-frames:v", "1", "-pix_fmt", spec.pixelFormat});
        if (spec.interlaced)
            args.insert(args.end(), {"-flags", "+ildct"});
        args.push_back(spec.path);
    }
    return RunProgramQuietly(args);
}

std::string MakePng(const std::string& path, const std::string& pixelFormat, const std::string& size = "61x37")
{
    return MakePngs({{path, pixelFormat, "", false}}, size) ? ReadTestFile(path) : std::string();
}

// The pictures as ffmpeg decodes them, rows top-down, each in its raw format; one ffmpeg run.
std::vector<std::string> FfmpegDecodeAll(const std::vector<std::string>& paths, const std::vector<std::string>& formats)
{
    std::vector<std::string> args{"ffmpeg", "-v", "error", "-nostdin", "-y"};
    for (const std::string& path : paths)
        args.insert(args.end(), {"-i", path});
    for (size_t i = 0; i < paths.size(); ++i)
        args.insert(args.end(), {"-map", std::to_string(i) + ":v", "-f", "rawvideo", "-pix_fmt",
                                 formats[i < formats.size() ? i : 0], paths[i] + ".raw"});
    std::vector<std::string> out;
    const bool ok = RunProgramQuietly(args);
    for (const std::string& path : paths)
        out.push_back(ok ? ReadTestFile(path + ".raw") : std::string());
    return out;
}

// Pseudo-random pixels (and alpha), so block means and round trips have something to catch.
PxImage Noise(int32_t width, int32_t height, uint32_t bpp, bool alpha, uint32_t seed = 7)
{
    PxImage image(width, height, bpp);
    if (bpp <= 8)
        image.SetGrayPalette();
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image.GetRow(y);
        for (uint32_t i = 0; i < image.GetRowSize(); ++i) {
            seed = seed * 1103515245 + 12345;
            row[i] = uint8_t(seed >> 16);
        }
    }
    if (alpha) {
        image.AlphaCreate();
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                seed = seed * 1103515245 + 12345;
                image.AlphaSet(x, y, uint8_t(seed >> 16));
            }
    }
    return image;
}

uint8_t IhdrByte(const std::string& png, size_t field)
{
    return uint8_t(png[FindPngChunk(png, "IHDR") + 8 + field]);
}

class PxPng : public TempFolderTest {};

} // namespace

TEST_F(PxPng, FfmpegFilesDecodeToFfmpegsOwnPixelsAndBack)
{
    struct Case {
        const char* format;
        const char* filter;
        uint32_t bpp;
        bool alpha;
    };
    const Case cases[] = {
        {"rgb24", "", 24, false}, {"rgba", kAlphaRamp, 24, true}, {"gray", "", 8, false},
        {"pal8", "", 8, false},   {"monob", "", 1, false},        {"ya8", kAlphaRamp, 8, true},
    };
    std::vector<PngSpec> specs;
    for (const Case& c : cases)
        for (bool interlaced : {false, true})
            specs.push_back(
                {Path(std::string(c.format) + (interlaced ? "-adam7" : "") + ".png"), c.format, c.filter, interlaced});
    ASSERT_TRUE(MakePngs(specs, "61x37"));
    std::vector<std::string> paths;
    for (const PngSpec& spec : specs)
        paths.push_back(spec.path);
    const std::vector<std::string> expected = FfmpegDecodeAll(paths, {"rgba"});

    // Each decodes to what ffmpeg sees in it; ours, plain and Adam7, reads back in ffmpeg the same.
    std::vector<std::string> ours;
    for (size_t i = 0; i < specs.size(); ++i) {
        const Case& c = cases[i / 2];
        SCOPED_TRACE(specs[i].path);
        PxImage image;
        ASSERT_TRUE(DecodeBytes(image, ReadTestFile(specs[i].path), PXIMAGE_FORMAT_PNG)) << image.GetLastError();
        EXPECT_EQ(image.GetBpp(), c.bpp);
        EXPECT_EQ(image.AlphaIsValid(), c.alpha);
        EXPECT_EQ(image.GetCodecOption(PXIMAGE_FORMAT_PNG) & PXPNG_INTERLACED, specs[i].interlaced ? 1u : 0u);
        ASSERT_EQ(expected[i].size(), 61u * 37 * 4);
        EXPECT_TRUE(ImagePixels(image, true) == expected[i]) << "the pixels differ from ffmpeg's own decode";
        for (uint32_t option : {0u, PXPNG_INTERLACED}) {
            image.SetCodecOption(option, PXIMAGE_FORMAT_PNG);
            const std::string again = EncodeBytes(image, PXIMAGE_FORMAT_PNG);
            ASSERT_FALSE(again.empty()) << image.GetLastError();
            EXPECT_EQ(IhdrByte(again, 12), option);
            ours.push_back(specs[i].path + ".ours" + std::to_string(option) + ".png");
            WriteTestFile(ours.back(), again);
        }
    }
    const std::vector<std::string> back = FfmpegDecodeAll(ours, {"rgba"});
    for (size_t i = 0; i < ours.size(); ++i)
        EXPECT_TRUE(back[i] == expected[i / 2]) << ours[i];
}

TEST_F(PxPng, SixteenBitSamplesKeepTheirHighByte)
{
    const std::vector<std::string> formats{"rgb48be", "gray16be", "rgba64be"};
    std::vector<PngSpec> specs;
    std::vector<std::string> paths;
    for (const std::string& format : formats) {
        paths.push_back(Path(format + ".png"));
        specs.push_back({paths.back(), format, format == "rgba64be" ? kAlphaRamp : "", false});
    }
    ASSERT_TRUE(MakePngs(specs, "29x11"));
    const std::vector<std::string> wide = FfmpegDecodeAll(paths, formats);
    for (size_t k = 0; k < formats.size(); ++k) {
        SCOPED_TRACE(formats[k]);
        const bool alpha = formats[k] == "rgba64be", grey = formats[k] == "gray16be";
        PxImage image;
        ASSERT_TRUE(DecodeBytes(image, ReadTestFile(paths[k]))) << image.GetLastError();
        std::string high;
        for (size_t i = 0; i < wide[k].size(); i += 2)
            high += wide[k][i];
        ASSERT_FALSE(high.empty());
        EXPECT_EQ(image.GetBpp(), grey ? 8u : 24u);
        std::string ours = ImagePixels(image, alpha);
        if (grey)
            for (size_t i = 0; i < ours.size() / 3; ++i)
                ours[i] = ours[3 * i];
        EXPECT_TRUE(ours.substr(0, high.size()) == high);
    }
}

TEST_F(PxPng, HandMadeDepthsTransparencyAndResolution)
{
    // 2-bit grey, plain and Adam7: a 4-bit image with the palette 0, 85, 170, 255.
    std::vector<uint8_t> values(13 * 9);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = uint8_t((i * 7 + i / 13) % 4);
    for (bool interlace : {false, true}) {
        PxImage image;
        ASSERT_TRUE(DecodeBytes(image, HandPng(13, 9, 2, 0, PngScanlines(values, 13, 9, 2, interlace), "", interlace)))
            << image.GetLastError();
        ASSERT_EQ(image.GetBpp(), 4u);
        EXPECT_EQ(image.GetPaletteColor(1).red, 85);
        EXPECT_EQ(image.GetPaletteColor(2).green, 170);
        EXPECT_EQ(image.GetPaletteColor(3).blue, 255);
        bool same = true;
        for (int32_t y = 0; y < 9; ++y)
            for (int32_t x = 0; x < 13; ++x)
                same = same && image.GetPixelIndex(x, 8 - y) == values[size_t(y) * 13 + x];
        EXPECT_TRUE(same) << "interlace " << interlace;
    }

    // A 16-entry palette with 3 tRNS values: those three entries take them, the rest stay opaque.
    std::string plte;
    for (int i = 0; i < 16; ++i)
        plte += std::string{char(i * 16), char(255 - i), char(i)};
    const std::vector<uint8_t> indices{0, 1, 2, 3, 15, 4};
    const std::string partial = HandPng(6, 1, 4, 3, PngScanlines(indices, 6, 1, 4, false),
                                        PngChunk("PLTE", plte) + PngChunk("tRNS", std::string("\x00\x40\x80", 3)));
    PxImage palette;
    ASSERT_TRUE(DecodeBytes(palette, partial)) << palette.GetLastError();
    EXPECT_TRUE(palette.IsPaletteAlphaEnabled());
    EXPECT_FALSE(palette.HasTransparentIndex());
    EXPECT_EQ(palette.GetPaletteColor(1).alpha, 0x40);
    EXPECT_EQ(palette.GetPaletteColor(2).alpha, 0x80);
    EXPECT_EQ(palette.GetPaletteColor(3).alpha, 255);
    EXPECT_EQ(palette.GetPaletteColor(15).alpha, 255);
    EXPECT_EQ(palette.GetPixelColor(4, 0).red, 0xF0);
    EXPECT_EQ(palette.GetImportantColorCount(), 16u);

    // One tRNS value: fully transparent names the transparent index; opaque names nothing.
    const auto single = [&](char alpha) {
        return HandPng(6, 1, 4, 3, PngScanlines(indices, 6, 1, 4, false),
                       PngChunk("PLTE", plte) + PngChunk("tRNS", std::string(1, alpha)));
    };
    PxImage keyed, opaque;
    ASSERT_TRUE(DecodeBytes(keyed, single('\0')));
    EXPECT_EQ(keyed.GetTransparentIndex(), 0);
    EXPECT_TRUE(keyed.IsTransparent(0, 0));
    EXPECT_FALSE(keyed.IsTransparent(1, 0));
    ASSERT_TRUE(DecodeBytes(opaque, single('\xFF')));
    EXPECT_FALSE(opaque.HasTransparentIndex());
    EXPECT_FALSE(opaque.IsTransparent(0, 0));
    EXPECT_EQ(opaque.GetPixelColor(0, 0).alpha, 255);

    // Grey and RGB keys; a 16-bit key keeps its high byte, an out-of-range key is no key.
    PxImage grey, grey16, rgb, outOfRange;
    ASSERT_TRUE(
        DecodeBytes(grey, HandPng(2, 1, 8, 0, std::string("\0\x07\x09", 3), PngChunk("tRNS", Be32(9).substr(2)))));
    EXPECT_EQ(grey.GetTransparentIndex(), 9);
    EXPECT_TRUE(grey.IsTransparent(1, 0));
    ASSERT_TRUE(DecodeBytes(grey16, HandPng(1, 1, 16, 0, std::string("\0\x12\x34", 3), PngChunk("tRNS", "\x12\x34"))));
    EXPECT_EQ(grey16.GetTransparentIndex(), 0x12);
    EXPECT_EQ(grey16.GetPixelIndex(0, 0), 0x12);
    const std::string key = std::string("\0\x01\0\x02\0\x03", 6);
    ASSERT_TRUE(
        DecodeBytes(rgb, HandPng(2, 1, 8, 2, std::string("\0\x01\x02\x03\x01\x02\x04", 7), PngChunk("tRNS", key))));
    EXPECT_TRUE(rgb.IsTransparent(0, 0));
    EXPECT_FALSE(rgb.IsTransparent(1, 0));
    EXPECT_EQ(rgb.GetTransparentColor().blue, 3);
    ASSERT_TRUE(DecodeBytes(
        outOfRange, HandPng(1, 1, 8, 0, std::string("\0\x07", 2), PngChunk("tRNS", std::string("\x01\x07", 2)))));
    EXPECT_FALSE(outOfRange.HasTransparentIndex());

    // Decoding into an image that had transparency: the new file's (none) is what counts.
    ASSERT_TRUE(DecodeBytes(keyed, partial));
    EXPECT_FALSE(keyed.HasTransparentIndex());
    ASSERT_TRUE(DecodeBytes(palette, HandPng(1, 1, 8, 0, std::string(2, '\0'))));
    EXPECT_FALSE(palette.IsPaletteAlphaEnabled());

    // Resolution: per metre gives dpi; without a unit there is only an aspect ratio, no dpi.
    PxImage metre, ratio;
    const auto phys = [](uint32_t x, uint32_t y, char unit) {
        return HandPng(1, 1, 8, 0, std::string(2, '\0'), PngChunk("pHYs", Be32(x) + Be32(y) + std::string(1, unit)));
    };
    ASSERT_TRUE(DecodeBytes(metre, phys(11811, 2835, 1)));
    EXPECT_EQ(metre.GetXDpi(), 300);
    EXPECT_EQ(metre.GetYDpi(), 72);
    ASSERT_TRUE(DecodeBytes(ratio, phys(1, 1, 0)));
    EXPECT_EQ(ratio.GetXDpi(), 96);
}

TEST_F(PxPng, ReducedLoadingAveragesBlocks)
{
    // Grey, grey with alpha, RGB and RGBA written by us at 1000 x 800, read at 250 x 200.
    for (uint32_t bpp : {8u, 24u})
        for (bool alpha : {false, true}) {
            SCOPED_TRACE(std::to_string(bpp) + (alpha ? " with alpha" : ""));
            PxImage source = Noise(1000, 800, bpp, alpha);
            if (alpha)
                for (int32_t y = 0; y < 4; ++y)
                    for (int32_t x = 0; x < 4; ++x)
                        source.AlphaSet(x + 8, y + 4, 0);
            const std::string file = EncodeBytes(source, PXIMAGE_FORMAT_PNG);
            ASSERT_FALSE(file.empty());
            PxImage reduced;
            reduced.SetRequestedSize(250, 200);
            ASSERT_TRUE(DecodeBytes(reduced, file)) << reduced.GetLastError();
            ASSERT_EQ(reduced.GetWidth(), 250);
            ASSERT_EQ(reduced.GetHeight(), 200);
            EXPECT_EQ(reduced.GetScale(), 4);
            EXPECT_EQ(reduced.AlphaIsValid(), alpha);
            int wrong = 0;
            for (int32_t y = 0; y < 200; ++y)
                for (int32_t x = 0; x < 250; ++x) {
                    uint64_t sum[3] = {0, 0, 0}, weight = 0;
                    for (int32_t dy = 0; dy < 4; ++dy)
                        for (int32_t dx = 0; dx < 4; ++dx) {
                            const RGBQuad c = source.GetPixelColorUnchecked(4 * x + dx, 4 * y + dy);
                            const uint32_t a = alpha ? c.alpha : 1;
                            sum[0] += uint64_t(c.blue) * a;
                            sum[1] += uint64_t(c.green) * a;
                            sum[2] += uint64_t(c.red) * a;
                            weight += a;
                        }
                    const RGBQuad got = reduced.GetPixelColorUnchecked(x, y);
                    const uint8_t blue = uint8_t(weight ? sum[0] / weight : 0);
                    const uint8_t expectAlpha = alpha ? uint8_t(weight / 16) : 255;
                    wrong += got.blue != blue || got.alpha != expectAlpha ||
                             (bpp == 24 && (got.green != uint8_t(weight ? sum[1] / weight : 0) ||
                                            got.red != uint8_t(weight ? sum[2] / weight : 0)));
                }
            EXPECT_EQ(wrong, 0) << "pixels that are not the mean of their 4 x 4 block";
            if (alpha) {
                const RGBQuad clear = reduced.GetPixelColorUnchecked(2, 1);
                EXPECT_EQ(clear.alpha, 0) << "a block of fully transparent pixels";
                EXPECT_EQ(clear.red | clear.green | clear.blue, 0);
            }
            PxImage inexact;
            inexact.SetRequestedSize(300, 200);
            ASSERT_TRUE(DecodeBytes(inexact, file));
            EXPECT_EQ(inexact.GetWidth(), 1000) << "no integer factor fits 300 x 200";
        }

    // Interlaced, palette and 16-bit files are read at full size whatever is asked.
    PxImage interlaced = Noise(100, 80, 24, false);
    interlaced.SetCodecOption(PXPNG_INTERLACED, PXIMAGE_FORMAT_PNG);
    PxImage palette = Noise(100, 80, 8, false);
    palette.SetPaletteColor(0, 1, 2, 3);
    for (PxImage* source : {&interlaced, &palette}) {
        PxImage full;
        full.SetRequestedSize(25, 20);
        ASSERT_TRUE(DecodeBytes(full, EncodeBytes(*source, PXIMAGE_FORMAT_PNG)));
        EXPECT_EQ(full.GetWidth(), 100);
        EXPECT_TRUE(ImagePixels(full) == ImagePixels(*source));
    }
    const std::string wide = MakePng(Path("48.png"), "rgb48be", "100x80");
    PxImage sixteen;
    sixteen.SetRequestedSize(25, 20);
    ASSERT_TRUE(DecodeBytes(sixteen, wide));
    EXPECT_EQ(sixteen.GetWidth(), 100);
}

TEST_F(PxPng, ReducedLoadingNeverHoldsTheWholePicture)
{
    // 10240 x 8800 x 3 bytes is more than an image may hold at all: only a reduced read works.
    const std::string file = FlatRgbPng(10240, 8800, 0x33, 0x66, 0x99);
    PxImage full(2, 2, 8);
    const std::string before = ImageFingerprint(full);
    EXPECT_FALSE(DecodeBytes(full, file, PXIMAGE_FORMAT_PNG));
    EXPECT_STREQ(full.GetLastError(), "PXIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(ImageFingerprint(full), before);

    PxImage reduced;
    reduced.SetRequestedSize(1024, 880);
    ASSERT_TRUE(DecodeBytes(reduced, file, PXIMAGE_FORMAT_PNG)) << reduced.GetLastError();
    EXPECT_EQ(reduced.GetWidth(), 1024);
    EXPECT_EQ(reduced.GetHeight(), 880);
    EXPECT_EQ(PxPack(reduced.GetPixelColor(0, 0)) & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(PxPack(reduced.GetPixelColor(1023, 879)) & 0xFFFFFF, 0x336699u);
}

TEST_F(PxPng, WhatOurFilesHold)
{
    // 8-bit grey: colour type 0 and no palette. 24 bits: type 2, a white background, 3780
    // pixels per metre at 96 dpi.
    PxImage grey = Noise(5, 3, 8, false);
    const std::string greyFile = EncodeBytes(grey, PXIMAGE_FORMAT_PNG);
    EXPECT_EQ(IhdrByte(greyFile, 9), 0);
    EXPECT_EQ(FindPngChunk(greyFile, "PLTE"), std::string::npos);
    PxImage rgb = Noise(5, 3, 24, false);
    const std::string rgbFile = EncodeBytes(rgb, PXIMAGE_FORMAT_PNG);
    EXPECT_EQ(IhdrByte(rgbFile, 9), 2);
    const size_t bkgd = FindPngChunk(rgbFile, "bKGD"), phys = FindPngChunk(rgbFile, "pHYs");
    ASSERT_NE(bkgd, std::string::npos);
    EXPECT_EQ(rgbFile.substr(bkgd + 8, 6), std::string("\0\xFF\0\xFF\0\xFF", 6));
    ASSERT_NE(phys, std::string::npos);
    EXPECT_EQ(rgbFile.substr(phys + 8, 9), Be32(3780) + Be32(3780) + "\x01");

    // The zlib level the option bits ask for shows in the zlib header of a flat picture, which
    // takes the full string search; 0 stores. Noise takes run-length matching below level 9,
    // which zlib's header calls its fastest.
    PxImage flat(40, 30, 24);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x)
            flat.SetPixelColorUnchecked(x, y, RGBQuad{uint8_t(x / 10 * 60), 90, uint8_t(y / 10 * 70), 0});
    for (PxImage* picture : {&flat, &rgb})
        for (uint32_t option : {2u, 4u, 6u, 0u}) {
            picture->SetCodecOption(option, PXIMAGE_FORMAT_PNG);
            const std::string file = EncodeBytes(*picture, PXIMAGE_FORMAT_PNG);
            const size_t idat = FindPngChunk(file, "IDAT");
            ASSERT_NE(idat, std::string::npos);
            const uint8_t level = uint8_t(file[idat + 9]) >> 6;
            if (picture == &flat || option == 6 || option == 2) {
                EXPECT_EQ(level, option == 6 ? 3 : option == 0 ? 2 : 0) << option;
            } else {
                EXPECT_EQ(level, 0) << option;
            }
            if (option == 2) {
                EXPECT_EQ(uint8_t(file[idat + 10]) & 6, 0) << "a stored block";
            }
            PxImage back;
            ASSERT_TRUE(DecodeBytes(back, file));
            EXPECT_TRUE(ImagePixels(back) == ImagePixels(*picture));
        }

    // A 1-bit or 4-bit palette 0, 1, ... is no grey ramp: its colours survive.
    for (uint32_t bpp : {1u, 4u}) {
        PxImage dark = Noise(9, 2, bpp, false);
        for (uint32_t i = 0; i < dark.GetNumColors(); ++i)
            dark.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(i), uint8_t(i));
        PxImage back;
        ASSERT_TRUE(DecodeBytes(back, EncodeBytes(dark, PXIMAGE_FORMAT_PNG)));
        EXPECT_TRUE(ImagePixels(back) == ImagePixels(dark)) << bpp;
    }

    // Pixels using indices past the important colours: the palette written covers them.
    PxImage few = Noise(16, 4, 8, false);
    for (int i = 0; i < 256; ++i)
        few.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(255 - i), uint8_t(i / 2));
    few.SetImportantColorCount(4);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, EncodeBytes(few, PXIMAGE_FORMAT_PNG))) << few.GetLastError();
    EXPECT_TRUE(ImagePixels(back) == ImagePixels(few));

    // The contact sheet's road: a BMP in memory, alpha removed, raised to 24 bits, a PNG.
    PxImage sheet;
    ASSERT_TRUE(DecodeBytes(sheet, EncodeBytes(grey, PXIMAGE_FORMAT_BMP), PXIMAGE_FORMAT_BMP));
    sheet.RemoveAlpha();
    ASSERT_TRUE(sheet.IsGrayScale());
    ASSERT_TRUE(sheet.IncreaseBitDepth(24));
    PxImage fromSheet;
    ASSERT_TRUE(DecodeBytes(fromSheet, EncodeBytes(sheet, PXIMAGE_FORMAT_PNG)));
    EXPECT_EQ(fromSheet.GetBpp(), 24u);
    EXPECT_TRUE(ImagePixels(fromSheet) == ImagePixels(grey));
}

TEST_F(PxPng, EncodingLeavesTheImageAsItWas)
{
    // Palettes with a transparent index other than 0 (written swapped with entry 0), palette
    // alpha, 24 bits with alpha and a transparent colour, grey with alpha, Adam7.
    PxImage eight = Noise(23, 7, 8, false);
    for (int i = 0; i < 256; ++i)
        eight.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(i * 3), uint8_t(255 - i), uint8_t(i));
    eight.SetTransparentIndex(5);
    eight.SetPixelIndex(3, 2, 5);
    eight.SetPixelIndex(4, 2, 0);
    PxImage four = Noise(23, 7, 4, false);
    four.SetStandardPalette();
    four.SetTransparentIndex(9);
    four.SetPixelIndex(0, 0, 9);
    PxImage one = Noise(23, 7, 1, false);
    one.SetTransparentIndex(1);
    PxImage alphaPalette = Noise(23, 7, 8, false);
    for (int i = 0; i < 256; ++i)
        alphaPalette.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(i), uint8_t(i), 255);
    alphaPalette.SetPaletteColor(7, 1, 2, 3, 99);
    alphaPalette.SetPaletteColor(3, 3, 3, 3, 0);
    alphaPalette.SetPaletteAlphaEnabled(true);
    alphaPalette.SetTransparentIndex(3);
    PxImage keyed = Noise(23, 7, 24, true);
    keyed.SetTransparentColor(keyed.GetPixelColor(6, 6));
    keyed.SetTransparentIndex(0);
    PxImage greyAlpha = Noise(23, 7, 8, true);
    PxImage adam7 = Noise(23, 7, 24, false);
    adam7.SetCodecOption(PXPNG_INTERLACED | 6, PXIMAGE_FORMAT_PNG);
    const std::pair<const char*, PxImage*> images[] = {
        {"8-bit keyed", &eight},  {"4-bit keyed", &four},     {"1-bit keyed", &one}, {"palette alpha", &alphaPalette},
        {"colour keyed", &keyed}, {"grey alpha", &greyAlpha}, {"adam7", &adam7}};
    for (const auto& [name, image] : images) {
        SCOPED_TRACE(name);
        const std::string before = ImageFingerprint(*image);
        const std::string pixels = ImagePixels(*image, true);
        const std::string file = EncodeBytes(*image, PXIMAGE_FORMAT_PNG);
        ASSERT_FALSE(file.empty()) << image->GetLastError();
        EXPECT_EQ(ImageFingerprint(*image), before) << "bpp " << image->GetBpp();
        PxImage back;
        ASSERT_TRUE(DecodeBytes(back, file)) << back.GetLastError();
        if (image != &keyed) {
            EXPECT_TRUE(ImagePixels(back, true) == pixels) << "bpp " << image->GetBpp();
        }
        // With palette alpha the file's alpha values say it all; otherwise the same pixels are
        // transparent, by index, by colour or by alpha.
        for (int32_t y = 0; y < 7 && image != &alphaPalette; ++y)
            for (int32_t x = 0; x < 23; ++x)
                ASSERT_EQ(back.IsTransparent(x, y), image->IsTransparent(x, y)) << x << "," << y;
    }
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, EncodeBytes(eight, PXIMAGE_FORMAT_PNG)));
    EXPECT_EQ(back.GetTransparentIndex(), 0) << "written as entry 0";
    EXPECT_EQ(back.GetPixelIndex(3, 2), 0);
    EXPECT_EQ(back.GetPixelIndex(4, 2), 5);

    // No PNG holds a palette with an alpha plane beside it: refused, nothing changed.
    PxImage paletteAlpha = Noise(4, 4, 4, true);
    const std::string refused = ImageFingerprint(paletteAlpha);
    EXPECT_EQ(EncodeBytes(paletteAlpha, PXIMAGE_FORMAT_PNG), "");
    EXPECT_STREQ(paletteAlpha.GetLastError(), "Error saving PNG file");
    EXPECT_EQ(ImageFingerprint(paletteAlpha), refused);

    // A write that fails, large (libpng's writes fail) or small (only the flush does).
    for (PxImage* image : {&keyed, &eight}) {
        PxImage large = Noise(300, 300, 24, image == &keyed);
        for (PxImage* target : {image, &large}) {
            const std::string before = ImageFingerprint(*target);
            FILE* full = fopen("/dev/full", "wb");
            ASSERT_NE(full, nullptr);
            EXPECT_FALSE(target->EncodeToStdio(full, PXIMAGE_FORMAT_PNG));
            EXPECT_STREQ(target->GetLastError(), "Error saving PNG file");
            fclose(full);
            EXPECT_EQ(ImageFingerprint(*target), before);
        }
    }
}

TEST_F(PxPng, DispatchCancelAndCutStreams)
{
    const std::string bytes = MakePng(Path("p.png"), "rgb24");
    ASSERT_FALSE(bytes.empty());
    PxImage detected;
    ASSERT_TRUE(DecodeBytes(detected, bytes, 0)) << "found after the decoders tried before it";
    EXPECT_EQ(detected.GetType(), PXIMAGE_FORMAT_PNG);
    EXPECT_STREQ(detected.GetLastError(), "");

    PxImage check;
    EXPECT_TRUE(check.CheckFormatMemory(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()),
                                        PXIMAGE_FORMAT_PNG));
    EXPECT_EQ(check.GetWidth(), 61);
    EXPECT_EQ(check.GetHeight(), 37);
    EXPECT_FALSE(check.IsValid());

    PxImage keep(2, 2, 8);
    const std::string before = ImageFingerprint(keep);
    keep.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(keep, bytes, PXIMAGE_FORMAT_PNG));
    EXPECT_STREQ(keep.GetLastError(), "Cancelled");
    EXPECT_EQ(ImageFingerprint(keep), before);

    // A file that ends inside its image data.
    const size_t idat = FindPngChunk(bytes, "IDAT");
    ASSERT_NE(idat, std::string::npos);
    PxImage cut(2, 2, 8);
    EXPECT_FALSE(DecodeBytes(cut, bytes.substr(0, idat + 8 + GetBe32(bytes, idat) / 2), PXIMAGE_FORMAT_PNG));
    EXPECT_STREQ(cut.GetLastError(), "Read Error");
    EXPECT_EQ(ImageFingerprint(cut), before);

    PxImage empty;
    PxMemFile memory;
    memory.Open();
    EXPECT_FALSE(empty.Encode(&memory, PXIMAGE_FORMAT_PNG));
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");
}

// The filter byte of every row of a file written without interlace, inflated from its IDATs.
std::vector<uint8_t> RowFilters(const std::string& png, size_t rowBytes, uint32_t rows)
{
    std::string z;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = GetBe32(png, at);
        if (png.compare(at + 4, 4, "IDAT") == 0)
            z += png.substr(at + 8, length);
        at += 12 + size_t(length);
    }
    std::string raw((rowBytes + 1) * rows, '\0');
    uLongf size = uLongf(raw.size());
    std::vector<uint8_t> filters;
    if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &size, reinterpret_cast<const Bytef*>(z.data()),
                   uLong(z.size())) != Z_OK ||
        size != raw.size())
        return filters;
    for (uint32_t y = 0; y < rows; ++y)
        filters.push_back(uint8_t(raw[y * (rowBytes + 1)]));
    return filters;
}

TEST_F(PxPng, EachPictureTakesOneFilterAndComesBackExactly)
{
    // A ramp along the rows, each row shifted by a scrambled amount, is predicted exactly from
    // the left (sub, 1); its turn by 90 degrees from above (up, 2); palette pictures are never
    // filtered; noise and flat colour take whatever weighs least. Every choice, at every level
    // and interlaced, gives back the very pixels and alpha.
    const int32_t w = 67, h = 45;
    const auto ramp = [](int32_t along, int32_t across) { return uint8_t(4 * along + 37 * across * across); };
    struct Case {
        const char* name;
        int expectFilter;
        std::function<uint8_t(int32_t, int32_t, int32_t)> value;
    };
    const std::vector<Case> cases = {
        {"rows", 1, [&](int32_t x, int32_t y, int32_t c) { return uint8_t(ramp(x, y) + 50 * c); }},
        {"columns", 2, [&](int32_t x, int32_t y, int32_t c) { return uint8_t(ramp(y, x) + 50 * c); }},
        {"flat", -1, [](int32_t, int32_t, int32_t c) { return uint8_t(90 + c); }},
        {"noise", -1, [](int32_t x, int32_t y, int32_t c) { return uint8_t((x * 7919 + y * 104729 + c * 31) >> 3); }},
    };
    for (const Case& test : cases)
        for (uint32_t bpp : {8u, 24u})
            for (bool alpha : {false, true}) {
                SCOPED_TRACE(std::string(test.name) + " " + std::to_string(bpp) + (alpha ? " with alpha" : ""));
                PxImage image(w, h, bpp);
                if (bpp == 8)
                    image.SetGrayPalette();
                if (alpha) {
                    ASSERT_TRUE(image.AlphaCreate());
                }
                const int32_t channels = bpp / 8;
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x) {
                        for (int32_t c = 0; c < channels; ++c)
                            image.GetRow(y)[channels * x + c] = test.value(x, y, c);
                        if (alpha)
                            image.AlphaSet(x, y, test.value(x, y, 3));
                    }
                for (uint32_t option : {0u, 2u, 4u, 6u, 0u | PXPNG_INTERLACED, 4u | PXPNG_INTERLACED}) {
                    image.SetCodecOption(option, PXIMAGE_FORMAT_PNG);
                    const std::string file = EncodeBytes(image, PXIMAGE_FORMAT_PNG);
                    PxImage back;
                    ASSERT_TRUE(DecodeBytes(back, file)) << option;
                    EXPECT_TRUE(ImagePixels(back, alpha) == ImagePixels(image, alpha)) << option;
                    if (option & PXPNG_INTERLACED)
                        continue;
                    const std::vector<uint8_t> filters =
                        RowFilters(file, size_t(w) * size_t(channels + (alpha ? 1 : 0)), uint32_t(h));
                    ASSERT_EQ(filters.size(), size_t(h)) << option;
                    const int expect = option == 2 ? 0 : test.expectFilter;
                    for (uint8_t f : filters)
                        EXPECT_EQ(f, expect >= 0 ? expect : filters[0]) << option;
                }
            }

    PxImage palette = Noise(w, h, 8, false);
    palette.SetPaletteColor(0, 1, 2, 3);
    const std::vector<uint8_t> filters = RowFilters(EncodeBytes(palette, PXIMAGE_FORMAT_PNG), size_t(w), uint32_t(h));
    ASSERT_EQ(filters.size(), size_t(h));
    EXPECT_EQ(std::count(filters.begin(), filters.end(), 0), h);
}
