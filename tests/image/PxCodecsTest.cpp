// TGA, PCX, GIF, ICO, WBMP and SKA: files ffmpeg writes read back to ffmpeg's own pixels and
// write back files ffmpeg reads the same; hand-made files for the layouts ffmpeg does not
// write; and no encoder changes the image it encodes, nor reports success on a failing stream.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "image/ImageTestUtil.h"
#include "image/PxImage.h"
#include "image/PxImageGIF.h"
#include "image/PxImageICO.h"
#include "image/PxImageWBMP.h"

namespace {

class PxCodecs : public TempFolderTest {
public:
    // Decodes the bytes, checks they read as ffmpeg reads the file, writes them back in the same
    // format (the image unchanged by it) and checks ffmpeg reads our file the same.
    void ReadAndWriteBack(const std::string& path, uint32_t id, const std::string& raw = "rgb24")
    {
        SCOPED_TRACE(path);
        const std::string bytes = ReadTestFile(path);
        ASSERT_FALSE(bytes.empty());
        PxImage image;
        ASSERT_TRUE(DecodeBytes(image, bytes, id)) << image.GetLastError();
        const bool alpha = raw == "rgba";
        const std::string expected = FfmpegPixels(path, raw);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(ImagePixels(image, alpha) == expected) << "the pixels differ from ffmpeg's own decode";

        const std::string before = ImageFingerprint(image);
        const std::string again = EncodeBytes(image, id);
        ASSERT_FALSE(again.empty()) << image.GetLastError();
        EXPECT_TRUE(ImageFingerprint(image) == before) << "encoding changed the image";
        const std::string ours = path + ".again." + path.substr(path.rfind('.') + 1);
        WriteTestFile(ours, again);
        EXPECT_TRUE(FfmpegPixels(ours, raw) == expected) << "ffmpeg reads our file as it read its own";
        PxImage back;
        ASSERT_TRUE(DecodeBytes(back, again, id)) << back.GetLastError();
        EXPECT_TRUE(ImagePixels(back, alpha) == expected) << "our own file reads back the same";
    }
};

std::string Raw(const std::vector<int>& bytes)
{
    std::string s;
    for (int b : bytes)
        s += char(b);
    return s;
}

std::string Le16s(uint32_t v)
{
    return Raw({int(v & 0xFF), int(v >> 8 & 0xFF)});
}

std::string TgaHeader(int mapType, int type, int mapLength, int mapBits, int width, int height, int depth,
                      int descriptor)
{
    return Raw({0, mapType, type, 0, 0}) + Le16s(uint32_t(mapLength)) + char(mapBits) + Raw({0, 0, 0, 0}) +
           Le16s(uint32_t(width)) + Le16s(uint32_t(height)) + char(depth) + char(descriptor);
}

// A picture with flat areas, stripes and noise, so that every coder meets runs, repeats and
// a full string table.
PxImage Mixed(int32_t width, int32_t height, uint32_t bpp, uint32_t seed)
{
    PxImage image(width, height, bpp);
    std::mt19937 random(seed);
    const uint32_t colours = bpp >= 8 ? 256 : 1u << bpp;
    for (uint32_t i = 0; i < colours; ++i)
        image.SetPaletteColor(uint8_t(i), uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 13));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint32_t v = y < height / 3 ? 1 : y < 2 * height / 3 ? uint32_t(x / 5) : uint32_t(random());
            image.SetPixelIndex(x, y, uint8_t(v % colours));
        }
    return image;
}

std::string PaletteIndices(const PxImage& image)
{
    std::string out;
    for (int32_t y = 0; y < image.GetHeight(); ++y)
        for (int32_t x = 0; x < image.GetWidth(); ++x)
            out += char(image.GetPixelIndex(x, y));
    return out;
}

} // namespace

TEST_F(PxCodecs, FfmpegFilesReadBackAndWriteBack)
{
    const struct {
        const char* ext;
        uint32_t id;
        const char* format;
        const char* size;
        const char* raw;
    } cases[] = {
        {"tga", PXIMAGE_FORMAT_TGA, "bgr24", "67x45", "rgb24"}, {"tga", PXIMAGE_FORMAT_TGA, "bgra", "67x45", "rgba"},
        {"tga", PXIMAGE_FORMAT_TGA, "pal8", "67x45", "rgb24"},  {"tga", PXIMAGE_FORMAT_TGA, "gray", "67x45", "rgb24"},
        {"pcx", PXIMAGE_FORMAT_PCX, "rgb24", "67x45", "rgb24"}, {"pcx", PXIMAGE_FORMAT_PCX, "pal8", "67x45", "rgb24"},
        {"pcx", PXIMAGE_FORMAT_PCX, "monob", "67x45", "rgb24"}, {"gif", PXIMAGE_FORMAT_GIF, "pal8", "67x45", "rgb24"},
        {"ico", PXIMAGE_FORMAT_ICO, "bgra", "64x64", "rgba"},
    };
    for (const auto& c : cases) {
        const std::string path = Path(std::string(c.format) + "." + c.ext);
        ASSERT_FALSE(MakeFfmpegImage(path, c.format, c.size).empty()) << path;
        ReadAndWriteBack(path, c.id, c.raw);
        // Detection finds the format by itself.
        PxImage detected;
        EXPECT_TRUE(detected.Load(path.c_str(), 0)) << path << ": " << detected.GetLastError();
        EXPECT_EQ(detected.GetType(), c.id) << path;
    }
}

