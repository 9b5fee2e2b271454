// What the video codec pages write, run through the real ffmpeg and measured: constant quality
// on VP8 follows the slider, the lossless modes decode to the source's frames, constant bit
// rate on x264 holds the rate where an average does not, and WMV gives the rate it names.

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <map>
#include <memory>
#include <sstream>

#include "common/RealFFmpegRunTest.h"
#include "common/TestPageHost.h"
#include "common/ToolRun.h"
#include "setup/KREEncoderPageApple.h"
#include "setup/KREEncoderPageH264.h"
#include "setup/KREEncoderPagePlain.h"
#include "setup/KREEncoderPageVP.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

namespace {

class EncoderPageRun : public RealFFmpegRunTest {
protected:
    // A raw clip from lavfi, so that the source itself has no coding loss.
    std::string makeSource(const std::string& name, const std::string& graph)
    {
        const std::string path = dir.file(name + ".nut");
        const ToolRunResult r = RunProcess({ProgramOnPath("ffmpeg"), "-v", "error", "-f", "lavfi", "-i", graph,
                                            "-pix_fmt", "yuv420p", "-c:v", "rawvideo", path});
        EXPECT_EQ(r.status, 0) << r.err;
        return path;
    }
    // The page's text between the source and the output, as the engine gives it to ffmpeg.
    std::string encode(const std::string& source, const QString& args, const std::string& output)
    {
        XStrList tokens;
        tokens.ParseArgs(XStr::FromUTF8(args.toStdString()));
        std::vector<std::string> argv = {ProgramOnPath("ffmpeg"), "-nostdin", "-v", "error", "-y", "-i", source};
        for (int64_t i = 0; i < tokens.Count(); ++i)
            argv.push_back(tokens[i].ToUTF8String());
        argv.insert(argv.end(), {"-an", dir.file(output)});
        const ToolRunResult r = RunProcess(argv);
        EXPECT_EQ(r.status, 0) << args.toStdString() << "\n" << r.err;
        return dir.file(output);
    }
    // The frame checksums of a file decoded to yuv420p, the source's format.
    std::vector<std::string> frameSums(const std::string& path)
    {
        const ToolRunResult r = RunProcess({ProgramOnPath("ffmpeg"), "-v", "error", "-i", path, "-map", "0:v",
                                            "-pix_fmt", "yuv420p", "-f", "framemd5", "-"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> sums;
        std::istringstream lines(r.out);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line[0] != '#')
                sums.push_back(line.substr(line.rfind(',') + 1));
        }
        return sums;
    }
    double psnr(const std::string& output, const std::string& source)
    {
        const ToolRunResult r = RunProcess({ProgramOnPath("ffmpeg"), "-v", "info", "-nostats", "-i", output, "-i",
                                            source, "-lavfi", "psnr", "-f", "null", "-"});
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("average:([0-9.]+)")).match(QString::fromStdString(r.err));
        EXPECT_TRUE(m.hasMatch()) << r.err;
        return m.captured(1).toDouble();
    }
    // The video bits of each whole second, in kbit/s.
    std::map<int, double> kbitsPerSecond(const std::string& path)
    {
        const ToolRunResult r = RunProcess({ProgramOnPath("ffprobe"), "-v", "error", "-select_streams", "v",
                                            "-show_entries", "packet=pts_time,size", "-of", "csv=p=0", path});
        std::map<int, double> seconds;
        std::istringstream lines(r.out);
        std::string line;
        while (std::getline(lines, line)) {
            const size_t comma = line.find(',');
            if (comma != std::string::npos)
                seconds[static_cast<int>(std::stod(line.substr(0, comma)))] +=
                    std::stod(line.substr(comma + 1)) * 8 / 1000;
        }
        return seconds;
    }
};

} // namespace

// libvpx without a rate of its own caps VP8 at 256 kbit/s, where this clip gives the same file
// at every quality.
TEST_F(EncoderPageRun, VP8QualityGivesLargerAndBetterFiles)
{
    const std::string source = makeSource("noisy", "testsrc2=d=1:s=160x120:r=25,noise=alls=40:allf=t");
    TestPageHost host;
    KREEncoderPageVP8 page(&host, QStringLiteral("webm"));
    page.pageView();
    page.setCRF(36);
    const std::string low = encode(source, page.encoderArgs(), "low.webm");
    page.setCRF(4);
    const std::string high = encode(source, page.encoderArgs(), "high.webm");
    const std::string highText = ReadTestFile(high);
    EXPECT_GT(highText.size(), ReadTestFile(low).size() * 3 / 2);
    EXPECT_GT(psnr(high, source), psnr(low, source) + 6.0);
}

