// JPEG with its EXIF block, WebP, and the turns EXIF orientation asks for: against ffmpeg
// and cjpeg where they can tell, and by hand-made blocks where they cannot.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "image/ImageTestUtil.h"
#include "image/PxImage.h"
#include "image/PxImageJPG.h"

namespace {

std::string Be16(uint32_t v)
{
    return std::string{char(v >> 8), char(v)};
}

std::string Be32(uint32_t v)
{
    return Be16(v >> 16) + Be16(v & 0xFFFF);
}

struct TiffEntry {
    uint16_t tag;
    uint16_t format;
    uint32_t count;
    std::string value; // big-endian bytes
};

// One directory at the given offset of the TIFF block; values over 4 bytes follow it.
std::string Directory(const std::vector<TiffEntry>& entries, uint32_t at, uint32_t next)
{
    std::string head = Be16(uint32_t(entries.size())), tail;
    const uint32_t dataAt = at + 2 + 12 * uint32_t(entries.size()) + 4;
    for (const TiffEntry& e : entries) {
        head += Be16(e.tag) + Be16(e.format) + Be32(e.count);
        if (e.value.size() > 4) {
            head += Be32(dataAt + uint32_t(tail.size()));
            tail += e.value;
        } else {
            head += e.value + std::string(4 - e.value.size(), '\0');
        }
    }
    return head + Be32(next) + tail;
}

uint32_t DirectorySize(const std::vector<TiffEntry>& entries)
{
    uint32_t n = 2 + 12 * uint32_t(entries.size()) + 4;
    for (const TiffEntry& e : entries)
        n += e.value.size() > 4 ? uint32_t(e.value.size()) : 0;
    return n;
}

TiffEntry Rational(uint16_t tag, uint32_t num, uint32_t den)
{
    return {tag, 5, 1, Be32(num) + Be32(den)};
}

TiffEntry Short(uint16_t tag, uint16_t v)
{
    return {tag, 3, 1, Be16(v)};
}

// A big-endian EXIF APP1 segment: resolution, orientation, an EXIF directory (ISO, user
// comment), and a second directory naming the thumbnail.
std::string ExifSegment(uint32_t xres, uint16_t unit, uint16_t orientation, uint16_t iso, const std::string& comment,
                        const std::string& thumbnail = std::string())
{
    std::vector<TiffEntry> sub = {Short(34855, iso), {37510, 7, uint32_t(comment.size()), comment}};
    std::vector<TiffEntry> ifd0 = {Rational(282, xres, 1),
                                   Rational(283, xres, 1),
                                   Short(296, unit),
                                   Short(274, orientation),
                                   {34665, 4, 1, Be32(0)}};
    const uint32_t ifd0Size = DirectorySize(ifd0);
    const uint32_t subAt = 8 + ifd0Size;
    ifd0.back().value = Be32(subAt);
    const uint32_t ifd1At = subAt + DirectorySize(sub);
    std::vector<TiffEntry> ifd1;
    if (!thumbnail.empty())
        ifd1 = {{513, 4, 1, Be32(0)}, {514, 4, 1, Be32(uint32_t(thumbnail.size()))}};
    const uint32_t thumbAt = ifd1At + DirectorySize(ifd1);
    if (!thumbnail.empty())
        ifd1[0].value = Be32(thumbAt);
    std::string tiff =
        "MM" + Be16(42) + Be32(8) + Directory(ifd0, 8, thumbnail.empty() ? 0 : ifd1At) + Directory(sub, subAt, 0);
    if (!thumbnail.empty())
        tiff += Directory(ifd1, ifd1At, 0) + thumbnail;
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    return "\xFF\xE1" + Be16(uint32_t(body.size()) + 2) + body;
}

// Puts segments right behind the start-of-image marker.
std::string WithSegments(const std::string& jpeg, const std::string& segments)
{
    return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

// The offset of the first marker of that kind, or npos.
size_t FindMarker(const std::string& jpeg, uint8_t marker)
{
    size_t at = 2;
    while (at + 4 <= jpeg.size() && uint8_t(jpeg[at]) == 0xFF) {
        if (uint8_t(jpeg[at + 1]) == marker)
            return at;
        at += 2 + (uint8_t(jpeg[at + 2]) << 8 | uint8_t(jpeg[at + 3]));
    }
    return std::string::npos;
}

PxImage Gradient(int32_t w, int32_t h)
{
    PxImage image(w, h, 24);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image.SetPixelColor(x, y, RGBQuad{uint8_t(x * 255 / w), uint8_t(y * 255 / h), uint8_t(128), 0});
    return image;
}

class PxJpeg : public TempFolderTest {};

} // namespace

TEST_F(PxJpeg, EncoderWritesWhatLibjpegsOwnToolWrites)
{
    PxImage image = Gradient(64, 48);
    image.SetQuality(85);
    const std::string before = ImageFingerprint(image);
    const std::string ours = EncodeBytes(image, PXIMAGE_FORMAT_JPG);
    ASSERT_FALSE(ours.empty()) << image.GetLastError();
    EXPECT_EQ(ImageFingerprint(image), before);

    // Default: JFIF in dots per inch at 96, 4:2:0 sampling.
    const size_t app0 = FindMarker(ours, 0xE0);
    ASSERT_NE(app0, std::string::npos);
    EXPECT_EQ(ours[app0 + 11], 1);
    EXPECT_EQ(ours.substr(app0 + 12, 4), Be16(96) + Be16(96));
    const size_t sof = FindMarker(ours, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(uint8_t(ours[sof + 9]), 3);
    EXPECT_EQ(uint8_t(ours[sof + 11]), 0x22);
    EXPECT_EQ(uint8_t(ours[sof + 14]), 0x11);

    // The quantisation tables are libjpeg's standard ones scaled for 85, as cjpeg writes them.
    const std::string ppm = "P6\n64 48\n255\n" + ImagePixels(image);
    WriteTestFile(Path("in.ppm"), ppm);
    const ToolRunResult cjpeg = [&] {
        ToolRunOptions options;
        options.searchPath = true;
        return RunProcess({"cjpeg", "-quality", "85", "-outfile", Path("ref.jpg"), Path("in.ppm")}, options);
    }();
    ASSERT_EQ(cjpeg.status, 0) << cjpeg.err;
    const std::string reference = ReadTestFile(Path("ref.jpg"));
    const size_t ourTables = FindMarker(ours, 0xDB), theirTables = FindMarker(reference, 0xDB);
    ASSERT_NE(theirTables, std::string::npos);
    EXPECT_EQ(ours.substr(ourTables, 134), reference.substr(theirTables, 134));

    // ffmpeg decodes our file to the picture we decode from it, within rounding.
    WriteTestFile(Path("ours.jpg"), ours);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, ours));
    EXPECT_EQ(back.GetType(), PXIMAGE_FORMAT_JPG);
    const std::string theirs = FfmpegPixels(Path("ours.jpg")), mine = ImagePixels(back);
    ASSERT_EQ(theirs.size(), mine.size());
    int worst = 0;
    for (size_t i = 0; i < mine.size(); ++i)
        worst = std::max(worst, std::abs(int(uint8_t(mine[i])) - int(uint8_t(theirs[i]))));
    EXPECT_LE(worst, 8);
}