TEST_F(PxCodecs, AnimatedGifFramesAndTheToolsFrameChoice)
{
    const std::string path = Path("anim.gif");
    ASSERT_TRUE(RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                   "testsrc=size=64x48:rate=10:d=1", "-vf",
                                   "split[a][b];[a]palettegen[p];[b][p]paletteuse", path}));
    const ToolRunResult info = RunTestTool(TestToolPath("pximg"), {"info", path});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("64x48 bpp=8 type=2 frames=10 "), std::string::npos) << info.out;

    // Frame 6 composed on the canvas is what ffmpeg shows as its seventh picture.
    ToolRunOptions options;
    options.searchPath = true;
    const ToolRunResult seventh =
        RunProcess({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-vf", "select=eq(n\\,6)", "-frames:v", "1", "-f",
                    "rawvideo", "-pix_fmt", "rgb24", "-"},
                   options);
    ASSERT_EQ(seventh.status, 0);
    const ToolRunResult converted =
        RunTestTool(TestToolPath("pximg"), {"convert", path, Path("frame6.bmp"), "1", "--frame", "6"});
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_TRUE(FfmpegPixels(Path("frame6.bmp")) == seventh.out) << "frame 6 differs from ffmpeg's";
    EXPECT_NE(RunTestTool(TestToolPath("pximg"), {"convert", path, Path("x.bmp"), "1", "--frame", "10"}).status, 0);

    // All frames at once: screen-size pictures, each the one a single-frame decode gives.
    const std::string bytes = ReadTestFile(path);
    PxImage all;
    all.SetRetrieveAllFrames(true);
    ASSERT_TRUE(DecodeBytes(all, bytes, PXIMAGE_FORMAT_GIF)) << all.GetLastError();
    ASSERT_EQ(all.GetFrameCount(), 10);
    PxImage one;
    one.SetFrame(6);
    ASSERT_TRUE(DecodeBytes(one, bytes, PXIMAGE_FORMAT_GIF));
    ASSERT_NE(all.GetFrameImage(6), nullptr);
    EXPECT_TRUE(ImagePixels(*all.GetFrameImage(6)) == ImagePixels(one));

    // ffmpeg's first image brings a table of its own: frames put together from two tables are
    // true colour, and an animation of them cannot be written without a depth reduction.
    EXPECT_EQ(one.GetBpp(), 24u);
    const std::string before = ImageFingerprint(all);
    EXPECT_TRUE(EncodeBytes(all, PXIMAGE_FORMAT_GIF).empty());
    EXPECT_NE(std::string(all.GetLastError()).find("true color frame"), std::string::npos);
    EXPECT_TRUE(ImageFingerprint(all) == before);

    // Palette frames written as an animation read back frame by frame.
    PxImage* frames[3] = {new PxImage(Mixed(30, 20, 8, 1)), new PxImage(Mixed(30, 20, 8, 2)),
                          new PxImage(Mixed(30, 20, 8, 3))};
    std::vector<std::string> expected;
    for (PxImage* frame : frames)
        expected.push_back(ImagePixels(*frame));
    PxImage animation(*frames[0]);
    ASSERT_TRUE(animation.SetFrames(frames, 3));
    const std::string fingerprint = ImageFingerprint(animation);
    const std::string again = EncodeBytes(animation, PXIMAGE_FORMAT_GIF);
    ASSERT_FALSE(again.empty()) << animation.GetLastError();
    EXPECT_TRUE(ImageFingerprint(animation) == fingerprint);
    PxImage back;
    back.SetRetrieveAllFrames(true);
    ASSERT_TRUE(DecodeBytes(back, again, PXIMAGE_FORMAT_GIF)) << back.GetLastError();
    ASSERT_EQ(back.GetFrameCount(), 3);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_TRUE(ImagePixels(*back.GetFrameImage(i)) == expected[size_t(i)]) << i;
}

TEST_F(PxCodecs, GifCodersWriteWhatEveryDecoderReads)
{
    for (uint32_t bpp : {1u, 4u, 8u}) {
        // 300 x 200 is enough noise to fill the 4096-entry table and force clears.
        PxImage image = Mixed(300, 200, bpp, bpp);
        const std::string indices = PaletteIndices(image);
        const std::string expected = ImagePixels(image);
        for (uint32_t coder : {PXGIF_CODER_LZW, PXGIF_CODER_PLAIN, PXGIF_CODER_RLE}) {
            SCOPED_TRACE("bpp " + std::to_string(bpp) + " coder " + std::to_string(coder));
            image.SetCodecOption(coder, PXIMAGE_FORMAT_GIF);
            const std::string before = ImageFingerprint(image);
            const std::string bytes = EncodeBytes(image, PXIMAGE_FORMAT_GIF);
            ASSERT_FALSE(bytes.empty()) << image.GetLastError();
            EXPECT_TRUE(ImageFingerprint(image) == before);
            EXPECT_EQ(uint8_t(bytes[10]), bpp == 1 ? 0x80 : bpp == 4 ? 0xB3 : 0xF7);
            PxImage back;
            ASSERT_TRUE(DecodeBytes(back, bytes, PXIMAGE_FORMAT_GIF)) << back.GetLastError();
            EXPECT_EQ(back.GetBpp(), bpp);
            EXPECT_TRUE(PaletteIndices(back) == indices);
            const std::string file = Path("coder" + std::to_string(coder) + ".gif");
            WriteTestFile(file, bytes);
            EXPECT_TRUE(FfmpegPixels(file) == expected) << "ffmpeg reads the data differently";
        }
    }
    // Through the tool: --option picks the coder; all three read back the same.
    const std::string source = Path("src.gif");
    ASSERT_FALSE(MakeFfmpegImage(source, "pal8", "97x61").empty());
    const std::string expected = FfmpegPixels(source);
    for (const char* option : {"0", "1", "2"}) {
        const std::string out = Path(std::string("opt") + option + ".gif");
        const ToolRunResult r = RunTestTool(TestToolPath("pximg"), {"convert", source, out, "2", "--option", option});
        ASSERT_EQ(r.status, 0) << r.err;
        PxImage back;
        ASSERT_TRUE(back.Load(out.c_str(), PXIMAGE_FORMAT_GIF));
        EXPECT_TRUE(ImagePixels(back) == expected) << option;
    }
}

