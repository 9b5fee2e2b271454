// Fades measured on the output of whole batches, alone and with each time effect: a fade in
// begins on the output's first frame and a fade out ends on its last, for the picture (the mean
// luminance of the first and last frames) and the sound (the level of its first and last
// moments), whatever the other effects make of the timeline. And a crop larger than the
// picture is told in plain words.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/RealFFmpegRunTest.h"
#include "common/ToolRun.h"
#include "outcome/OutcomeMeasure.h"

using namespace outcome;

namespace {

// Every fade one second long, as the Fade page writes it.
const char* const kFades = "Fade=-fadein=\"1\" -fadeout=\"1\" -afadein=\"1\" -afadeout=\"1\"";
const char* const kEncoder = "-vcodec libx264 -preset ultrafast -acodec aac";

class FadeOutcome : public RealFFmpegRunTest {
protected:
    // A white picture with a steady tone, 4 seconds.
    std::string Source()
    {
        const std::string clip = dir.file("white.mkv");
        if (!PathExists(clip)) {
            EXPECT_TRUE(MakeClip(clip, "color=white:s=160x120:r=25:d=4", "sine=f=440:d=4:r=44100",
                                 {"-c:v", "ffv1", "-c:a", "pcm_s16le"}));
        }
        return clip;
    }

    // The batch with the effects in the order given; the output's path (empty when it failed).
    std::string Convert(const std::vector<std::string>& effects, std::string* printed = nullptr)
    {
        const std::string source = Source();
        std::vector<std::string> args{"batch", "--src", source,   "--dst-folder", dir.file("out"),
                                      "--ext", ".mp4",  "--args", kEncoder};
        for (const std::string& effect : effects) {
            args.push_back("--effect");
            args.push_back(effect);
        }
        const ToolRunResult r = RunTestTool(TestToolPath("engine-tool"), args);
        if (printed)
            *printed = r.out;
        EXPECT_NE(r.out.find(" ok\n"), std::string::npos) << r.out << r.err;
        const std::string out = dir.file("out/white.mp4");
        return PathExists(out) ? out : std::string();
    }

    static double Length(const std::string& path) { return Number(FormatFields(path), "duration"); }

    // The picture fades in from black on its first frame, out to black on its last, and is
    // bright in between (at the times given on the output's timeline).
    static void ExpectPictureFaded(const std::string& out, const std::vector<double>& brightAt)
    {
        const std::vector<FrameStats> frames = PictureStats(out);
        ASSERT_GT(frames.size(), 10u) << out;
        EXPECT_LT(frames.front()["YAVG"], 20) << "first frame at " << frames.front().time;
        EXPECT_LT(frames.back()["YAVG"], 20) << "last frame at " << frames.back().time;
        for (double at : brightAt) {
            const FrameStats* nearest = &frames.front();
            for (const FrameStats& frame : frames) {
                if (std::abs(frame.time - at) < std::abs(nearest->time - at))
                    nearest = &frame;
            }
            EXPECT_GT((*nearest)["YAVG"], 200) << "frame at " << nearest->time;
        }
    }

    // The sound's first and last quarter second, within one-second fades, are far quieter than
    // its middle; soundEnd: where the sound ends.
    static void ExpectSoundFaded(const std::string& out, double soundEnd, const std::vector<double>& loudAt)
    {
        const double first = MeanVolume(out, 0, 0.25);
        const double last = MeanVolume(out, soundEnd - 0.3, 0.25);
        for (double at : loudAt) {
            const double middle = MeanVolume(out, at - 0.25, 0.5);
            EXPECT_GT(middle, -30) << "at " << at;
            EXPECT_LT(first, middle - 10) << "at " << at;
            EXPECT_LT(last, middle - 10) << "at " << at;
        }
    }
};

} // namespace

TEST_F(FadeOutcome, FadeAloneFadesBothEnds)
{
    const std::string out = Convert({kFades});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Length(out), 4, 0.15);
    ExpectPictureFaded(out, {2});
    ExpectSoundFaded(out, 4, {2});
}

TEST_F(FadeOutcome, TrimKeepsBothFadesInTheOutput)
{
    // Trimmed to 0.5..3.5 of the source: without the trim in the fade's times the fade in lay
    // before the part kept and the fade out after it.
    const std::string out = Convert({"Trim=-trimstart 0.5 -trimend 0.5", kFades});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Length(out), 3, 0.15);
    ExpectPictureFaded(out, {1.5});
    ExpectSoundFaded(out, 3, {1.5});
}