TEST_F(PxJpeg, PalettesGreyPicturesAndQuality)
{
    PxImage colours(8, 8, 8);
    colours.SetStandardPalette();
    EXPECT_TRUE(EncodeBytes(colours, PXIMAGE_FORMAT_JPG).empty());
    EXPECT_STREQ(colours.GetLastError(), "JPEG can save only RGB or GreyScale images");

    PxImage grey(8, 8, 8);
    grey.SetGrayPalette();
    grey.FillRect(0, 0, 4, 8, RGBQuad{200, 200, 200, 0});
    const std::string one = EncodeBytes(grey, PXIMAGE_FORMAT_JPG);
    const size_t sof = FindMarker(one, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(uint8_t(one[sof + 9]), 1) << "a grey picture is one component";
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, one));
    EXPECT_EQ(back.GetBpp(), 8u);
    EXPECT_TRUE(back.IsGrayScale());
    EXPECT_NEAR(back.GetPixelIndex(1, 7), 200, 4);

    // Below 8 bits a grey palette is widened pixel by pixel, not read past the packed row.
    PxImage nibbles(40, 3, 4);
    for (int i = 0; i < 16; ++i)
        nibbles.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(i), uint8_t(i));
    ASSERT_TRUE(nibbles.IsGrayScale());
    nibbles.SetPixelIndex(39, 1, 15);
    PxImage fromNibbles;
    ASSERT_TRUE(DecodeBytes(fromNibbles, EncodeBytes(nibbles, PXIMAGE_FORMAT_JPG)));
    EXPECT_EQ(fromNibbles.GetWidth(), 40);

    // A quality above 100 writes the finest tables rather than failing.
    PxImage fine = Gradient(16, 16);
    fine.SetQuality(250);
    const std::string best = EncodeBytes(fine, PXIMAGE_FORMAT_JPG);
    const size_t dqt = FindMarker(best, 0xDB);
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(best.substr(dqt + 5, 64), std::string(64, '\x01'));
}

