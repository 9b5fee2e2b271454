// How a batch ends: the request after it, and the tool that runs one without a window.

#include <gtest/gtest.h>

#include "common/QtWait.h"
#include "common/TestBatchRunner.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "engine/KRABatchRunner.h"

namespace {

using Runner = TestBatchRunner;

// One entry whose source does not exist: it fails at once.
std::shared_ptr<QKConversionSpec> Missing(const QString& name)
{
    auto spec = std::make_shared<QKConversionSpec>();
    spec->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (H264)"), QStringLiteral(".mkv"));
    auto entry = std::make_shared<QKConversionEntry>();
    entry->convertFrom = QKConvertSource::withURL(QUrl::fromLocalFile("/nonexistent/" + name + ".mp4"));
    entry->urlTo = QUrl::fromLocalFile("/nonexistent/out/" + name + ".mkv");
    spec->entries.append(entry);
    return spec;
}

class BatchEnd : public ::testing::Test {
protected:
    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
};

} // namespace

// What to do after the batch is asked once it is over; a refusal is a line of the log, of no
// file; a request that ends the session leaves nothing to show.
TEST_F(BatchEnd, TheRequestAfterTheBatch)
{
    auto shutDown = std::make_shared<Runner>(std::make_shared<QKConversionSpec>());
    shutDown->setOptAfterConversion(KRABatchRunner::AfterShutDown);
    shutDown->start();
    ASSERT_TRUE(WaitFor([&] { return shutDown->allDone(); }));
    EXPECT_EQ(shutDown->powerRequests, QList<int>({KRABatchRunner::AfterShutDown}));
    EXPECT_TRUE(shutDown->afterConversionEndsSession());
    EXPECT_TRUE(shutDown->logErrors().isEmpty());

    auto sleep = std::make_shared<Runner>(std::make_shared<QKConversionSpec>());
    sleep->setOptAfterConversion(KRABatchRunner::AfterSleep);
    sleep->start();
    ASSERT_TRUE(WaitFor([&] { return sleep->allDone(); }));
    EXPECT_EQ(sleep->powerRequests.size(), 1);
    EXPECT_FALSE(sleep->afterConversionEndsSession()) << "the user comes back to the outcome";

    auto refused = std::make_shared<Runner>(Missing("r"));
    refused->setOptAfterConversion(KRABatchRunner::AfterRestart);
    refused->powerAnswer = {false, "not allowed"};
    refused->start();
    ASSERT_TRUE(WaitFor([&] { return refused->allDone(); }));
    EXPECT_FALSE(refused->afterConversionEndsSession());
    ASSERT_TRUE(refused->logErrors().contains(1));
    EXPECT_EQ(refused->logErrors()[1]->entries,
              QStringList({"The computer could not be told what to do after the conversion: not allowed"}));
    EXPECT_EQ(refused->logErrors()[1]->source2, nullptr);

    auto nothing = std::make_shared<Runner>(std::make_shared<QKConversionSpec>());
    nothing->start();
    ASSERT_TRUE(WaitFor([&] { return nothing->allDone(); }));
    EXPECT_TRUE(nothing->powerRequests.isEmpty());

    auto cancelled = std::make_shared<Runner>(Missing("c"));
    cancelled->setOptAfterConversion(KRABatchRunner::AfterShutDown);
    cancelled->togglePause();
    cancelled->start();
    cancelled->cancel();
    WaitFor([] { return false; }, 300);
    EXPECT_FALSE(cancelled->allDone()) << "a cancelled batch never ends: no shut-down after it";
    EXPECT_TRUE(cancelled->powerRequests.isEmpty());
    EXPECT_EQ(cancelled->allDoneCalls, 0);
}

// The tool's batch is the runner alone: the widget library is not even loaded.
TEST(BatchTool, NeedsNoWidgetLibrary)
{
    ToolRunOptions options;
    options.searchPath = true;
    ToolRunResult r = RunProcess({"readelf", "-d", TestToolPath("engine-tool")}, options);
    if (r.status != 0)
        GTEST_SKIP() << "readelf is needed";
    EXPECT_NE(r.out.find("libQt6Core.so"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("libQt6Widgets.so"), std::string::npos) << r.out;
}