TEST_F(FadeOutcome, CutKeepsBothFadesInTheOutput)
{
    // After the fade in the chain: the order does not matter.
    const std::string out = Convert({kFades, "Cut=-ss 00:00:00.500 -t 00:00:03"});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Length(out), 3, 0.15);
    ExpectPictureFaded(out, {1.5});
    ExpectSoundFaded(out, 3, {1.5});
}

TEST_F(FadeOutcome, LoopFadesTheWholeOutputOnce)
{
    // Twice the source: the join in the middle is neither dark nor quiet.
    const std::string out = Convert({"Loop=-loopvideo=2", kFades});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Length(out), 8, 0.2);
    ExpectPictureFaded(out, {2, 3.9, 4.1, 6});
    ExpectSoundFaded(out, 8, {2, 4, 6});
}

TEST_F(FadeOutcome, SlowerPictureFadesOverItsWholeLength)
{
    // The picture plays twice as long (8 s), the sound keeps its speed (4 s).
    const std::string out = Convert({kFades, "Speed Adjust=-vf setpts='2.000000*PTS'"});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Number(StreamFields(out, "v:0"), "duration"), 8, 0.2);
    ExpectPictureFaded(out, {2, 4, 6});
    ExpectSoundFaded(out, 4, {2});
}

TEST_F(FadeOutcome, FasterPictureFadesOutAtItsOwnEnd)
{
    // The picture lasts 2 s, the sound 4 s.
    const std::string out = Convert({"Speed Adjust=-vf setpts='0.500000*PTS'", kFades});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Number(StreamFields(out, "v:0"), "duration"), 2, 0.15);
    const std::vector<FrameStats> frames = PictureStats(out);
    ASSERT_GT(frames.size(), 10u);
    EXPECT_LT(frames.front()["YAVG"], 20);
    EXPECT_LT(frames.back()["YAVG"], 20) << "last frame at " << frames.back().time;
    EXPECT_GT(frames[frames.size() / 2]["YAVG"], 120) << "frame at " << frames[frames.size() / 2].time;
    ExpectSoundFaded(out, 4, {2});
}

TEST_F(FadeOutcome, ReverseKeepsTheFadeInAtTheStart)
{
    // Only a fade in: the start is dark, the end is not.
    const std::string out = Convert(
        {"Fade=-fadein=\"1\" -fadeout=\"0\" -afadein=\"1\" -afadeout=\"0\"", "Reverse=-vf reverse -af areverse"});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Length(out), 4, 0.15);
    const std::vector<FrameStats> frames = PictureStats(out);
    ASSERT_GT(frames.size(), 10u);
    EXPECT_LT(frames.front()["YAVG"], 20);
    EXPECT_GT(frames.back()["YAVG"], 200);
    const double middle = MeanVolume(out, 1.75, 0.5);
    EXPECT_GT(middle, -30);
    EXPECT_LT(MeanVolume(out, 0, 0.25), middle - 10);
    EXPECT_GT(MeanVolume(out, 3.6, 0.25), middle - 2);
}

TEST_F(FadeOutcome, ReverseWithBothFades)
{
    const std::string out = Convert({"Reverse=-vf reverse -af areverse", kFades});
    ASSERT_FALSE(out.empty());
    ExpectPictureFaded(out, {2});
    ExpectSoundFaded(out, 4, {2});
}

TEST_F(FadeOutcome, SlowerAndTrimmedHasTheTrimmedLengthAndBothFades)
{
    // The picture stretched to 8 s, then 0.5 s taken off each end of the output: 7 s. The
    // sound (4 s) keeps its speed and loses its first half second.
    const std::string out =
        Convert({"Speed Adjust=-vf setpts='2.000000*PTS'", "Trim=-trimstart 0.5 -trimend 0.5", kFades});
    ASSERT_FALSE(out.empty());
    EXPECT_NEAR(Length(out), 7, 0.2);
    EXPECT_NEAR(Number(StreamFields(out, "a:0"), "duration"), 3.5, 0.2);
    ExpectPictureFaded(out, {2, 3.5, 5});
    ExpectSoundFaded(out, 3.5, {1.75});
}

TEST_F(FadeOutcome, ACropLargerThanThePictureIsToldPlainly)
{
    // The Crop page's default on a smaller picture.
    const std::string source = Source();
    const ToolRunResult r = RunTestTool(TestToolPath("engine-tool"),
                                        {"batch", "--src", source, "--dst-folder", dir.file("out"), "--ext", ".mp4",
                                         "--args", kEncoder, "--effect", "Crop=-vf crop=1024:768:0:0"});
    EXPECT_NE(r.out.find(" failed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("log: 0 The crop of 1024x768 at 0,0 is larger than the picture of 160x120.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Invalid too big"), std::string::npos) << r.out;
    EXPECT_FALSE(PathExists(dir.file("out/white.mp4")));
}