TEST_F(PxJpeg, DecoderScaleDensitySizeQueryAndDamage)
{
    PxImage big = Gradient(1000, 800);
    const std::string file = EncodeBytes(big, PXIMAGE_FORMAT_JPG);
    PxImage half;
    half.SetJpegScale(2);
    ASSERT_TRUE(DecodeBytes(half, file));
    EXPECT_EQ(half.GetWidth(), 500);
    EXPECT_EQ(half.GetHeight(), 400);

    std::string dpcm = file;
    const size_t app0 = FindMarker(dpcm, 0xE0);
    dpcm[app0 + 11] = 2;
    dpcm.replace(app0 + 12, 4, Be16(38) + Be16(38));
    PxImage metric;
    ASSERT_TRUE(DecodeBytes(metric, dpcm));
    EXPECT_EQ(metric.GetXDpi(), 97);

    PxImage query;
    query.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(query, file, PXIMAGE_FORMAT_JPG));
    EXPECT_FALSE(query.IsValid());
    EXPECT_EQ(query.GetWidth(), 1000);

    PxMemFile empty;
    empty.Open();
    PxImage nothing;
    EXPECT_FALSE(nothing.Decode(&empty, PXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(nothing.GetLastError(), "Empty input file");

    PxImage cut;
    ASSERT_TRUE(DecodeBytes(cut, file.substr(0, file.size() / 2))) << "a cut file gives the rows it holds";
    EXPECT_EQ(cut.GetHeight(), 800);
    EXPECT_NEAR(cut.GetPixelColor(10, 799).red, big.GetPixelColor(10, 799).red, 3);
}

TEST_F(PxJpeg, ExifResolutionOrientationCommentAndThumbnail)
{
    PxImage small = Gradient(8, 4);
    small.SetPixelColor(7, 3, RGBQuad{0, 0, 255, 0});
    const std::string thumbnail = EncodeBytes(small, PXIMAGE_FORMAT_JPG);
    PxImage picture = Gradient(30, 20);
    const std::string plain = EncodeBytes(picture, PXIMAGE_FORMAT_JPG);

    const std::string tagged =
        WithSegments(plain, ExifSegment(72, 2, 6, 2, std::string("ASCII\0\0\0word   ", 15), thumbnail));
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, tagged));
    const JpegExifInfo& exif = image.GetExifInfo();
    EXPECT_TRUE(exif.isExif);
    EXPECT_EQ(image.GetXDpi(), 72);
    EXPECT_EQ(exif.isoEquivalent, 400);
    EXPECT_STREQ(exif.comments, "word");
    EXPECT_EQ(exif.orientation, 6);
    ASSERT_TRUE(image.ApplyOrientation(0));
    EXPECT_EQ(image.GetWidth(), 20) << "orientation 6 turns the picture right";
    EXPECT_EQ(image.GetOrientation(), 1);

    PxImage centimetres;
    ASSERT_TRUE(DecodeBytes(centimetres, WithSegments(plain, ExifSegment(118, 3, 1, 100, "x"))));
    EXPECT_EQ(centimetres.GetXDpi(), 299);
    EXPECT_EQ(centimetres.GetExifInfo().isoEquivalent, 100);

    WriteTestFile(Path("tagged.jpg"), tagged);
    PxImage extractor;
    ASSERT_TRUE(
        extractor.ExtractJpegThumbnail(Path("tagged.jpg").c_str(), Path("thumb.jpg").c_str(), PXIMAGE_FORMAT_JPG))
        << extractor.GetLastError();
    PxImage thumb(Path("thumb.jpg").c_str(), 0);
    ASSERT_TRUE(thumb.IsValid());
    EXPECT_EQ(thumb.GetWidth(), 4) << "the thumbnail is turned as the picture is";
    EXPECT_EQ(thumb.GetHeight(), 8);

    // The same object that decoded a JPEG with EXIF keeps the block when it writes again.
    PxImageJPG codec;
    PxMemFile in(reinterpret_cast<uint8_t*>(const_cast<char*>(tagged.data())), int32_t(tagged.size()));
    ASSERT_TRUE(codec.Decode(&in));
    PxMemFile out;
    out.Open();
    ASSERT_TRUE(codec.Encode(&out)) << codec.GetLastError();
    const std::string again(reinterpret_cast<char*>(out.GetBuffer(false)), size_t(out.Size()));
    EXPECT_EQ(uint8_t(again[3]), 0xE1) << "the EXIF block comes right after the start of the image";
    EXPECT_EQ(FindMarker(again, 0xE0), std::string::npos);
    PxImage reread;
    ASSERT_TRUE(DecodeBytes(reread, again));
    EXPECT_EQ(reread.GetExifInfo().isoEquivalent, 400);
}

