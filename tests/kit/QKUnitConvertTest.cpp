#include "kit/QKUnitConvert.h"

#include <gtest/gtest.h>

#include <QSpinBox>

#include <climits>
#include <cmath>
#include <limits>

namespace {

TEST(UnitConvertTest, SplitsAndMergesTimes)
{
    const int64_t ms = 3723456; // 1:02:03.456
    const QKTimeFields withHours = QKUnitConvert::splitTime(ms, true);
    EXPECT_EQ(withHours.hours, 1);
    EXPECT_EQ(withHours.minutes, 2);
    EXPECT_EQ(withHours.seconds, 3);
    EXPECT_EQ(withHours.ms, 456);
    EXPECT_EQ(QKUnitConvert::splitTime(ms, false).minutes, 62);
    EXPECT_EQ(QKUnitConvert::mergeTime(1, 2, 3, 456), ms);

    QSpinBox h, m, s, f;
    for (QSpinBox* box : {&h, &m, &s, &f})
        box->setRange(0, INT_MAX);
    QKUnitConvert::splitTime(ms, nullptr, &m, &s, &f);
    EXPECT_EQ(m.value(), 62);
    EXPECT_EQ(QKUnitConvert::mergeTime(nullptr, &m, &s, &f), ms);
    QKUnitConvert::splitTime(ms, &h, &m, &s, &f);
    EXPECT_EQ(h.value(), 1);
    EXPECT_EQ(m.value(), 2);
    EXPECT_EQ(QKUnitConvert::mergeTime(&h, &m, &s, &f), ms);
}

TEST(UnitConvertTest, ExtremeTimesDoNotOverflow)
{
    EXPECT_EQ(QKUnitConvert::mergeTime(INT_MAX, INT_MAX, INT_MAX, INT_MAX),
              int64_t{INT_MAX} * (3600000 + 60000 + 1000 + 1));
    EXPECT_EQ(QKUnitConvert::splitTime(std::numeric_limits<int64_t>::max(), false).minutes, INT_MAX);
    EXPECT_EQ(QKUnitConvert::splitTime(std::numeric_limits<int64_t>::max(), true).hours, INT_MAX);
    const QKTimeFields negative = QKUnitConvert::splitTime(-5000, true);
    EXPECT_EQ(negative.seconds, 0);
    EXPECT_EQ(negative.ms, 0);
}

TEST(UnitConvertTest, DecibelsAndPercentages)
{
    EXPECT_NEAR(QKUnitConvert::percentToDB(100), 0.0, 1e-9);
    EXPECT_NEAR(QKUnitConvert::percentToDB(50), -6.0206, 1e-4);
    EXPECT_EQ(QKUnitConvert::dBToPercentInt(-6), 50);
    EXPECT_NEAR(QKUnitConvert::dBToMultiply(0), 1.0, 1e-12);
    EXPECT_NEAR(QKUnitConvert::dBToPercent(6.0206), 200.0, 1e-2);
    EXPECT_NEAR(QKUnitConvert::multiplyToDB(0.5), -6.0206, 1e-4);
}

TEST(UnitConvertTest, GainAboveFullScaleIsPositiveNotSilence)
{
    const double dB = QKUnitConvert::percentToDB(150);
    EXPECT_NEAR(dB, 3.5218, 1e-4);
    EXPECT_NEAR(QKUnitConvert::dBToPercent(dB), 150.0, 1e-9); // the round trip holds
    EXPECT_GT(QKUnitConvert::multiplyToDB(2.0), 6.0);
    // No level at all is the floor of 16-bit audio.
    EXPECT_DOUBLE_EQ(QKUnitConvert::percentToDB(0), -96.3);
    EXPECT_DOUBLE_EQ(QKUnitConvert::percentToDB(-10), -96.3);
    EXPECT_DOUBLE_EQ(QKUnitConvert::percentToDB(std::nan("")), -96.3);
}

TEST(UnitConvertTest, ExtremeDecibelsStayInRange)
{
    EXPECT_EQ(QKUnitConvert::dBToPercentInt(1e6), INT_MAX);
    EXPECT_EQ(QKUnitConvert::dBToPercentInt(-1e6), 0);
    EXPECT_EQ(QKUnitConvert::dBToPercentInt(std::nan("")), 0);
    EXPECT_EQ(QKUnitConvert::dBToMultiply(std::nan("")), 0.0);
    EXPECT_GE(QKUnitConvert::dBToMultiply(-1e6), 0.0);
}

} // namespace
