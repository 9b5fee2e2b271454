// The rate behind the batch's time left and speed, and the labels that count files.
#include <gtest/gtest.h>

#include "common/QtWait.h"
#include "common/TestBatchRunner.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "engine/KRABatchRunner.h"
#include "engine/KRAProgressRate.h"

TEST(KRAProgressRate, SaysNothingUntilThereIsEnoughWorkingTime)
{
    KRAProgressRate rate(20000, 5000);
    EXPECT_FALSE(rate.ratePerMS());
    rate.sample(0, 0.0);
    rate.sample(4999, 0.5); // a fast start says nothing yet
    EXPECT_FALSE(rate.ratePerMS());
    rate.sample(5000, 0.5);
    ASSERT_TRUE(rate.ratePerMS());
    EXPECT_DOUBLE_EQ(*rate.ratePerMS(), 0.5 / 5000);
}

TEST(KRAProgressRate, FollowsTheLastStretchNotTheStart)
{
    KRAProgressRate rate(10000, 2000);
    // A burst at the start (ffmpeg reading ahead), then a steady 1 unit a second.
    rate.sample(0, 0);
    rate.sample(1000, 30);
    for (uint64_t s = 2; s <= 40; ++s)
        rate.sample(s * 1000, 30 + static_cast<double>(s - 1));
    ASSERT_TRUE(rate.ratePerMS());
    EXPECT_NEAR(*rate.ratePerMS() * 1000, 1.0, 1e-9);
    // A moment that does not move forward replaces the last value; a count that falls back
    // (a failed file taken out) never makes the rate negative.
    rate.sample(40000, 20);
    ASSERT_TRUE(rate.ratePerMS());
    EXPECT_GE(*rate.ratePerMS(), 0.0);
    rate.clear();
    EXPECT_FALSE(rate.ratePerMS());
}

namespace {

class ProgressLabels : public ::testing::Test {
protected:
    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
};

std::shared_ptr<QKConversionSpec> SpecOf(int files)
{
    auto spec = std::make_shared<QKConversionSpec>();
    spec->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (H264)"), QStringLiteral(".mkv"));
    for (int i = 0; i < files; ++i) {
        auto entry = std::make_shared<QKConversionEntry>();
        // Missing sources: each fails at once and counts as done.
        entry->convertFrom =
            QKConvertSource::withURL(QUrl::fromLocalFile(QStringLiteral("/nonexistent/%1.mp4").arg(i)));
        entry->urlTo = QUrl::fromLocalFile(QStringLiteral("/nonexistent/out%1.mkv").arg(i));
        spec->entries.append(entry);
    }
    return spec;
}

} // namespace

TEST_F(ProgressLabels, OneFileIsOneFileAndAFinishedBatchGivesNoTimeLeft)
{
    auto one = std::make_shared<TestBatchRunner>(SpecOf(1));
    one->start();
    ASSERT_TRUE(WaitFor([&] { return one->allDone(); }));
    EXPECT_EQ(one->mainLabelText(), "Converted 1 file to Matroska (H264), 1 failed");
    EXPECT_EQ(one->leftText(), "");
    auto two = std::make_shared<TestBatchRunner>(SpecOf(2));
    two->start();
    ASSERT_TRUE(WaitFor([&] { return two->allDone(); }));
    EXPECT_EQ(two->mainLabelText(), "Converted 2 files to Matroska (H264), 2 failed");
    // Nothing was converted: no speed to speak of.
    EXPECT_EQ(two->speedText(), "");
}
