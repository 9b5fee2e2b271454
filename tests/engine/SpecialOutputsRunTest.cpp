// Contact sheets and previews made by whole runs through engine-tool with the real ffmpeg, on
// clips whose picture says when it was taken: a grey a little lighter every half second.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/RealFFmpegRunTest.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "image/PxImage.h"

namespace {

// Grey level (0-255 after the RGB conversion) of a frame of the clips below taken at t seconds.
double GreyAt(double t)
{
    return std::floor(2 * t + 1e-9) * 7.0 * 255.0 / 219.0;
}
constexpr double kGreyTolerance = 3.5; // half a step

std::string FFprobeText(const std::vector<std::string>& args)
{
    ToolRunOptions options;
    options.searchPath = true;
    std::vector<std::string> all{"ffprobe", "-v", "error"};
    all.insert(all.end(), args.begin(), args.end());
    return RunProcess(all, options).out;
}

// A clip of 64 x 36 at 10 frames a second whose luma is 16 + 7 per half second; filter,
// when given, drops frames (written as they are, so the file holds fewer than its length says).
bool MakeSecondsClip(const std::string& path, int seconds, const std::string& filter = std::string())
{
    std::vector<std::string> args{"ffmpeg",
                                  "-v",
                                  "error",
                                  "-nostdin",
                                  "-y",
                                  "-f",
                                  "lavfi",
                                  "-i",
                                  "color=c=black:s=64x36:r=10:d=" + std::to_string(seconds) +
                                      ",format=yuv420p,geq=lum='16+7*floor(2*T)':cb=128:cr=128"};
    if (!filter.empty())
        args.insert(args.end(), {"-vf", filter, "-fps_mode", "passthrough"});
    args.insert(args.end(), {"-c:v", "mpeg4", "-q:v", "2", path});
    return RunProgramQuietly(args);
}

class SpecialOutputsRun : public RealFFmpegRunTest {
protected:
    ToolRunResult Run(const std::vector<std::string>& args)
    {
        return RunTestTool(TestToolPath("engine-tool"), args, std::string(), 240000);
    }
};

// The sheet's cells, each as the grey of its middle, or -1 where the background shows.
std::vector<double> CellGreys(const std::string& sheetPath, int cols, int rows, int thumbW, int thumbH, int padding)
{
    const std::string bytes = ReadTestFile(sheetPath);
    PxImage sheet(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), 0);
    std::vector<double> greys;
    if (!sheet.IsValid())
        return greys;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int x = c * (thumbW + padding) + thumbW / 2;
            const int y = r * (thumbH + padding) + thumbH / 2;
            // Rows are kept bottom-up.
            const RGBQuad p = sheet.GetPixelColor(x, sheet.GetHeight() - 1 - y);
            const bool grey = std::abs(int(p.red) - int(p.blue)) < 20 && std::abs(int(p.green) - int(p.blue)) < 20;
            greys.push_back(grey ? (p.red + p.green + p.blue) / 3.0 : -1);
        }
    return greys;
}

TEST_F(SpecialOutputsRun, SheetCellsShowTheFramesAtTheirTimesAlsoWhenFramesWereDropped)
{
    // 16 s with a 4 x 3 grid: 16 picks a second apart; the first (at 0 s) goes, so the cells
    // show seconds 1 to 12, each as it starts: half a second later the grey is another.
    const std::string steady = dir.file("steady.avi");
    const std::string dropped = dir.file("dropped.avi");
    ASSERT_TRUE(MakeSecondsClip(steady, 16));
    ASSERT_TRUE(MakeSecondsClip(dropped, 16, "select='not(between(t,3,9))*not(between(t,11,12.5))'"));
    ASSERT_EQ(FFprobeText({"-show_entries", "format=duration", "-of", "csv=p=0", dropped}), "16.000000\n");
    ASSERT_LT(
        std::atoi(FFprobeText({"-count_frames", "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", dropped})
                      .c_str()),
        100)
        << "the clip holds fewer frames than its length and rate say";

    struct Case {
        std::string source;
        int cols, rows;
        double spacing;
    };
    // The 2 x 2 grid picks 8 frames 2 s apart: cells at 2, 4, 6 and 8 s.
    for (const Case& c : {Case{steady, 4, 3, 1}, Case{dropped, 4, 3, 1}, Case{steady, 2, 2, 2}}) {
        const bool drops = c.source == dropped;
        const std::string name = std::string(drops ? "dropped" : "steady") + std::to_string(c.cols);
        const std::string sheet = dir.file(name + ".png");
        // thumbnails of the frames' own size, 64 x 36
        const std::string args = "-contact_col " + std::to_string(c.cols) + " -contact_row " + std::to_string(c.rows) +
                                 " -contact_png 1 -contact_width " + std::to_string(c.cols * 68 - 4) +
                                 " -contact_padding 4 -contact_backcol FF0000";
        const ToolRunResult r =
            Run({"run", "--src", c.source, "--dst", sheet, "--encoder", "[Contact Sheet]", "--args", args});
        ASSERT_EQ(LastLine(r.out), "result: success") << r.out;
        const std::vector<double> greys = CellGreys(sheet, c.cols, c.rows, 64, 36, 4);
        ASSERT_EQ(greys.size(), size_t(c.cols * c.rows)) << "the sheet is a PNG of the grid";
        for (size_t cell = 0; cell < greys.size(); ++cell) {
            const double at = double(cell + 1) * c.spacing;
            // The frame on show at that moment: the last one kept up to it.
            double shown = at;
            if (drops) {
                if (at >= 3 && at <= 9)
                    shown = 2.9;
                else if (at >= 11 && at <= 12.5)
                    shown = 10.9;
            }
            SCOPED_TRACE(name + ", cell " + std::to_string(cell));
            EXPECT_GE(greys[cell], 0) << "the cell shows a frame, not the background";
            EXPECT_NEAR(greys[cell], GreyAt(shown), kGreyTolerance);
        }
    }
}

