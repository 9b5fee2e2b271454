#include "kit/UnitFormat.h"
#include "common/TestStore.h"
#include "kit/QKStringTools.h"
#include "platform/XStrQString.h"
#include "xclass/XFormat.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

QString Q(const XStr& text)
{
    return XStrToQString(text);
}

// Sets one unit setting under the units key.
bool SetUnit(const wchar_t* name, uint32_t value)
{
    return XRegistry::SetDWORD(value, name, kUnitsRoot, kUnitsKey);
}

TEST(UnitFormatTest, SampleRates)
{
    TestStoreScope registry{TestStoreScope::Key::Keep}; // no store file yet: every setting reads as 0
    EXPECT_EQ(Q(formatFreqUnits(44100)), QStringLiteral("44.1 kHz  (CD)"));
    EXPECT_EQ(Q(formatFreqUnits(48000)), QStringLiteral("48 kHz  (DAT)"));
    EXPECT_EQ(Q(formatFreqUnits(96000)), QStringLiteral("96 kHz  (DVD)"));
    EXPECT_EQ(Q(formatFreqUnits(22050)), QStringLiteral("22 kHz")); // one decimal, rounded by adding 0.49
    EXPECT_EQ(Q(formatFreqUnits(88200)), QStringLiteral("88.2 kHz"));
    EXPECT_EQ(Q(formatFreqUnits(8000)), QStringLiteral("8 kHz"));
    ASSERT_TRUE(SetUnit(L"UnitsFreq", 1));
    EXPECT_EQ(Q(formatFreqUnits(44100)), QStringLiteral("44,100 Hz  (CD)"));
    ASSERT_TRUE(SetUnit(L"kRANoCDDvdDatHelper", 1));
    EXPECT_EQ(Q(formatFreqUnits(44100)), QStringLiteral("44,100 Hz"));
    EXPECT_EQ(Q(formatFreqUnits(INT_MIN)), QStringLiteral("-2,147,483,648 Hz"));
    EXPECT_EQ(QKStringTools::formatSampleRate(0), QStringLiteral("[as source]"));
}

TEST(UnitFormatTest, ChannelWordsAndQuotedWords)
{
    TestStoreScope registry{TestStoreScope::Key::Keep};
    const QStringList quoted = QKStringTools::channelModeLabels();
    EXPECT_EQ(quoted, (QStringList{"[as source]", "1  'mono'", "2  'stereo'  (CD)", "3", "4  'quadraphonic'",
                                   "5  'surround'", "6  '5.1 surround'  (DVD)", "7", "8  '7.1 theater'"}));
    ASSERT_TRUE(SetUnit(L"UnitsChannels", 2));
    EXPECT_EQ(QKStringTools::channelModeLabelsNo0(),
              (QStringList{"Mono", "Stereo  (CD)", "3 channels", "Quadraphonic", "Surround", "5.1 surround  (DVD)",
                           "7 channels", "7.1 theater"}));
    ASSERT_TRUE(SetUnit(L"kRANoCDDvdDatHelper", 1));
    EXPECT_EQ(Q(formatChannelUnits(2)), QStringLiteral("Stereo"));
    EXPECT_EQ(Q(formatChannelUnits(6)), QStringLiteral("5.1 surround"));
    ASSERT_TRUE(SetUnit(L"UnitsChannels", 0));
    EXPECT_EQ(Q(formatChannelUnits(2)), QStringLiteral("2  'stereo'"));
    ASSERT_TRUE(SetUnit(L"UnitsChannels", 1));
    EXPECT_EQ(Q(formatChannelUnits(6)), QStringLiteral("6"));
    EXPECT_EQ(QKStringTools::formatChannels(0), QStringLiteral("[as source]"));
}

