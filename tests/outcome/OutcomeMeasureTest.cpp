// The measurements themselves, on clips whose answers are known: an outcome test is only as
// true as what it reads.
#include <gtest/gtest.h>

#include "common/RealFFmpegRunTest.h"
#include "outcome/OutcomeMeasure.h"

using namespace outcome;

class OutcomeMeasure : public RealFFmpegRunTest {};

TEST_F(OutcomeMeasure, KnownClipsGiveKnownReadings)
{
    const std::string black = dir.file("black.mkv");
    const std::string white = dir.file("white.mkv");
    ASSERT_TRUE(
        MakeClip(black, "color=black:d=1:s=64x48:r=10", "anullsrc=d=1:r=44100", {"-c:v", "ffv1", "-c:a", "pcm_s16le"}));
    ASSERT_TRUE(MakeClip(white, "color=white:d=1:s=64x48:r=10", "sine=d=1:f=440:r=44100",
                         {"-c:v", "ffv1", "-c:a", "pcm_s16le"}));

    const auto video = StreamFields(black, "v:0");
    EXPECT_EQ(Text(video, "codec_name"), "ffv1");
    EXPECT_EQ(Number(video, "width"), 64);
    EXPECT_NEAR(Number(video, "avg_frame_rate"), 10, 1e-9);
    EXPECT_EQ(Number(StreamFields(black, "a:0"), "sample_rate"), 44100);
    EXPECT_EQ(StreamTypes(black), (std::vector<std::string>{"video", "audio"}));
    EXPECT_EQ(FrameCount(black), 10);

    const auto dark = PictureStats(black);
    const auto light = PictureStats(white);
    ASSERT_EQ(dark.size(), 10u);
    ASSERT_EQ(light.size(), 10u);
    EXPECT_LT(dark.front()["YAVG"], 20);
    EXPECT_GT(light.back()["YAVG"], 230);
    EXPECT_NEAR(light.back().time, 0.9, 1e-6);

    EXPECT_LT(MeanVolume(black, 0, 0.5), -90);
    EXPECT_GT(MeanVolume(white, 0.5, 0.5), -30);
    EXPECT_GT(IntegratedLoudness(white), -30);

    EXPECT_EQ(ColourDistance(FrameAt(black).at(0, 0), 0x000000), 0);
    EXPECT_LE(ColourDistance(FrameAt(white, 0.5).at(63, 47), 0xFFFFFF), 2);
    EXPECT_EQ(FrameAt(white).at(64, 0), -1);
}

TEST_F(OutcomeMeasure, HashesPSNRAndRatesTellCopiesFromChanges)
{
    const std::string source = dir.file("source.mkv");
    const std::string copy = dir.file("copy.mkv");
    const std::string lossy = dir.file("lossy.mp4");
    ASSERT_TRUE(MakeClip(source, "testsrc2=d=3:s=128x96:r=10", "", {"-c:v", "ffv1"}));
    ASSERT_EQ(RunOnPath({"ffmpeg", "-v", "error", "-i", source, "-c", "copy", copy}).status, 0);
    ASSERT_EQ(RunOnPath({"ffmpeg", "-v", "error", "-i", source, "-c:v", "mpeg4", "-q:v", "20", lossy}).status, 0);

    const auto hashes = FrameHashes(source, "yuv420p");
    ASSERT_EQ(hashes.size(), 30u);
    EXPECT_EQ(FrameHashes(copy, "yuv420p"), hashes);
    EXPECT_NE(FrameHashes(lossy, "yuv420p"), hashes);
    EXPECT_EQ(PSNR(copy, source), 1000);
    const double lossyPSNR = PSNR(lossy, source);
    EXPECT_GT(lossyPSNR, 10);
    EXPECT_LT(lossyPSNR, 60);

    const auto rates = KbitPerSecond(lossy);
    ASSERT_EQ(rates.size(), 2u); // seconds 0 and 1; the last one is left out
    for (double rate : rates)
        EXPECT_GT(rate, 0);
    EXPECT_GT(StreamKbps(lossy), 0);
}