TEST_F(PxJpeg, ExifReaderRefusesBrokenBlocks)
{
    // Five directories, each linking to the next one.
    std::string tiff = "MM" + Be16(42) + Be32(8);
    for (int level = 0; level < 6; ++level)
        tiff += Be16(1) + Be16(34665) + Be16(4) + Be32(1) + Be32(8 + 18 * uint32_t(level + 1)) + Be32(0);
    const std::string deep = std::string("Exif\0\0", 6) + tiff;
    PxImageJPG::ExifReader reader;
    EXPECT_TRUE(reader.ProcessExif(reinterpret_cast<const uint8_t*>(deep.data()), uint32_t(deep.size())))
        << "a sub-directory's failure does not fail its parent";
    EXPECT_STREQ(reader.GetLastError(), "Maximum directory nesting exceeded (corrupt exif header)");

    // A directory that links to itself ends, and a value pointing past the block is refused.
    std::string loop =
        "MM" + Be16(42) + Be32(8) + Be16(1) + Be16(271) + Be16(2) + Be32(3) + std::string("ab\0\0", 4) + Be32(8);
    loop = std::string("Exif\0\0", 6) + loop;
    PxImageJPG::ExifReader looping;
    looping.ProcessExif(reinterpret_cast<const uint8_t*>(loop.data()), uint32_t(loop.size()));
    EXPECT_STREQ(looping.Info()->cameraMake, "ab");
    std::string outside =
        "MM" + Be16(42) + Be32(8) + Be16(1) + Be16(271) + Be16(2) + Be32(64) + Be32(0xFFFFFFF0) + Be32(0);
    outside = std::string("Exif\0\0", 6) + outside;
    PxImageJPG::ExifReader far;
    EXPECT_FALSE(far.ProcessExif(reinterpret_cast<const uint8_t*>(outside.data()), uint32_t(outside.size())));
    EXPECT_STREQ(far.GetLastError(), "Illegal pointer offset value in EXIF.");

    // Twenty kept sections before the scan are too many.
    const std::string plain = EncodeBytes(*std::make_unique<PxImage>(Gradient(8, 8)), PXIMAGE_FORMAT_JPG);
    std::string many;
    for (int i = 0; i < 20; ++i)
        many += "\xFF\xE2" + Be16(4) + "ab";
    PxMemFile in(reinterpret_cast<uint8_t*>(const_cast<char*>(plain.data())), 0);
    const std::string crowded = WithSegments(plain, many);
    PxMemFile crowd(reinterpret_cast<uint8_t*>(const_cast<char*>(crowded.data())), int32_t(crowded.size()));
    PxImageJPG::ExifReader sections;
    EXPECT_FALSE(sections.ReadSections(&crowd, 1));
    EXPECT_STREQ(sections.GetLastError(), "Too many sections in jpg file");
}

