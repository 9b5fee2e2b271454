// The time, stream and sound effects measured in what the batch writes: how long the output
// plays and which frames it holds (frame hashes of lossless outputs against the source's), its
// streams, and its sound's rate, channels, bit rate and loudness. Each with its page's defaults
// and with another setting the page writes.
#include <gtest/gtest.h>

#include <algorithm>

#include "outcome/EffectOutcome.h"

using namespace outcome;
using namespace effect_outcome;

namespace {

// 2 seconds at 10 frames a second of a moving pattern: no two frames alike.
const char* const kMoving = "testsrc=s=160x120:r=10:d=2";

std::vector<std::string> Slice(const std::vector<std::string>& all, size_t from, size_t count)
{
    if (from >= all.size())
        return {};
    return std::vector<std::string>(all.begin() + long(from), all.begin() + long(std::min(all.size(), from + count)));
}

} // namespace

class TimeEffect : public EffectOutcome {
protected:
    std::string moving() { return clip("moving.mkv", kMoving); }
};

TEST_F(TimeEffect, SpeedAdjustChangesHowLongThePicturePlays)
{
    // 25 frames a second, so that the output's rate rounds the times by little; the sound
    // keeps its speed.
    const std::string source = clip("moving.mkv", "testsrc=s=160x120:r=25:d=2", "sine=d=2:f=440");
    const std::string faster = convert(source, {{"Speed Adjust", page("Speed Adjust")}}, ".mp4", kMP4);
    ASSERT_FALSE(faster.empty());
    EXPECT_NEAR(VideoSeconds(faster), 1.0, 0.12);
    EXPECT_NEAR(Number(StreamFields(faster, "a:0"), "duration"), 2.0, 0.1);

    const std::string slower =
        convert(source, {{"Speed Adjust", setting("Speed Adjust", "-vf setpts='2.000000*PTS'")}}, ".mp4", kMP4);
    ASSERT_FALSE(slower.empty());
    EXPECT_NEAR(VideoSeconds(slower), 4.0, 0.12);
}

TEST_F(TimeEffect, LoopPlaysTheFileAgain)
{
    const std::string source = moving();
    const auto frames = FrameHashes(source, "yuv420p");
    ASSERT_EQ(frames.size(), 20u);
    const std::string twice = convert(source, {{"Loop", page("Loop")}});
    ASSERT_FALSE(twice.empty());
    std::vector<std::string> expected = frames;
    expected.insert(expected.end(), frames.begin(), frames.end());
    EXPECT_EQ(FrameHashes(twice, "yuv420p"), expected);

    const std::string thrice = convert(source, {{"Loop", setting("Loop", "-loopvideo=3")}});
    ASSERT_FALSE(thrice.empty());
    expected.insert(expected.end(), frames.begin(), frames.end());
    EXPECT_EQ(FrameHashes(thrice, "yuv420p"), expected);
    EXPECT_NEAR(VideoSeconds(thrice), 6.0, 0.05);
}

TEST_F(TimeEffect, TrimRemovesTimeAtBothEnds)
{
    const std::string source = moving();
    const auto frames = FrameHashes(source, "yuv420p");
    ASSERT_EQ(frames.size(), 20u);
    // A new Trim removes nothing.
    EXPECT_EQ(page("Trim"), "");
    const std::string whole = convert(source, {{"Trim", page("Trim")}});
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(FrameHashes(whole, "yuv420p"), frames);

    const std::string trimmed = convert(source, {{"Trim", setting("Trim", "-trimstart 0.5 -trimend 0.3")}});
    ASSERT_FALSE(trimmed.empty());
    EXPECT_EQ(FrameHashes(trimmed, "yuv420p"), Slice(frames, 5, 12));
    EXPECT_NEAR(VideoSeconds(trimmed), 1.2, 0.05);
}

TEST_F(TimeEffect, CutKeepsTheLengthFromTheStart)
{
    const std::string source = moving();
    const auto frames = FrameHashes(source, "yuv420p");
    ASSERT_EQ(frames.size(), 20u);
    EXPECT_EQ(page("Cut"), "");
    const std::string whole = convert(source, {{"Cut", page("Cut")}});
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(FrameHashes(whole, "yuv420p"), frames);

    const std::string part = convert(source, {{"Cut", setting("Cut", "-ss 00:00:00.700 -t 00:00:01")}});
    ASSERT_FALSE(part.empty());
    EXPECT_EQ(FrameHashes(part, "yuv420p"), Slice(frames, 7, 10));
    const std::string tail = convert(source, {{"Cut", setting("Cut", "-ss 00:00:01.500")}});
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(FrameHashes(tail, "yuv420p"), Slice(frames, 15, 5));
}