TEST_F(PxCodecs, GifTrueColourTilesLoopsAndComments)
{
    for (auto size : {std::pair{18, 16}, std::pair{17, 40}, std::pair{50, 15}, std::pair{9, 7}}) {
        SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
        PxImage image(size.first, size.second, 24);
        for (int32_t y = 0; y < image.GetHeight(); ++y)
            for (int32_t x = 0; x < image.GetWidth(); ++x)
                image.SetPixelColor(x, y, RGBQuad{uint8_t(x * 9), uint8_t(y * 5), uint8_t(x * y), 0});
        const std::string before = ImageFingerprint(image);
        const std::string bytes = EncodeBytes(image, PXIMAGE_FORMAT_GIF);
        ASSERT_FALSE(bytes.empty());
        EXPECT_TRUE(ImageFingerprint(image) == before);
        EXPECT_EQ(uint8_t(bytes[10]), 0x11) << "no global table";
        PxImage back;
        ASSERT_TRUE(DecodeBytes(back, bytes, PXIMAGE_FORMAT_GIF)) << back.GetLastError();
        EXPECT_TRUE(ImagePixels(back) == ImagePixels(image)) << "the tiles put together give the picture";
    }
    // 18 x 16 is four tiles: 17 x 15, 1 x 15, 17 x 1, 1 x 1.
    PxImage image(18, 16, 24);
    const std::string bytes = EncodeBytes(image, PXIMAGE_FORMAT_GIF);
    std::vector<std::pair<int, int>> tiles;
    for (size_t at = bytes.find("\x21\xF9\x04"); at != std::string::npos; at = bytes.find("\x21\xF9\x04", at + 1))
        if (uint8_t(bytes[at + 8]) == 0x2C)
            tiles.push_back({uint8_t(bytes[at + 13]), uint8_t(bytes[at + 15])});
    EXPECT_EQ(tiles, (std::vector<std::pair<int, int>>{{17, 15}, {1, 15}, {17, 1}, {1, 1}}));

    // The loop extension: 1 writes none, 0 writes 0, 5 writes 4; a comment only when there is one.
    PxImage frame(4, 3, 8);
    PxImage* frames[2] = {&frame, &frame};
    for (auto loops : {std::pair{1, -1}, std::pair{0, 0}, std::pair{5, 4}}) {
        PxImageGIF gif;
        gif.SetLoops(loops.first);
        PxMemFile memory;
        ASSERT_TRUE(memory.Open());
        ASSERT_TRUE(gif.EncodeFrames(&memory, frames, 2));
        const std::string out(reinterpret_cast<const char*>(memory.GetBuffer(false)), size_t(memory.Size()));
        const size_t at = out.find("NETSCAPE2.0");
        EXPECT_EQ(out.find("\x21\xFE"), std::string::npos);
        if (loops.second < 0) {
            EXPECT_EQ(at, std::string::npos);
            continue;
        }
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(uint8_t(out[at + 13]), loops.second);
        PxImageGIF reader;
        PxMemFile in(reinterpret_cast<uint8_t*>(const_cast<char*>(out.data())), int32_t(out.size()));
        ASSERT_TRUE(reader.Decode(&in));
        EXPECT_EQ(reader.GetLoops(), loops.second);
    }
    PxImageGIF commented;
    commented.Create(2, 2, 1);
    commented.SetComment("made here");
    PxMemFile memory;
    ASSERT_TRUE(memory.Open());
    ASSERT_TRUE(commented.Encode(&memory));
    PxImageGIF reader;
    ASSERT_TRUE(memory.Seek(0, 0));
    ASSERT_TRUE(reader.Decode(&memory));
    EXPECT_STREQ(reader.GetComment(), "made here");
}

