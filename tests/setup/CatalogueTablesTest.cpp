// The bit-rate table's text forms and the audio choices per container.

#include <gtest/gtest.h>

#include "setup/KREAudioOptions.h"
#include "setup/KREEncoderBitrates.h"

TEST(KREEncoderBitrates, TextFormsAndLookup)
{
    EXPECT_EQ(KREEncoderBitrates::formatBitrate(1000), "1M");
    EXPECT_EQ(KREEncoderBitrates::formatBitrate(1500), "1.5M");
    EXPECT_EQ(KREEncoderBitrates::formatBitrate(2500), "2.5M");
    EXPECT_EQ(KREEncoderBitrates::formatBitrate(1999), "1.9M"); // the decimal is cut, not rounded
    EXPECT_EQ(KREEncoderBitrates::formatBitrate(800), "800k");
    EXPECT_EQ(KREEncoderBitrates::formatBitrateUser(1500), "1.5 mbps");
    EXPECT_EQ(KREEncoderBitrates::formatBitrateUser(20000), "20 mbps");
    EXPECT_EQ(KREEncoderBitrates::formatBitrateUser(200), "200 kbps");

    EXPECT_EQ(KREEncoderBitrates::findBitrateIndex("1M"), 7);
    EXPECT_EQ(KREEncoderBitrates::findBitrateIndex("2M"), 9);
    EXPECT_EQ(KREEncoderBitrates::findBitrateIndex("2.5M"), 10);
    EXPECT_EQ(KREEncoderBitrates::findBitrateIndex("1000k"), KREEncoderBitrates::kNotFound);
    EXPECT_EQ(KREEncoderBitrates::findBitrateIndex(""), KREEncoderBitrates::kNotFound);
    for (int i = 0; i < KREEncoderBitrates::kCount; ++i)
        EXPECT_EQ(KREEncoderBitrates::findBitrateIndex(
                      KREEncoderBitrates::formatBitrate(KREEncoderBitrates::bitrateByIndex(i))),
                  i);
    EXPECT_EQ(KREEncoderBitrates::bitrateByIndex(0), 200u);
    EXPECT_EQ(KREEncoderBitrates::bitrateByIndex(19), 20000u);
    EXPECT_EQ(KREEncoderBitrates::bitrateByIndex(20), 0u);
    EXPECT_EQ(KREEncoderBitrates::bitrateByIndex(UINT64_MAX), 0u);
}

TEST(KREAudioOptions, ChoicesPerContainer)
{
    const KREAudioOptions mp4 = KREAudioOptions::createForFormat("MP4");
    EXPECT_EQ(mp4.optionSwitches(), QStringList({"-acodec aac", "-acodec copy"}));
    EXPECT_EQ(KREAudioOptions::createForFormat("mov").optionLabels(), mp4.optionLabels());
    EXPECT_EQ(KREAudioOptions::createForFormat("matroska").optionSwitches().size(), 4);
    const KREAudioOptions webm = KREAudioOptions::createForFormat("webm");
    EXPECT_EQ(webm.optionSwitches(), QStringList({"-acodec libopus", "-acodec libvorbis"}));
    EXPECT_TRUE(KREAudioOptions::createForFormat("avi").optionLabels().isEmpty());

    EXPECT_EQ(mp4.optionFromArgs("-c:v libx264 -acodec copy"), 1);
    EXPECT_EQ(mp4.optionFromArgs("-c:v libx264"), 0);
    // A profile stored by the macOS program names the AAC encoder it had.
    EXPECT_EQ(mp4.optionFromArgs("-c:v libx264 -acodec aac_at"), 0);
    EXPECT_EQ(webm.optionFromArgs("-acodec libvorbis -c:v libvpx"), 1);
}