TEST(UnitFormatTest, BitRatesAndTheirHints)
{
    TestStoreScope registry{TestStoreScope::Key::Keep};
    EXPECT_EQ(Q(formatBitRateUnits(1536000, 2, 48000)), QStringLiteral("1,536 kbps  (DAT)"));
    EXPECT_EQ(Q(formatBitRateUnits(4608000, 2, 96000)), QStringLiteral("4,608 kbps  (DVD)"));
    EXPECT_EQ(Q(formatBitRateUnits(1411200, 2, 48000)), QStringLiteral("1,411 kbps")); // CD rate, DAT clock
    EXPECT_EQ(Q(formatBitRateUnits(1411200, 0, 44100)), QStringLiteral("1,411 kbps"));
    EXPECT_EQ(QKStringTools::formatBitRate(1411200), QStringLiteral("1,411 kbps")); // never a hint
    // The one division that does not fit an int must not trap.
    EXPECT_EQ(Q(formatBitRateUnits(INT_MIN, -1, 44100)), QStringLiteral("-2,147,483 kbps  (DVD)"));

    ASSERT_TRUE(SetUnit(L"UnitsBitRate", 1));
    EXPECT_EQ(Q(formatBitRateUnits(1411200, 2, 44100)), QStringLiteral("1,411 kbps"));
    ASSERT_TRUE(SetUnit(L"UnitsBitRate", 2));
    EXPECT_EQ(Q(formatBitRateUnits(1411200, 2, 44100)), QStringLiteral("1,411,200 bps"));
}

TEST(UnitFormatTest, FileSizesPerSetting)
{
    TestStoreScope registry{TestStoreScope::Key::Keep};
    EXPECT_EQ(QKStringTools::formatFileSize(1572864), QStringLiteral("1.5 MB"));
    EXPECT_EQ(QKStringTools::formatFileSize(5), QStringLiteral("5 bytes"));
    ASSERT_TRUE(SetUnit(L"UnitsFileSize", 1));
    EXPECT_EQ(QKStringTools::formatFileSize(1572864), QStringLiteral("1.5 MB"));
    ASSERT_TRUE(SetUnit(L"UnitsFileSize", 2));
    EXPECT_EQ(QKStringTools::formatFileSize(1536), QStringLiteral("2 KB"));
    EXPECT_EQ(QKStringTools::formatFileSize(1572864), QStringLiteral("1,536 KB"));
    ASSERT_TRUE(SetUnit(L"UnitsFileSize", 3));
    EXPECT_EQ(QKStringTools::formatFileSize(1234567), QStringLiteral("1,234,567 bytes"));
    EXPECT_EQ(QKStringTools::formatFileSize(UINT64_MAX), QStringLiteral("18,446,744,073,709,551,615 bytes"));
}

TEST(UnitFormatTest, DurationsPerSetting)
{
    TestStoreScope registry{TestStoreScope::Key::Keep};
    EXPECT_EQ(QKStringTools::formatDuration(63000), Q(XFormatDuration(63000, 0)));
    ASSERT_TRUE(SetUnit(L"UnitsTime", 1));
    EXPECT_EQ(QKStringTools::formatDuration(63000), QStringLiteral("1:03"));
    ASSERT_TRUE(SetUnit(L"UnitsTime", 4)); // words, as 0
    EXPECT_EQ(QKStringTools::formatDuration(63000), QStringLiteral("1 minute 3 seconds"));
    ASSERT_TRUE(SetUnit(L"UnitsTime", 77)); // unknown: words rather than nothing
    EXPECT_EQ(QKStringTools::formatDuration(63000), QStringLiteral("1 minute 3 seconds"));
    ASSERT_TRUE(SetUnit(L"UnitsTime", 2));
    EXPECT_EQ(QKStringTools::formatDuration(63000), Q(XFormatDuration(63000, 2)));
    EXPECT_EQ(QKStringTools::formatDurationPrecise(63456), Q(XFormatDuration(63456, 3)));
    EXPECT_EQ(QKStringTools::formatDurationLong(63000), QStringLiteral("1 minute 3 seconds"));
    // Beyond the signed range a duration is held at the largest, not shown as 0.
    EXPECT_EQ(QKStringTools::formatDurationPrecise(UINT64_MAX), Q(XFormatDuration(INT64_MAX, 3)));
}

} // namespace
