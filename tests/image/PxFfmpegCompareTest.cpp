// pximg's turns, crop and resample against ffmpeg's own filters on the same picture.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "image/ImageTestUtil.h"

namespace {

class PxFfmpegCompare : public TempFolderTest {
public:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        source = Path("source.png");
        ASSERT_FALSE(MakeFfmpegImage(source, "rgb24", "173x97").empty());
    }

    // The source through an ffmpeg filter, as rgb24 rows.
    std::string Filtered(const std::string& filter)
    {
        ToolRunOptions options;
        options.searchPath = true;
        const ToolRunResult r = RunProcess({"ffmpeg", "-v", "error", "-nostdin", "-i", source, "-vf", filter, "-f",
                                            "rawvideo", "-pix_fmt", "rgb24", "-"},
                                           options);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    // pximg's result, written as BMP, read back by ffmpeg.
    std::string Ours(const std::vector<std::string>& command)
    {
        const std::string out = Path("out-" + std::to_string(++runs) + ".bmp");
        std::vector<std::string> args = {command[0], source, out};
        args.insert(args.end(), command.begin() + 1, command.end());
        const ToolRunResult r = RunTestTool(TestToolPath("pximg"), args);
        EXPECT_EQ(r.status, 0) << r.err;
        return FfmpegPixels(out);
    }

    std::string source;
    int runs = 0;
};

double Psnr(const std::string& a, const std::string& b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
        sum += d * d;
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

TEST_F(PxFfmpegCompare, QuarterTurnsEqualTranspose)
{
    const std::string right = Ours({"rotate", "right"});
    ASSERT_FALSE(right.empty());
    EXPECT_TRUE(right == Filtered("transpose=1")) << "a quarter turn right is transpose=1";
    EXPECT_TRUE(Ours({"rotate", "left"}) == Filtered("transpose=2"));
    EXPECT_TRUE(Ours({"rotate", "90"}) == right) << "90 degrees turns exactly";
}

TEST_F(PxFfmpegCompare, HalfTurnEqualsHflipVflip)
{
    const std::string half = Ours({"rotate", "half"});
    ASSERT_FALSE(half.empty());
    EXPECT_TRUE(half == Filtered("hflip,vflip"));
    EXPECT_TRUE(Ours({"mirror"}) == Filtered("hflip"));
    EXPECT_TRUE(Ours({"flip"}) == Filtered("vflip"));
}

TEST_F(PxFfmpegCompare, CropEqualsFfmpegCrop)
{
    // L T R B against crop=w:h:x:y, rows counted from the top on both sides.
    const std::string ours = Ours({"crop", "17", "9", "120", "80"});
    ASSERT_FALSE(ours.empty());
    EXPECT_TRUE(ours == Filtered("crop=103:71:17:9"));
    EXPECT_TRUE(Ours({"crop", "0", "0", "173", "97"}) == Filtered("null"));
}

TEST_F(PxFfmpegCompare, BilinearWithin30dBOfFfmpeg)
{
    for (const auto& size : std::vector<std::pair<int, int>>{{519, 291}, {346, 194}, {101, 57}}) {
        const std::string w = std::to_string(size.first), h = std::to_string(size.second);
        const std::string ours = Ours({"resample", w, h, "--interp", "2"});
        const std::string theirs = Filtered("scale=" + w + ":" + h + ":flags=bilinear");
        ASSERT_EQ(ours.size(), theirs.size()) << w << "x" << h;
        EXPECT_GE(Psnr(ours, theirs), 30.0) << w << "x" << h;
    }
}

TEST_F(PxFfmpegCompare, ThreadCountGivesIdenticalFiles)
{
    for (const char* interp : {"2", "5", "6"}) {
        const std::string one = Path(std::string("one-") + interp + ".bmp");
        const std::string many = Path(std::string("many-") + interp + ".bmp");
        for (const auto& [out, threads] : {std::pair{one, "1"}, std::pair{many, "16"}}) {
            const ToolRunResult r = RunTestTool(TestToolPath("pximg"), {"resample", source, out, "700", "400",
                                                                        "--interp", interp, "--threads", threads});
            ASSERT_EQ(r.status, 0) << r.err;
        }
        const std::string bytes = ReadTestFile(one);
        ASSERT_FALSE(bytes.empty());
        EXPECT_TRUE(bytes == ReadTestFile(many)) << "interpolation " << interp;
    }
    // Shrinking (averaging) too.
    for (const char* threads : {"1", "16"})
        ASSERT_EQ(
            RunTestTool(TestToolPath("pximg"), {"resample", source, Path(std::string("small-") + threads + ".bmp"),
                                                "150", "130", "--threads", threads})
                .status,
            0);
    EXPECT_TRUE(ReadTestFile(Path("small-1.bmp")) == ReadTestFile(Path("small-16.bmp")));
}