TEST_F(TimeEffect, ReversePlaysPictureAndSoundBackwards)
{
    // The sound grows louder over the clip, so that backwards it grows quieter.
    const std::string source = clip("moving.mkv", kMoving, "aevalsrc=0.9*t/2*sin(2*PI*440*t):d=2:s=44100");
    const auto frames = FrameHashes(source, "yuv420p");
    ASSERT_EQ(frames.size(), 20u);
    ASSERT_GT(MeanVolume(source, 1.5, 0.5), MeanVolume(source, 0, 0.5) + 10);
    const std::string out = convert(source, {{"Reverse", page("Reverse")}});
    ASSERT_FALSE(out.empty());
    const auto reversed = FrameHashes(out, "yuv420p");
    EXPECT_EQ(reversed, std::vector<std::string>(frames.rbegin(), frames.rend()));
    ASSERT_FALSE(reversed.empty());
    EXPECT_EQ(reversed.front(), frames.back()); // the first frame is the source's last
    EXPECT_GT(MeanVolume(out, 0, 0.5), MeanVolume(out, 1.5, 0.5) + 10);
}

class SoundEffect : public EffectOutcome {
protected:
    // 3 seconds of stereo sound at 48 kHz (pink noise on the left, a tone on the right), so
    // that a bit rate has something to spend itself on, beside a small picture.
    std::string sound()
    {
        const std::string path = dir.file("sound.mkv");
        EXPECT_TRUE(MakeClip(path, "color=gray:s=64x48:r=5:d=3",
                             "anoisesrc=d=3:c=pink:a=0.3:r=48000[l];sine=f=440:d=3:r=48000[r];[l][r]amerge=inputs=2",
                             {"-c:v", "ffv1", "-c:a", "pcm_s16le"}));
        return path;
    }
};

TEST_F(SoundEffect, AudioBitrateIsTheSoundsBitRate)
{
    const std::string source = sound();
    const std::string standard = convert(source, {{"Audio Bitrate", page("Audio Bitrate")}}, ".mp4", kMP4);
    ASSERT_FALSE(standard.empty());
    EXPECT_NEAR(StreamKbps(standard, "a:0"), 128, 128 * 0.12);
    const std::string low = convert(source, {{"Audio Bitrate", setting("Audio Bitrate", "-b:a 48k")}}, ".mp4", kMP4);
    ASSERT_FALSE(low.empty());
    EXPECT_NEAR(StreamKbps(low, "a:0"), 48, 48 * 0.12);
}

TEST_F(SoundEffect, AudioChannelCountIsTheOutputsChannels)
{
    const std::string source = sound();
    const std::string mono = clip("mono.mkv", "color=gray:s=64x48:r=5:d=1", "sine=d=1:r=48000");
    const std::string stereo = convert(mono, {{"Audio Channel Count", page("Audio Channel Count")}}, ".mp4", kMP4);
    ASSERT_FALSE(stereo.empty());
    EXPECT_EQ(Number(StreamFields(stereo, "a:0"), "channels"), 2);
    const std::string one =
        convert(source, {{"Audio Channel Count", setting("Audio Channel Count", "-ac 1")}}, ".mp4", kMP4);
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(Number(StreamFields(one, "a:0"), "channels"), 1);
    const std::string six = convert(source, {{"Audio Channel Count", setting("Audio Channel Count", "-ac 6")}});
    ASSERT_FALSE(six.empty());
    EXPECT_EQ(Number(StreamFields(six, "a:0"), "channels"), 6);
}

TEST_F(SoundEffect, AudioResampleIsTheOutputsSampleRate)
{
    const std::string source = sound();
    const std::string cd = convert(source, {{"Audio Resample", page("Audio Resample")}});
    ASSERT_FALSE(cd.empty());
    EXPECT_EQ(Number(StreamFields(cd, "a:0"), "sample_rate"), 44100);
    const std::string low = convert(source, {{"Audio Resample", setting("Audio Resample", "-ar 22050")}}, ".mp4", kMP4);
    ASSERT_FALSE(low.empty());
    EXPECT_EQ(Number(StreamFields(low, "a:0"), "sample_rate"), 22050);
    EXPECT_NEAR(Number(StreamFields(low, "a:0"), "duration"), 3, 0.1); // the same sound, not a faster one
}