TEST_F(PxCodecs, GifHandMadeStreams)
{
    // A 2 x 2 screen, a 2-entry global table, one image: code size 2, codes clear 0 1 1 0 end.
    const auto gif = [](const char* version, int codeSize, bool interlaced = false, int height = 2) {
        std::string s = std::string("GIF") + version + Le16s(2) + Le16s(uint32_t(height)) + Raw({0x80, 0, 0});
        s += Raw({0, 0, 0, 255, 255, 255});
        s += Raw({0x2C, 0, 0, 0, 0}) + Le16s(2) + Le16s(uint32_t(height)) + char(interlaced ? 0x40 : 0);
        // clear(4) 0 1 1 at three bits, then 0 end(5) at four once the table holds 8 codes;
        // least significant bit first.
        s += Raw({codeSize, 3, 0x44, 0x02, 0x05, 0, 0x3B});
        return s;
    };
    for (const char* version : {"87a", "89a"}) {
        PxImage image;
        ASSERT_TRUE(DecodeBytes(image, gif(version, 2), PXIMAGE_FORMAT_GIF)) << version << image.GetLastError();
        EXPECT_EQ(PaletteIndices(image), Raw({1, 0, 0, 1})) << "bottom row first";
    }
    PxImage image;
    image.SetGrayPalette();
    std::string wrongVersion = gif("89a", 2);
    wrongVersion[3] = '9';
    EXPECT_FALSE(DecodeBytes(image, wrongVersion, PXIMAGE_FORMAT_GIF));
    // Code sizes outside 2 to 9 give no pixel: such an image is no frame, and a file of nothing
    // else holds no image.
    for (int size : {1, 10, 0, 255}) {
        EXPECT_FALSE(DecodeBytes(image, gif("89a", size), PXIMAGE_FORMAT_GIF)) << size;
        EXPECT_STREQ(image.GetLastError(), "GIF holds no image") << size;
    }
    // Interlaced with more rows than the data fills: rows past the data stay, nothing is written
    // past the picture.
    PxImage tall;
    ASSERT_TRUE(DecodeBytes(tall, gif("89a", 2, true, 9), PXIMAGE_FORMAT_GIF));
    EXPECT_EQ(tall.GetHeight(), 9);
    EXPECT_EQ(tall.GetPixelIndex(0, 8), 0) << "line 0 is the top row";
    EXPECT_EQ(tall.GetPixelIndex(1, 8), 1);
    EXPECT_EQ(tall.GetPixelIndex(0, 0), 1) << "line 1 goes to row 8 of the picture";
    // Disposal 2 clears the whole canvas, not only the last image's place; a 0 x 0 screen takes
    // the first image's size.
    for (int screen : {2, 0}) {
        std::string two = gif("89a", 2);
        two.replace(6, 4, Le16s(uint32_t(screen)) + Le16s(uint32_t(screen)));
        two.insert(19, Raw({0x21, 0xF9, 4, 0x09, 0, 0, 0, 0}));
        two.insert(two.size() - 1, Raw({0x21, 0xF9, 4, 0, 0, 0, 0, 0, 0x2C, 1, 0, 1, 0, 1, 0, 1, 0, 0}));
        two.insert(two.size() - 1, Raw({2, 2, 0x4C, 0x01, 0}));
        PxImage second;
        second.SetFrame(1);
        ASSERT_TRUE(DecodeBytes(second, two, PXIMAGE_FORMAT_GIF)) << second.GetLastError();
        EXPECT_EQ(second.GetWidth(), 2);
        EXPECT_EQ(PaletteIndices(second), Raw({0, 1, 0, 0})) << screen;
        PxImage size;
        EXPECT_TRUE(size.CheckFormatMemory(reinterpret_cast<const uint8_t*>(two.data()), uint32_t(two.size()),
                                           PXIMAGE_FORMAT_GIF));
        EXPECT_EQ(size.GetHeight(), 2);
    }
    // A frame index past the frames fails and says how many there are.
    PxImage second;
    second.SetFrame(1);
    EXPECT_FALSE(DecodeBytes(second, gif("89a", 2), PXIMAGE_FORMAT_GIF));
    EXPECT_EQ(second.GetFrameCount(), 1);
    // A 65535 x 65535 screen fails at once, and so does keeping 65535 frames of a large one.
    std::string huge = gif("89a", 2);
    huge.replace(6, 4, Raw({255, 255, 255, 255}));
    PxImage none;
    EXPECT_FALSE(DecodeBytes(none, huge, PXIMAGE_FORMAT_GIF));
    EXPECT_STRNE(none.GetLastError(), "");
}

