// Wave-format descriptions: the old and the extensible layouts, and the sub-format a GUID
// stands for.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "media/XWaveFormat.h"

TEST(XWaveFormat, LayoutsSubFormatsAndDescription)
{
    // 14 bytes: no bits field; 2 channels with 4-byte blocks are 16 bits a sample.
    const uint8_t old[14] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0};
    const XWaveFormat pcm(old, sizeof old);
    EXPECT_EQ(pcm.BitsPerSample(), 16);
    EXPECT_EQ(pcm.SamplesPerSec(), 44100u);
    EXPECT_EQ(pcm.MillisecondsToBytes(1000), 176400u);
    EXPECT_EQ(pcm.BytesToMilliseconds(17640), 100u);

    // An extensible float format: the GUID decides the effective tag.
    uint8_t ext[40] = {0xFE, 0xFF, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xDC, 5, 0, 8, 0, 32, 0, 22, 0, 32, 0, 3, 0, 0, 0};
    const uint8_t guid[16] = {3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    memcpy(ext + 24, guid, 16);
    XWaveFormat floats(ext, sizeof ext);
    EXPECT_TRUE(floats.IsExtensible());
    EXPECT_EQ(floats.EffectiveFormatTag(), 3);
    EXPECT_EQ(floats.ChannelMask(), 3u);
    EXPECT_NE(floats.Description().find("Extensible Sub-Format: 3"), std::string::npos);
    ext[24] = 0x99;
    EXPECT_EQ(XWaveFormat(ext, sizeof ext).EffectiveFormatTag(), 0xFFFE) << "an unknown sub-format keeps the tag";

    // Extra bytes the given size cannot hold are not taken.
    const XWaveFormat cut(ext, 30);
    EXPECT_EQ(cut.CbSize(), 0);
    EXPECT_EQ(cut.Size(), 18u);
    EXPECT_FALSE(cut.IsExtensible());

    XWaveFormat made;
    made.SetChannels(6);
    made.SetBitsPerSample(24);
    made.SetSamplesPerSec(48000);
    EXPECT_EQ(made.BlockAlign(), 18);
    EXPECT_EQ(made.AvgBytesPerSec(), 864000u);
    EXPECT_EQ(made.Description().rfind("Format Tag: 0", 0), 0u);
}
