// The fades in the command the run builds: after every other filter of their stream, with
// their times on the output's timeline (trim, cut, loop and speed counted), and joined files
// faded once, after the join. And a crop larger than the picture reported in plain words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/RealFFmpegRunTest.h"
#include "common/ToolRun.h"

namespace {

class FadeCommand : public RealFFmpegRunTest {
protected:
    void SetUp() override
    {
        RealFFmpegRunTest::SetUp();
        if (IsSkipped())
            return;
        src = dir.file("in.mkv");
        // 2 s at 25 frames per second, with sound.
        ASSERT_TRUE(MakeTestVideo(src, "160x120", "25", "2", {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}));
    }

    // The run's output as printed; command: the ffmpeg command line it showed.
    std::string Run(const std::string& args, std::string* command = nullptr)
    {
        const ToolRunResult r =
            RunTestTool(TestToolPath("engine-tool"), {"run", "--src", src, "--dst", dir.file("out.mkv"), "--args",
                                                      "-vcodec mpeg4 -acodec pcm_s16le " + args});
        if (command) {
            const size_t at = r.out.find("info: ");
            const size_t end = at == std::string::npos ? at : r.out.find('\n', at);
            *command = at == std::string::npos ? std::string() : r.out.substr(at + 6, end - at - 6);
        }
        return r.out;
    }

    std::string src;
};

} // namespace

TEST_F(FadeCommand, FadesFollowTheOtherFiltersOfTheirStream)
{
    // Given before the reverse; the filters' own order stays.
    std::string command;
    const std::string out = Run("-fadein=1 -afadein=1 -vf reverse -af areverse -vf hflip", &command);
    EXPECT_EQ(LastLine(out), "result: success") << out;
    EXPECT_NE(command.find("-vf \"reverse, hflip, fade=type=in:duration=1\""), std::string::npos) << command;
    EXPECT_NE(command.find("-af \"areverse, afade=type=in:duration=1\""), std::string::npos) << command;
}

TEST_F(FadeCommand, ASlowerPictureFadesOutAtItsOwnEnd)
{
    // The picture lasts 4 s, the sound keeps its 2 s. The fade out is complete two frames
    // (0.08 s apart now) before the end.
    std::string command;
    const std::string out = Run("-vf setpts='2.000000*PTS' -fadeout=1 -afadeout=0.5", &command);
    EXPECT_EQ(LastLine(out), "result: success") << out;
    EXPECT_NE(command.find("fade=type=out:duration=1:start_time=2.84\""), std::string::npos) << command;
    EXPECT_NE(command.find("afade=type=out:duration=0.5:start_time=1.5"), std::string::npos) << command;
}

TEST_F(FadeCommand, ATrimMovesTheFadesIntoThePartKept)
{
    // Kept: 0.5 to 1.5. The first frame kept is at most one frame (0.04 s) past the start.
    std::string command;
    const std::string out = Run("-trimstart 0.5 -trimend 0.5 -fadein=0.5 -fadeout=0.5 -afadein=0.5", &command);
    EXPECT_EQ(LastLine(out), "result: success") << out;
    EXPECT_NE(command.find("-ss \"00:00:00.500\" -to \"00:00:01.500\""), std::string::npos) << command;
    EXPECT_NE(command.find("fade=type=in:duration=0.5:start_time=0.54, fade=type=out:duration=0.5:start_time=0.92"),
              std::string::npos)
        << command;
    EXPECT_NE(command.find("afade=type=in:duration=0.5:start_time=0.5\""), std::string::npos) << command;
    EXPECT_NEAR(ProbedDuration(dir.file("out.mkv")), 1.0, 0.1);
}

TEST_F(FadeCommand, ATrimOfAStretchedPictureCountsFromItsStretchedEnd)
{
    // 4 s once stretched; 1 s off its end leaves 0 to 3.
    std::string command;
    const std::string out = Run("-vf setpts='2.000000*PTS' -trimend 1", &command);
    EXPECT_EQ(LastLine(out), "result: success") << out;
    EXPECT_NE(command.find("-to \"00:00:03.000\""), std::string::npos) << command;
    EXPECT_NEAR(ProbedDuration(dir.file("out.mkv")), 3.0, 0.1);
}

TEST_F(FadeCommand, ALoopIsFadedOnceAfterTheJoin)
{
    std::string command;
    const std::string out = Run("-loopvideo=2 -vf hflip -fadein=1 -fadeout=1 -afadeout=1", &command);
    EXPECT_EQ(LastLine(out), "result: success") << out;
    EXPECT_NE(command.find("[0:v]hflip[0v];"), std::string::npos) << command;
    EXPECT_NE(command.find("[v]fade=type=in:duration=1, fade=type=out:duration=1:start_time=2.92[marvoni_fv];"
                           "[a]afade=type=out:duration=1:start_time=3[marvoni_fa]"),
              std::string::npos)
        << command;
    EXPECT_NE(command.find("-map \"[marvoni_fv]\" -map \"[marvoni_fa]\""), std::string::npos) << command;
    EXPECT_NEAR(ProbedDuration(dir.file("out.mkv")), 4.0, 0.1);
}

TEST_F(FadeCommand, ACropLargerThanThePictureSaysWhichAndHowLarge)
{
    std::string out = Run("-vf crop=1024:768:0:0");
    EXPECT_EQ(LastLine(out), "result: failure");
    EXPECT_NE(out.find("error: The crop of 1024x768 at 0,0 is larger than the picture of 160x120.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Invalid too big"), std::string::npos) << out;
    // After a scale the source's size says nothing of the picture the crop gets.
    out = Run("-vf scale=100:80,crop=120:90:4:2");
    EXPECT_EQ(LastLine(out), "result: failure");
    EXPECT_NE(out.find("error: The crop of 120x90 at 4,2 is larger than the picture.\n"), std::string::npos) << out;
    // A crop that fits converts.
    out = Run("-vf crop=100:60:10:10");
    EXPECT_EQ(LastLine(out), "result: success") << out;
}