TEST_F(PxCodecs, TgaHandMadeFiles)
{
    // A run of 5 starting 2 pixels before a row's end goes on into the next row.
    const std::string rle = TgaHeader(0, 10, 0, 0, 4, 2, 24, 0) + Raw({0x81, 1, 2, 3, 0x84, 9, 8, 7, 0x00, 5, 5, 5});
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, rle, PXIMAGE_FORMAT_TGA)) << image.GetLastError();
    EXPECT_EQ(PxPack(image.GetPixelColor(1, 0)) & 0xFFFFFF, 0x030201u);
    EXPECT_EQ(PxPack(image.GetPixelColor(2, 0)) & 0xFFFFFF, 0x070809u);
    EXPECT_EQ(PxPack(image.GetPixelColor(2, 1)) & 0xFFFFFF, 0x070809u);
    EXPECT_EQ(PxPack(image.GetPixelColor(3, 1)) & 0xFFFFFF, 0x050505u);
    // 16 bits: 0x7FFF is 248 everywhere. Descriptor bit 5: the first file row is the top one.
    const std::string sixteen = TgaHeader(0, 2, 0, 0, 1, 2, 16, 0x20) + Raw({0xFF, 0x7F, 0, 0});
    ASSERT_TRUE(DecodeBytes(image, sixteen, PXIMAGE_FORMAT_TGA));
    EXPECT_EQ(PxPack(image.GetPixelColor(0, 1)) & 0xFFFFFF, 0xF8F8F8u);
    EXPECT_EQ(PxPack(image.GetPixelColor(0, 0)) & 0xFFFFFF, 0u);
    // 32 bits top-down: the alpha goes with its pixel.
    const std::string alpha = TgaHeader(0, 2, 0, 0, 1, 2, 32, 0x28) + Raw({1, 2, 3, 40, 4, 5, 6, 50});
    ASSERT_TRUE(DecodeBytes(image, alpha, PXIMAGE_FORMAT_TGA));
    EXPECT_EQ(image.AlphaGet(0, 1), 40);
    EXPECT_EQ(image.GetPixelColor(0, 1, false).blue, 1);
    // Grey without a map gets the grey ramp; colour maps of 16- and 32-bit entries read whole.
    ASSERT_TRUE(DecodeBytes(image, TgaHeader(0, 3, 0, 0, 1, 1, 8, 0) + Raw({77}), PXIMAGE_FORMAT_TGA));
    EXPECT_EQ(image.GetPixelColor(0, 0).green, 77);
    ASSERT_TRUE(DecodeBytes(image, TgaHeader(1, 1, 2, 32, 2, 1, 8, 0) + Raw({1, 2, 3, 4, 5, 6, 7, 8, 1, 0}),
                            PXIMAGE_FORMAT_TGA));
    EXPECT_EQ(PxPack(image.GetPixelColor(0, 0)) & 0xFFFFFF, 0x070605u);
    ASSERT_TRUE(DecodeBytes(image, TgaHeader(1, 1, 1, 16, 1, 1, 8, 0) + Raw({0xFF, 0x7F, 0}), PXIMAGE_FORMAT_TGA));
    EXPECT_EQ(PxPack(image.GetPixelColor(0, 0)) & 0xFFFFFF, 0xF8F8F8u);
    // Refusals, each with its message and the image left alone.
    const std::string before = ImageFingerprint(image);
    for (const std::string& bad :
         {TgaHeader(0, 4, 0, 0, 1, 1, 8, 0), TgaHeader(0, 2, 0, 0, 0, 1, 24, 0), TgaHeader(1, 1, 300, 24, 1, 1, 8, 0),
          TgaHeader(1, 1, 1, 7, 1, 1, 8, 0) + "abcd", TgaHeader(0, 2, 0, 0, 65535, 65535, 32, 0) + "tiny",
          TgaHeader(0, 10, 0, 0, 65535, 65535, 8, 0) + Raw({0xFF, 0})}) {
        EXPECT_FALSE(DecodeBytes(image, bad, PXIMAGE_FORMAT_TGA));
        EXPECT_STRNE(image.GetLastError(), "");
        EXPECT_TRUE(ImageFingerprint(image) == before);
    }
    // Writing: 8 bits as type 1 with 256 entries, 1 bit refused, alpha as 32 bits.
    PxImage gray(3, 2, 8);
    gray.SetGrayPalette();
    const std::string eight = EncodeBytes(gray, PXIMAGE_FORMAT_TGA);
    ASSERT_GE(eight.size(), 18u);
    EXPECT_EQ(eight[2], 1);
    EXPECT_EQ(eight.size(), 18u + 768 + 6);
    PxImage one(3, 2, 1);
    EXPECT_TRUE(EncodeBytes(one, PXIMAGE_FORMAT_TGA).empty());
    EXPECT_STREQ(one.GetLastError(), "Bit depth must be 8 or 24");
    PxImage withAlpha(3, 2, 24);
    withAlpha.AlphaCreate();
    withAlpha.AlphaSet(1, 1, 9);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, EncodeBytes(withAlpha, PXIMAGE_FORMAT_TGA), PXIMAGE_FORMAT_TGA));
    EXPECT_EQ(back.AlphaGet(1, 1), 9);
}