// The grey of the first frame of a picture or video file.
double FirstFrameGrey(const std::string& path)
{
    const std::string png = path + ".first.png";
    if (!RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-y", "-i", path, "-frames:v", "1", png}))
        return -1;
    const std::string bytes = ReadTestFile(png);
    PxImage image(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), 0);
    if (!image.IsValid())
        return -1;
    const RGBQuad p = image.GetPixelColor(image.GetWidth() / 2, image.GetHeight() / 2);
    return (p.red + p.green + p.blue) / 3.0;
}

TEST_F(SpecialOutputsRun, PreviewStartsAtTheFirstDelayOrTheLastFrame)
{
    const std::string clip = dir.file("clip.avi");
    ASSERT_TRUE(MakeSecondsClip(clip, 3));
    const auto preview = [&](const std::string& firstDelay, const std::string& name) {
        const std::string out = dir.file(name);
        const ToolRunResult r = Run({"run", "--src", clip, "--dst", out, "--encoder", "[Preview Generator]", "--args",
                                     "-prev_gen_ufe 0.5 -prev_gen_gfe 1 -prev_gen_inputval 0.5 -prev_gen_firstdelay " +
                                         firstDelay + " -prev_gen_encNset \"AVI_eSep_ -f avi -qscale 3\""});
        EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
        return out;
    };
    // Beyond the 3 s of the source (the page's default of 5 s): one frame, the last one.
    const std::string late = preview("5", "late.avi");
    EXPECT_EQ(FFprobeText({"-count_frames", "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", late}), "1\n");
    EXPECT_NEAR(FirstFrameGrey(late), GreyAt(2.9), kGreyTolerance);
    // A delay with milliseconds is not cut to whole seconds (which would start at 0 s and 1 s).
    EXPECT_NEAR(FirstFrameGrey(preview("0.95", "ms.avi")), GreyAt(1), kGreyTolerance);
    EXPECT_NEAR(FirstFrameGrey(preview("1.95", "ms2.avi")), GreyAt(2), kGreyTolerance);
}

TEST_F(SpecialOutputsRun, PreviewWithAnEncoderThatCannotMakeOneFailsClearly)
{
    // Stored by an earlier version, whose picker offered these.
    const std::string clip = dir.file("clip.avi");
    ASSERT_TRUE(MakeSecondsClip(clip, 2));
    for (const std::string nested : {"[Contact Sheet]_eSep_-contact_col 4 -contact_row 4 -contact_png 1",
                                     "MP4 (copy_SELCOMMA_ no encoding)_eSep_-vcodec copy -acodec aac -c:s mov_text"}) {
        const std::string out = dir.file("refused.mp4");
        const ToolRunResult r = Run({"run", "--src", clip, "--dst", out, "--encoder", "[Preview Generator]", "--args",
                                     "-prev_gen_ufe 0.5 -prev_gen_gfe 1 -prev_gen_inputval 1 -prev_gen_firstdelay 0 "
                                     "-prev_gen_encNset \"" +
                                         nested + "\""});
        EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
        EXPECT_NE(r.out.find("error: The preview generator cannot make its preview with"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(" -progress "), std::string::npos) << "refused before ffmpeg starts";
        EXPECT_FALSE(PathExists(out));
    }
}

} // namespace