TEST_F(PxJpeg, WebpRoundTripsAndRefusals)
{
    PxImage picture = Gradient(40, 30);
    picture.FillRect(0, 0, 8, 8, RGBQuad{0, 0, 255, 0});
    const std::string before = ImageFingerprint(picture);
    const std::string lossy = EncodeBytes(picture, PXIMAGE_FORMAT_WEBP);
    ASSERT_FALSE(lossy.empty()) << picture.GetLastError();
    EXPECT_EQ(ImageFingerprint(picture), before);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, lossy));
    EXPECT_GT(back.GetPixelColor(0, 29).red, 150) << "the top left stays the top left";
    EXPECT_FALSE(back.AlphaIsValid());

    // ffmpeg's lossless files, with and without alpha, come back pixel for pixel.
    PxImage translucent = Gradient(33, 21);
    translucent.AlphaCreate();
    for (int32_t y = 0; y < 21; ++y)
        for (int32_t x = 0; x < 33; ++x)
            translucent.AlphaSet(x, y,
                                 uint8_t(1 + x * 7 + y)); // never 0: lossless WebP may drop the colour of clear pixels
    for (bool alpha : {true, false}) {
        SCOPED_TRACE(alpha);
        if (!alpha)
            translucent.RemoveAlpha();
        WriteTestFile(Path("src.bmp"), EncodeBytes(translucent, PXIMAGE_FORMAT_BMP));
        ToolRunOptions options;
        options.searchPath = true;
        ASSERT_EQ(RunProcess({"ffmpeg", "-v", "error", "-y", "-i", Path("src.bmp"), "-c:v", "libwebp", "-lossless", "1",
                              Path("w.webp")},
                             options)
                      .status,
                  0);
        PxImage webp;
        ASSERT_TRUE(DecodeBytes(webp, ReadTestFile(Path("w.webp"))));
        EXPECT_EQ(webp.AlphaIsValid(), alpha);
        EXPECT_TRUE(ImagePixels(webp, alpha) == ImagePixels(translucent, alpha));
    }

    PxImage palette(6, 6, 8);
    palette.SetStandardPalette();
    palette.FillRect(0, 0, 6, 6, RGBQuad{0, 0, 255, 0});
    PxImage fromPalette;
    ASSERT_TRUE(DecodeBytes(fromPalette, EncodeBytes(palette, PXIMAGE_FORMAT_WEBP)));
    EXPECT_GT(fromPalette.GetPixelColor(2, 2).red, 100);

    PxImage refused;
    EXPECT_FALSE(DecodeBytes(refused, "RIFF\x10\0\0\0WAVEfmt ", PXIMAGE_FORMAT_WEBP));
    EXPECT_FALSE(DecodeBytes(refused, "RIFF", PXIMAGE_FORMAT_WEBP));
    EXPECT_FALSE(DecodeBytes(refused, "junk" + lossy, PXIMAGE_FORMAT_WEBP))
        << "the decoder starts at the stream's very start";
}