TEST_F(PxCodecs, PcxLayoutsBothWays)
{
    const auto header = [](int encoding, int bits, int planes, int width, int height, int bytesPerLine) {
        std::string h(128, '\0');
        h[0] = 10;
        h[1] = 5;
        h[2] = char(encoding);
        h[3] = char(bits);
        h.replace(8, 2, Le16s(uint32_t(width - 1)));
        h.replace(10, 2, Le16s(uint32_t(height - 1)));
        for (int i = 0; i < 16; ++i)
            h.replace(16 + 3 * i, 3, Raw({i * 16, i * 8, 255 - i}));
        h[65] = char(planes);
        h.replace(66, 2, Le16s(uint32_t(bytesPerLine)));
        return h;
    };
    PxImage image;
    EXPECT_FALSE(DecodeBytes(image, header(0, 8, 1, 2, 1, 2), PXIMAGE_FORMAT_PCX));
    EXPECT_STREQ(image.GetLastError(), "PCX file has unknown encoding scheme");
    // 4 planes of 1 bit: a 4-bit image with the header's colours. 0xC0 is a run of none.
    const std::string planar = header(1, 1, 4, 8, 1, 2) + Raw({0xC0, 0x77, 0x80, 0, 0xC2, 0, 0x80, 0, 0xC1, 0x81, 0});
    ASSERT_TRUE(DecodeBytes(image, planar, PXIMAGE_FORMAT_PCX)) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 4u);
    EXPECT_EQ(image.GetPixelIndex(0, 0), 0b1101);
    EXPECT_EQ(image.GetPixelIndex(7, 0), 0b1000);
    EXPECT_EQ(PxPack(image.GetPixelColor(0, 0)) & 0xFFFFFF, uint32_t(255 - 13) | 104 << 8 | 208 << 16);
    // Runs longer than the picture, bytes per line too short for the width, a missing palette.
    for (const std::string& bad :
         {header(1, 8, 1, 2, 1, 2) + Raw({0xC5, 1}), header(1, 8, 1, 9, 1, 4) + "abcd",
          header(1, 8, 1, 2, 1, 2) + Raw({1, 2, 11}), header(1, 8, 1, 65535, 65535, 65535) + "x"}) {
        EXPECT_FALSE(DecodeBytes(image, bad, PXIMAGE_FORMAT_PCX));
        EXPECT_STRNE(image.GetLastError(), "");
    }
    // Written and read back at every depth; a width of 3 gives 4 bytes a line and a 0 after each
    // coded plane line.
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        PxImage picture = bpp == 24 ? PxImage(3, 5, 24) : Mixed(3, 5, bpp, 3);
        if (bpp == 1) {
            // One plane of one bit is black and white, whatever the palette said.
            picture.SetPaletteColor(0, 0, 0, 0);
            picture.SetPaletteColor(1, 255, 255, 255);
        }
        if (bpp == 24) {
            for (int32_t y = 0; y < 5; ++y)
                for (int32_t x = 0; x < 3; ++x)
                    picture.SetPixelColor(x, y, RGBQuad{uint8_t(x * 80), uint8_t(y * 50), 200, 0});
            picture.AlphaCreate();
            picture.AlphaSet(2, 4, 17);
        }
        const std::string bytes = EncodeBytes(picture, PXIMAGE_FORMAT_PCX);
        ASSERT_GT(bytes.size(), 128u);
        EXPECT_EQ(uint8_t(bytes[66]), bpp >= 8 ? 4 : 2);
        PxImage back;
        ASSERT_TRUE(DecodeBytes(back, bytes, PXIMAGE_FORMAT_PCX)) << back.GetLastError();
        EXPECT_TRUE(ImagePixels(back, true) == ImagePixels(picture, true));
        if (bpp == 24) {
            EXPECT_EQ(back.AlphaGet(2, 4), 17);
        }
    }
    // A 1-bit image whose entry 0 is white is written inverted: it shows the same.
    PxImage inverted(9, 2, 1);
    inverted.SetPaletteColor(0, 255, 255, 255);
    inverted.SetPaletteColor(1, 0, 0, 0);
    inverted.SetPixelIndex(3, 1, 1);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, EncodeBytes(inverted, PXIMAGE_FORMAT_PCX), PXIMAGE_FORMAT_PCX));
    EXPECT_TRUE(ImagePixels(back) == ImagePixels(inverted));
}