TEST_F(SoundEffect, AudioMuteLeavesNoSound)
{
    const std::string source = sound();
    ASSERT_GT(MaxVolume(source), -20);
    for (const auto& [ext, encoder] :
         {std::make_pair(std::string(".mp4"), kMP4), std::make_pair(std::string(".mkv"), kLossless)}) {
        const std::string out = convert(source, {{"Audio Mute", page("Audio Mute")}}, ext, encoder);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(AudioPackets(out), 0) << ext;
        EXPECT_LT(MaxVolume(out), -90) << ext; // -1000: nothing to hear at all
        EXPECT_EQ(FrameCount(out), 15) << ext; // the picture stays
    }
}

TEST_F(SoundEffect, AudioNormalizeReachesItsLoudness)
{
    const std::string source = sound();
    const double before = IntegratedLoudness(source);
    ASSERT_GT(before, -21.5); // both targets lie away from it
    ASSERT_LT(before, -17.5);
    const std::string broadcast = convert(source, {{"Audio Normalize", page("Audio Normalize")}}, ".mp4", kMP4);
    ASSERT_FALSE(broadcast.empty());
    EXPECT_NEAR(IntegratedLoudness(broadcast), -23, 1);
    const std::string streaming = convert(
        source, {{"Audio Normalize", setting("Audio Normalize", "-af loudnorm=I=-16:TP=-1.5:LRA=11 -ar 48000")}},
        ".mp4", kMP4);
    ASSERT_FALSE(streaming.empty());
    EXPECT_NEAR(IntegratedLoudness(streaming), -16, 1);
}

TEST_F(SoundEffect, StreamSelectionKeepsTheChosenStreams)
{
    // A picture, a mono tone, stereo noise and subtitles.
    const std::string subtitles = dir.file("s.srt");
    WriteTextFile(subtitles, "1\n00:00:00,000 --> 00:00:01,500\nHello\n\n");
    const std::string source = dir.file("streams.mkv");
    ASSERT_EQ(RunOnPath({"ffmpeg", "-v",      "error",   "-nostdin",
                         "-f",     "lavfi",   "-i",      "color=gray:s=64x48:r=5:d=2",
                         "-f",     "lavfi",   "-i",      "sine=f=440:d=2",
                         "-f",     "lavfi",   "-i",      "anoisesrc=d=2:a=0.2",
                         "-i",     subtitles, "-map",    "0",
                         "-map",   "1",       "-map",    "2",
                         "-map",   "3",       "-ac:a:1", "2",
                         "-c:v",   "ffv1",    "-c:a",    "pcm_s16le",
                         "-c:s",   "srt",     "-y",      source})
                  .status,
              0);
    const std::vector<std::string> all{"video", "audio", "audio", "subtitle"};
    ASSERT_EQ(StreamTypes(source), all);

    const std::string everything = convert(source, {{"Stream Selection", page("Stream Selection")}});
    ASSERT_FALSE(everything.empty());
    EXPECT_EQ(StreamTypes(everything), all);

    const std::string second =
        convert(source, {{"Stream Selection", setting("Stream Selection", "-map 0:v:0 -map 0:a:1 -sn")}});
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(StreamTypes(second), (std::vector<std::string>{"video", "audio"}));
    EXPECT_EQ(Number(StreamFields(second, "a:0"), "channels"), 2); // the noise, not the tone

    const std::string silent =
        convert(source, {{"Stream Selection", setting("Stream Selection", "-map 0:v? -an -map 0:s?")}});
    ASSERT_FALSE(silent.empty());
    EXPECT_EQ(StreamTypes(silent), (std::vector<std::string>{"video", "subtitle"}));

    const std::string soundOnly =
        convert(source, {{"Stream Selection", setting("Stream Selection", "-vn -map 0:a:0 -sn")}});
    ASSERT_FALSE(soundOnly.empty());
    EXPECT_EQ(StreamTypes(soundOnly), (std::vector<std::string>{"audio"}));
    EXPECT_EQ(Number(StreamFields(soundOnly, "a:0"), "channels"), 1);
}