TEST_F(EncoderPageRun, LosslessModesDecodeToTheSourceFrames)
{
    const std::string source = makeSource("small", "testsrc2=s=64x48:r=25,noise=alls=20:allf=t,trim=end_frame=10");
    const std::vector<std::string> wanted = frameSums(source);
    ASSERT_EQ(wanted.size(), 10u);

    TestPageHost host;
    KREEncoderPageH265 h265(&host, QStringLiteral("matroska"));
    h265.pageView();
    h265.optionChanged(3);
    h265.setEncoderArgs(h265.encoderArgs() + QStringLiteral(" -preset ultrafast"));
    EXPECT_EQ(frameSums(encode(source, h265.encoderArgs(), "h265.mkv")), wanted) << h265.encoderArgs().toStdString();

    KREEncoderPageApple apple(&host, QStringLiteral("matroska"), QStringLiteral("H265"));
    apple.pageView();
    apple.optionChanged(3);
    EXPECT_EQ(frameSums(encode(source, apple.encoderArgs(), "apple.mkv")), wanted) << apple.encoderArgs().toStdString();

    KREEncoderPageVP9 vp9(&host, QStringLiteral("webm"));
    vp9.pageView();
    vp9.optionChanged(3);
    vp9.onQComboChange(2); // realtime: the fastest that is still lossless
    EXPECT_EQ(frameSums(encode(source, vp9.encoderArgs(), "vp9.webm")), wanted) << vp9.encoderArgs().toStdString();

    KREEncoderPageH264 h264(&host, QStringLiteral("mp4"));
    h264.pageView();
    h264.optionChanged(3);
    EXPECT_EQ(frameSums(encode(source, h264.encoderArgs(), "h264.mp4")), wanted) << h264.encoderArgs().toStdString();
}

// Four seconds of which one is noise: an average spends there what the others save, a constant
// rate may not.
TEST_F(EncoderPageRun, X264ConstantBitrateHoldsTheRateEverySecond)
{
    const std::string source =
        makeSource("varied", "testsrc2=d=4:s=160x120:r=25,noise=alls=60:allf=t+u:enable='between(t,1,2)'");
    TestPageHost host("-c:v libx264 -b:v 300k -minrate 300k -maxrate 300k -pix_fmt yuv420p -preset ultrafast");
    KREEncoderPageH264 page(&host, QStringLiteral("matroska"));
    page.pageView();
    ASSERT_TRUE(page.isCBR());
    const std::string cbr = encode(source, page.encoderArgs(), "cbr.mkv");
    page.optionChanged(0);
    ASSERT_TRUE(page.isABR());
    const std::string abr = encode(source, page.encoderArgs(), "abr.mkv");
    EXPECT_NE(ReadTestFile(cbr), ReadTestFile(abr));

    double cbrPeak = 0, abrPeak = 0;
    for (const auto& [second, kbits] : kbitsPerSecond(cbr))
        cbrPeak = std::max(cbrPeak, kbits);
    for (const auto& [second, kbits] : kbitsPerSecond(abr))
        abrPeak = std::max(abrPeak, kbits);
    EXPECT_LT(cbrPeak, 300 * 1.5) << page.encoderArgs().toStdString();
    EXPECT_GT(abrPeak, cbrPeak * 1.3);
}

// Given the average alone, the WMV encoder spends nearly twice the rate on this clip.
TEST_F(EncoderPageRun, WMVGivesTheRateItNames)
{
    const std::string source = makeSource("wmv", "testsrc2=d=4:s=320x240:r=25,noise=alls=20:allf=t");
    TestPageHost host(" -c:v wmv2 -c:a wmav2 -b:v 500k");
    KREEncoderPageWMV page(&host);
    page.pageView();
    const std::string out = encode(source, page.argsText(), "out.wmv");
    double kbits = 0;
    for (const auto& [second, each] : kbitsPerSecond(out))
        kbits += each;
    EXPECT_NEAR(kbits / 4, 500, 500 * 0.15) << page.argsText().toStdString();
}