TEST(PxTurnsQuarter, QuarterAndHalfTurnsAtEveryDepth)
{
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        // 3 x 2, with the right column lit; rows are stored bottom-up.
        PxImage image(3, 2, bpp);
        image.SetStandardPalette();
        image.AlphaCreate();
        image.SetPixelColor(2, 0, RGBQuad{255, 255, 255, 0});
        image.SetPixelColor(2, 1, RGBQuad{255, 255, 255, 0});
        image.AlphaSet(2, 1, 9);
        PxImage left;
        ASSERT_TRUE(image.RotateQuarterLeft(&left));
        EXPECT_EQ(left.GetWidth(), 2);
        EXPECT_EQ(left.GetHeight(), 3);
        // The old right column is the new top row.
        EXPECT_EQ(left.GetPixelColor(0, 2).red, 255);
        EXPECT_EQ(left.GetPixelColor(1, 2).red, 255);
        EXPECT_EQ(left.GetPixelColor(0, 0).red, 0);
        EXPECT_EQ(left.AlphaGet(0, 2), 9);

        PxImage right;
        ASSERT_TRUE(image.RotateQuarterRight(&right));
        EXPECT_EQ(right.GetPixelColor(0, 0).red, 255) << "turned right, the old right column is the bottom row";
        EXPECT_EQ(right.AlphaGet(1, 0), 9);

        ASSERT_TRUE(image.RotateHalf());
        EXPECT_EQ(image.GetPixelColor(0, 0).red, 255);
        EXPECT_EQ(image.GetPixelColor(2, 0).red, 0);
        EXPECT_EQ(image.AlphaGet(0, 0), 9);
    }
    PxImage untouched(3, 2, 24);
    const std::string before = ImageFingerprint(untouched);
    ASSERT_TRUE(untouched.ApplyOrientation(2));
    EXPECT_EQ(ImageFingerprint(untouched), before);
    EXPECT_EQ(untouched.GetOrientation(), 1);
}

TEST(PxEncoders, AFullDiskIsAFailureAndTheImageStaysAsItWas)
{
    PxImage image = Gradient(300, 200);
    image.AlphaCreate();
    const std::string before = ImageFingerprint(image);
    for (uint32_t id : {PXIMAGE_FORMAT_BMP, PXIMAGE_FORMAT_JPG, PXIMAGE_FORMAT_PNG, PXIMAGE_FORMAT_WEBP}) {
        FILE* full = fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        EXPECT_FALSE(image.EncodeToStdio(full, id)) << id;
        EXPECT_STRNE(image.GetLastError(), "") << id;
        fclose(full);
        EXPECT_EQ(ImageFingerprint(image), before) << id;
    }
}

// The contact sheet's road: a BMP in memory, alpha dropped, raised to 24 bits when it is grey,
// written as JPEG at quality 85 and as PNG.
TEST(PxContactSheetRoad, BmpInMemoryToJpeg)
{
    PxImage sheet(120, 90, 8);
    sheet.SetGrayPalette();
    sheet.FillRect(10, 10, 60, 40, RGBQuad{220, 220, 220, 0});
    sheet.AlphaCreate();
    const std::string bmp = EncodeBytes(sheet, PXIMAGE_FORMAT_BMP);
    PxImage image(reinterpret_cast<const uint8_t*>(bmp.data()), uint32_t(bmp.size()), PXIMAGE_FORMAT_BMP);
    ASSERT_TRUE(image.IsValid());
    image.RemoveAlpha();
    EXPECT_FALSE(image.AlphaIsValid());
    ASSERT_TRUE(image.IsGrayScale());
    ASSERT_TRUE(image.IncreaseBitDepth(24));
    image.SetQuality(85);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_JPG)) << image.GetLastError();
    PxImage jpeg(buffer, uint32_t(size), 0);
    PxImage::FreeEncodedBuffer(buffer);
    ASSERT_TRUE(jpeg.IsValid());
    EXPECT_EQ(jpeg.GetType(), PXIMAGE_FORMAT_JPG);
    EXPECT_NEAR(jpeg.GetPixelColor(20, 70).red, 220, 6);

    buffer = nullptr;
    ASSERT_TRUE(image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_PNG)) << image.GetLastError();
    PxImage png(buffer, uint32_t(size), 0);
    PxImage::FreeEncodedBuffer(buffer);
    ASSERT_TRUE(png.IsValid());
    EXPECT_EQ(png.GetType(), PXIMAGE_FORMAT_PNG);
    EXPECT_TRUE(ImagePixels(png) == ImagePixels(image)) << "PNG keeps every pixel";
}