TEST_F(PxCodecs, IcoEntriesMasksAndSeveralImages)
{
    // A 4-bit 8 x 2 icon: the masked pixels (one colour) end on the highest unused index.
    const auto icon = [](const std::string& mask) {
        std::string s = Raw({0, 0, 1, 0, 1, 0, 8, 2, 16, 0, 0, 0, 4, 0}) + std::string(4, '\0') + Raw({22, 0, 0, 0});
        s += IconInfoHeader(8, 2, 4);
        for (int i = 0; i < 16; ++i)
            s += Raw({i * 16, i, 255 - i, 0});
        s += Raw({0x01, 0x23, 0x45, 0x67, 0x11, 0x11, 0x11, 0x11}); // bottom row, then top row
        return s + mask;
    };
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, icon(Raw({0, 0, 0, 0, 0xF0, 0, 0, 0})), PXIMAGE_FORMAT_ICO)) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 4u);
    EXPECT_FALSE(image.AlphaIsValid());
    EXPECT_EQ(image.GetTransparentIndex(), 15);
    EXPECT_EQ(image.GetPixelIndex(0, 1), 15);
    EXPECT_EQ(image.GetPixelIndex(4, 1), 1) << "unmasked pixels of the same colour keep theirs";
    // An all-ones mask: transparent index 0 and the colours negated.
    ASSERT_TRUE(DecodeBytes(image, icon(std::string(8, '\xFF')), PXIMAGE_FORMAT_ICO));
    EXPECT_EQ(image.GetTransparentIndex(), 0);
    EXPECT_EQ(image.GetPaletteColor(1).red, 1);
    // Cursors read like icons; type 3, an empty directory and an entry off the file do not.
    std::string cursor = icon(std::string(8, '\0'));
    cursor[2] = 2;
    EXPECT_TRUE(DecodeBytes(image, cursor, PXIMAGE_FORMAT_ICO));
    for (const std::string& bad : {cursor.substr(0, 2) + "\x03" + cursor.substr(3), cursor.substr(0, 4) + Raw({0, 0}),
                                   cursor.substr(0, 4) + Raw({255, 255}) + cursor.substr(6),
                                   cursor.substr(0, 18) + Raw({255, 255, 0, 0}) + cursor.substr(22)}) {
        EXPECT_FALSE(DecodeBytes(image, bad, PXIMAGE_FORMAT_ICO));
        EXPECT_STRNE(image.GetLastError(), "");
    }

    // Three images in one file: one header, three entries, then the bodies in order.
    PxImage small = Mixed(16, 16, 4, 1);
    small.SetTransparentIndex(1);
    PxImage colour(32, 20, 24);
    colour.FillRect(0, 0, 10, 10, RGBQuad{1, 2, 3, 0});
    colour.AlphaCreate();
    colour.AlphaSet(5, 5, 0);
    colour.AlphaSet(6, 5, 128);
    PxImage large(300, 260, 24);
    large.FillRect(10, 10, 200, 100, RGBQuad{9, 99, 199, 0});
    PxImage* images[3] = {&small, &colour, &large};
    std::vector<std::string> before;
    for (PxImage* i : images)
        before.push_back(ImageFingerprint(*i));
    PxImage writer;
    PxMemFile memory;
    ASSERT_TRUE(memory.Open());
    ASSERT_TRUE(writer.EncodeFrames(&memory, images, 3, PXIMAGE_FORMAT_ICO)) << writer.GetLastError();
    const std::string file(reinterpret_cast<const char*>(memory.GetBuffer(false)), size_t(memory.Size()));
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(ImageFingerprint(*images[k]) == before[size_t(k)]) << "the palette zeroing works on a copy";
    ASSERT_GT(file.size(), 54u);
    EXPECT_EQ(file.substr(0, 6), Raw({0, 0, 1, 0, 3, 0}));
    uint32_t expectedOffset = 6 + 3 * 16;
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const size_t entry = 6 + 16 * size_t(k);
        EXPECT_EQ(GetLe32(file, entry + 12), expectedOffset);
        expectedOffset += GetLe32(file, entry + 8);
        PxImage back;
        back.SetFrame(k);
        ASSERT_TRUE(DecodeBytes(back, file, PXIMAGE_FORMAT_ICO)) << back.GetLastError();
        EXPECT_EQ(back.GetFrameCount(), 3);
        EXPECT_EQ(back.GetWidth(), images[k]->GetWidth());
        if (k == 0) {
            // The transparent entry is written black, its pixels masked: the indices stay,
            // that one colour goes.
            EXPECT_EQ(back.GetTransparentIndex(), 1);
            PxImage masked(*images[0]);
            masked.SetPaletteColor(1, 0, 0, 0);
            EXPECT_TRUE(ImagePixels(back) == ImagePixels(masked));
        } else {
            EXPECT_TRUE(ImagePixels(back) == ImagePixels(*images[k]));
        }
    }
    EXPECT_EQ(expectedOffset, file.size());
    // The same file put together piece by piece: the header, every entry, then every body.
    PxImageICO pieces;
    PxMemFile pieced;
    ASSERT_TRUE(pieced.Open());
    pieces.MakeGhostOf(images[0]);
    ASSERT_TRUE(pieces.Encode(&pieced, false, 3));
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < 3; ++k) {
            pieces.MakeGhostOf(images[k]);
            ASSERT_TRUE(pieces.Encode(&pieced, true, pass == 0 ? 3 : k)) << pieces.GetLastError();
        }
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(pieced.GetBuffer(false)), size_t(pieced.Size())) == file);
    EXPECT_EQ(file[6 + 32], 0) << "a large image is a PNG entry of width byte 0";
    PxImage alphaBack;
    alphaBack.SetFrame(1);
    ASSERT_TRUE(DecodeBytes(alphaBack, file, PXIMAGE_FORMAT_ICO));
    EXPECT_EQ(alphaBack.AlphaGet(5, 5), 0);
    EXPECT_EQ(alphaBack.AlphaGet(6, 5), 128);
    // The 4-bit icon: pixels of the transparent colour come back transparent, the rest as they were.
    PxImage smallBack;
    ASSERT_TRUE(DecodeBytes(smallBack, file, PXIMAGE_FORMAT_ICO));
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const bool transparent = small.GetPixelIndex(x, y) == 1;
            EXPECT_EQ(smallBack.IsTransparent(x, y), transparent) << x << "," << y;
            if (!transparent) {
                EXPECT_EQ(PxPack(smallBack.GetPixelColor(x, y, false)), PxPack(small.GetPixelColor(x, y, false)));
            }
        }
    PxImage* nothing[1] = {nullptr};
    EXPECT_FALSE(writer.EncodeFrames(&memory, nothing, 1, PXIMAGE_FORMAT_ICO));
    EXPECT_STREQ(writer.GetLastError(), "Bad image pointer");
}

TEST_F(PxCodecs, WbmpAndSkaRoundTrips)
{
    PxImage bits = Mixed(129, 7, 1, 5);
    const std::string before = ImageFingerprint(bits);
    const std::string wbmp = EncodeBytes(bits, PXIMAGE_FORMAT_WBMP);
    EXPECT_TRUE(ImageFingerprint(bits) == before);
    ASSERT_EQ(wbmp.substr(0, 5), Raw({0, 0, 0x81, 0x01, 7}));
    EXPECT_EQ(wbmp.size(), 5u + 17 * 7);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(back, wbmp, PXIMAGE_FORMAT_WBMP));
    EXPECT_TRUE(PaletteIndices(back) == PaletteIndices(bits));
    ASSERT_TRUE(DecodeBytes(back, Raw({0, 0, 10, 1, 0xFF, 0xC0}), PXIMAGE_FORMAT_WBMP));
    EXPECT_EQ(back.GetWidth(), 10);
    EXPECT_EQ(back.GetPixelIndex(9, 0), 1);
    for (const std::string& bad :
         {Raw({1, 0, 1, 1, 0}), Raw({0, 0, 0, 1, 0}), Raw({0, 0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 1}),
          Raw({0, 0, 0x83, 0xFF, 0x7F, 0x83, 0xFF, 0x7F}), Raw({0, 0, 8, 2, 1})}) {
        EXPECT_FALSE(DecodeBytes(back, bad, PXIMAGE_FORMAT_WBMP));
        EXPECT_STRNE(back.GetLastError(), "");
    }
    EXPECT_FALSE(DecodeBytes(back, Raw({1, 0, 1, 1, 0}), PXIMAGE_FORMAT_WBMP));
    EXPECT_STREQ(back.GetLastError(), "Unsupported WBMP type");
    PxImage colour(3, 3, 24);
    EXPECT_TRUE(EncodeBytes(colour, PXIMAGE_FORMAT_WBMP).empty());
    EXPECT_STREQ(colour.GetLastError(), "Can't save this image as WBMP");

    // SKA: a 4-bit image is written at 8 bits and stays at 4; a width of 3 reads whole rows.
    PxImage four = Mixed(3, 5, 4, 9);
    const std::string fourBefore = ImageFingerprint(four);
    const std::string ska = EncodeBytes(four, PXIMAGE_FORMAT_SKA);
    EXPECT_TRUE(ImageFingerprint(four) == fourBefore);
    EXPECT_EQ(four.GetBpp(), 4u);
    EXPECT_EQ(ska.size(), 9u + 768 + 15);
    ASSERT_TRUE(DecodeBytes(back, ska, PXIMAGE_FORMAT_SKA)) << back.GetLastError();
    EXPECT_EQ(back.GetBpp(), 8u);
    EXPECT_TRUE(ImagePixels(back) == ImagePixels(four));
    std::string kind2 = ska;
    kind2[4] = 2;
    EXPECT_FALSE(DecodeBytes(back, kind2, PXIMAGE_FORMAT_SKA));
    EXPECT_FALSE(DecodeBytes(back, ska.substr(0, ska.size() - 1), PXIMAGE_FORMAT_SKA));
    EXPECT_TRUE(EncodeBytes(colour, PXIMAGE_FORMAT_SKA).empty());
    EXPECT_STREQ(colour.GetLastError(), "SKA Images must be 8 bit or less");
}

TEST_F(PxCodecs, EncodersLeaveTheImageAloneAndFailOnAFailingStream)
{
    PxImage frame0 = Mixed(20, 10, 8, 1), frame1 = Mixed(20, 10, 8, 2);
    PxImage* frames[2] = {new PxImage(frame0), new PxImage(frame1)};
    PxImage animation(frame0);
    animation.SetFrames(frames, 2);
    animation.SetDisposalMethod(2);
    PxImage indexed = Mixed(20, 10, 4, 3);
    indexed.SetTransparentIndex(2);
    PxImage alpha(20, 10, 24);
    alpha.AlphaCreate();
    alpha.AlphaSet(3, 3, 0);
    PxImage mono = Mixed(20, 10, 1, 4);
    const uint32_t ids[] = {PXIMAGE_FORMAT_GIF, PXIMAGE_FORMAT_ICO,  PXIMAGE_FORMAT_TGA,
                            PXIMAGE_FORMAT_PCX, PXIMAGE_FORMAT_WBMP, PXIMAGE_FORMAT_SKA};
    FILE* readOnly = fopen("/dev/null", "rb");
    ASSERT_NE(readOnly, nullptr);
    for (PxImage* image : {&animation, &indexed, &alpha, &mono}) {
        for (uint32_t id : ids) {
            SCOPED_TRACE("id " + std::to_string(id) + " bpp " + std::to_string(image->GetBpp()));
            const std::string before = ImageFingerprint(*image);
            const bool writable = !(id == PXIMAGE_FORMAT_WBMP && image->GetBpp() != 1) &&
                                  !(id == PXIMAGE_FORMAT_SKA && image->GetBpp() > 8) &&
                                  !(id == PXIMAGE_FORMAT_TGA && image->GetBpp() < 8);
            EXPECT_EQ(!EncodeBytes(*image, id).empty(), writable) << image->GetLastError();
            EXPECT_TRUE(ImageFingerprint(*image) == before);
            PxIOFile failing(readOnly);
            EXPECT_FALSE(image->Encode(&failing, id));
            EXPECT_STRNE(image->GetLastError(), "");
            EXPECT_TRUE(ImageFingerprint(*image) == before);
        }
    }
    PxIOFile failing(readOnly);
    PxImage* both[2] = {&frame0, &frame1};
    EXPECT_FALSE(animation.EncodeFrames(&failing, both, 2, PXIMAGE_FORMAT_GIF));
    EXPECT_FALSE(animation.EncodeFrames(&failing, both, 2, PXIMAGE_FORMAT_ICO));
    fclose(readOnly);
}

TEST_F(PxCodecs, NegativeOfPalettesAndPixels)
{
    PxImage gray(3, 2, 8);
    gray.SetGrayPalette();
    gray.SetPixelIndex(1, 1, 10);
    ASSERT_TRUE(gray.Negative());
    EXPECT_EQ(gray.GetPixelIndex(1, 1), 245);
    EXPECT_EQ(gray.GetPixelIndex(0, 0), 255);
    EXPECT_EQ(gray.GetBits()[3], 255) << "row padding too";
    PxImage colour(2, 2, 4);
    colour.SetPaletteColor(3, 10, 20, 30);
    colour.SetPixelIndex(0, 0, 3);
    ASSERT_TRUE(colour.Negative());
    EXPECT_EQ(colour.GetPixelIndex(0, 0), 3);
    EXPECT_EQ(PxPack(colour.GetPixelColor(0, 0, false)) & 0xFFFFFF, 0xF5EBE1u);
    PxImage rgb(2, 2, 24);
    rgb.SelectionCreate();
    rgb.SelectionAddPixel(1, 1);
    ASSERT_TRUE(rgb.Negative());
    EXPECT_EQ(PxPack(rgb.GetPixelColor(1, 1, false)) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(PxPack(rgb.GetPixelColor(0, 1, false)) & 0xFFFFFF, 0u) << "outside the selection";
    PxImage empty;
    EXPECT_FALSE(empty.Negative());
}
