// The batch runner without a window: slots, labels, pause and cancel, and real batches on
// parallel slots.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <fstream>

#include "common/MediaTestFiles.h"
#include "common/QtWait.h"
#include "common/TestBatchRunner.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "engine/KRABatchRunner.h"

namespace {

using Runner = TestBatchRunner;

std::shared_ptr<QKConversionSpec> Spec(const QStringList& sources, const QString& folder, const QString& args,
                                       int forcedSlots)
{
    auto spec = std::make_shared<QKConversionSpec>();
    spec->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (H264)"), QStringLiteral(".mkv"));
    spec->EncoderArgsV2.strArgs = args;
    if (forcedSlots > 0)
        spec->dspEffects = {QKDSPSpec(QStringLiteral("Multi-CPU Force"),
                                      QStringLiteral("-marvoni_thread_count=\"%1\"").arg(forcedSlots))};
    for (const QString& source : sources) {
        auto entry = std::make_shared<QKConversionEntry>();
        entry->convertFrom = QKConvertSource::withURL(QUrl::fromLocalFile(source));
        entry->urlTo = QUrl::fromLocalFile(folder + "/" + QFileInfo(source).completeBaseName() + ".mkv");
        entry->sourceSizeBytes = static_cast<uint64_t>(QFileInfo(source).size());
        spec->entries.append(entry);
    }
    return spec;
}

class BatchRunner : public ::testing::Test {
protected:
    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    TestEnvScope debug{"MARVONI_DEBUG", nullptr};
};

} // namespace

TEST_F(BatchRunner, SlotsAndTimeTexts)
{
    auto runner = std::make_shared<Runner>(Spec({"/a.mp4", "/b.mp4", "/c.mp4"}, dir.path().c_str(), "", 8));
    EXPECT_EQ(runner->cpus().size(), 3u);
    EXPECT_EQ(runner->optNumCPUs(), 3u);
    EXPECT_FALSE(runner->setNumCPUs(0));
    EXPECT_FALSE(runner->setNumCPUs(4));
    EXPECT_EQ(runner->optNumCPUs(), 3u);
    EXPECT_EQ(KRABatchRunner::formatTimeSeconds(61), "1 minute 1 second");
    EXPECT_EQ(KRABatchRunner::formatTimeSeconds(120), "2 minutes");
    EXPECT_EQ(KRABatchRunner::formatTimeSeconds(59), "59 seconds");
    EXPECT_EQ(KRABatchRunner::formatTimeSeconds(0), "0 seconds");
    EXPECT_EQ(KRABatchRunner::formatTimeMS(61999), "1 minute 1 second");
    EXPECT_EQ(KRABatchRunner::formatTimeSeconds(3601), "60 minutes 1 second");
    EXPECT_FALSE(runner->started());
    EXPECT_EQ(runner->titleText(), "Converting");
    runner->start(); // (the entries name files that do not exist: they fail at once)
    EXPECT_TRUE(WaitFor([&] { return runner->allDone(); }));
    runner->start(); // once only
    EXPECT_EQ(runner->allDoneCalls, 1);
    EXPECT_EQ(runner->logErrors().size(), 3);
    EXPECT_EQ(runner->titleText(), "[Finished] Converting");
}

TEST_F(BatchRunner, AnEmptySpecIsFinishedAtOnce)
{
    auto runner = std::make_shared<Runner>(std::make_shared<QKConversionSpec>());
    runner->start();
    EXPECT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_TRUE(runner->titleText().startsWith("[Finished] "));
    EXPECT_EQ(runner->allDoneCalls, 1);
    EXPECT_GT(runner->changes, 0);
}

TEST_F(BatchRunner, ARealBatchWithADamagedFile)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    const std::string a = dir.file("a.mp4"), c = dir.file("c.mp4"), bad = dir.file("b.mp4");
    ASSERT_TRUE(MakeTestVideo(a, "160x120", "25", "1"));
    ASSERT_TRUE(MakeTestVideo(c, "160x120", "25", "1"));
    std::ofstream(bad) << std::string(4096, 'x');
    const QString out = QString::fromStdString(dir.file("out"));
    QDir().mkpath(out);
    auto spec = Spec({QString::fromStdString(a), QString::fromStdString(bad), QString::fromStdString(c)}, out,
                     "-vcodec libx264 -preset veryfast -acodec aac", 2);
    auto runner = std::make_shared<Runner>(spec);
    EXPECT_EQ(runner->cpus().size(), 2u);
    runner->start();
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_TRUE(QFile::exists(out + "/a.mkv"));
    EXPECT_TRUE(QFile::exists(out + "/c.mkv"));
    EXPECT_FALSE(QFile::exists(out + "/b.mkv"));
    EXPECT_EQ(runner->mainLabelText(), "Converted 3 files to Matroska (H264), 1 failed");
    EXPECT_TRUE(runner->titleText().startsWith("[Finished] "));
    EXPECT_EQ(runner->allDoneCalls, 1);
    ASSERT_EQ(runner->logErrors().size(), 1);
    const KRAStatusLogEntryRef failed = runner->logErrors().first();
    EXPECT_EQ(failed->source2->strPerceivedFilename(), "b.mp4");
    // The file's messages say first, in plain words, what became of it.
    ASSERT_GE(failed->entries.size(), 2);
    EXPECT_TRUE(failed->entries[0].startsWith("Failed: ")) << failed->entries[0].toStdString();
    EXPECT_TRUE(spec->entries[1]->hadErrors);
    EXPECT_FALSE(spec->entries[0]->hadErrors);
    EXPECT_EQ(runner->getPercentDone(), 100);
    EXPECT_EQ(runner->entryAtIndex(2), spec->entries[2]);
    EXPECT_EQ(runner->entryAtIndex(3), nullptr);
    EXPECT_EQ(runner->numWorkingCores(), 0u);
    EXPECT_TRUE(runner->leftText().isEmpty()) << "nothing is left";
    EXPECT_TRUE(runner->elapsedText().startsWith("Finished in ")) << runner->elapsedText().toStdString();

    // Every file's info lines are kept, whatever the finished screen shows of them.
    EXPECT_EQ(runner->logInfos().size(), 3);
    for (const KRAStatusLogEntryRef& entry : runner->logInfos()) {
        EXPECT_FALSE(entry->entries.isEmpty());
        EXPECT_EQ(entry->encoderName, "Matroska (H264)");
    }
}

TEST_F(BatchRunner, PauseHoldsBackNewFilesAndCancelEndsEverything)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    QStringList sources;
    for (const char* name : {"p1.mp4", "p2.mp4", "p3.mp4"}) {
        ASSERT_TRUE(MakeTestVideo(dir.file(name), "160x120", "25", "1"));
        sources.append(QString::fromStdString(dir.file(name)));
    }
    const QString out = QString::fromStdString(dir.file("paused"));
    QDir().mkpath(out);
    auto runner = std::make_shared<Runner>(Spec(sources, out, "-vcodec libx264 -preset veryfast", 1));
    runner->togglePause(); // paused before any file could start
    runner->start();
    EXPECT_TRUE(runner->paused());
    EXPECT_TRUE(runner->events()->bPause());
    WaitFor([] { return false; }, 1000);
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 0); // nothing starts while paused
    EXPECT_FALSE(runner->allDone());
    runner->togglePause(); // resumed: the batch goes on to its end
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 3);

    auto cancelled = std::make_shared<Runner>(Spec(sources, out + "/none", "-vcodec libx264", 1));
    cancelled->togglePause();
    cancelled->start();
    cancelled->cancel(); // during the pause: ends at once
    EXPECT_TRUE(cancelled->cancelled());
    EXPECT_TRUE(cancelled->events()->bEvtQuit());
    EXPECT_FALSE(cancelled->events()->bPause()) << "paused children are woken to be stopped";
    QElapsedTimer timer;
    timer.start();
    cancelled.reset(); // waits for the slot's thread
    EXPECT_LT(timer.elapsed(), 5000);
    WaitFor([] { return false; }, 200); // completions posted by gone threads find no runner
}

TEST_F(BatchRunner, SameDestinationRunsOnceAndZeroSizesCountFiles)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    const std::string a = dir.file("same.mp4");
    ASSERT_TRUE(MakeTestVideo(a, "160x120", "25", "1"));
    const QString out = QString::fromStdString(dir.file("same"));
    QDir().mkpath(out);
    auto spec =
        Spec({QString::fromStdString(a), QString::fromStdString(a)}, out, "-vcodec libx264 -preset veryfast", 2);
    for (const QKConversionEntryRef& entry : spec->entries)
        entry->sourceSizeBytes = 0;
    auto runner = std::make_shared<Runner>(spec);
    EXPECT_EQ(runner->getRatioDone(), 0.0);
    runner->start();
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_EQ(runner->getPercentDone(), 100); // no sizes: the files themselves are counted
    ASSERT_EQ(runner->logErrors().size(), 1);
    EXPECT_TRUE(runner->logErrors().first()->entries.join("\n").contains("also the destination of 'same.mp4'"));
    EXPECT_TRUE(QFile::exists(out + "/same.mkv"));
}

// A file with a damaged frame converts with warnings: its output is kept, it is not counted as
// failed, and the log shows it (with its warnings) beside the file that failed.
TEST_F(BatchRunner, ABatchWithADamagedFrameAndABrokenFile)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    const std::string a = dir.file("a.mp4"), damaged = dir.file("d.mpg"), broken = dir.file("b.mp4");
    ASSERT_TRUE(MakeTestVideo(a, "160x120", "25", "1"));
    ASSERT_TRUE(MakeTestVideo(damaged, "320x240", "25", "4", {"-c:v", "mpeg1video", "-c:a", "mp2"}));
    ASSERT_TRUE(DamageMiddle(damaged, 3000));
    std::ofstream(broken) << std::string(4096, 'x');
    const QString out = QString::fromStdString(dir.file("out"));
    QDir().mkpath(out);
    auto spec = Spec({QString::fromStdString(a), QString::fromStdString(damaged), QString::fromStdString(broken)}, out,
                     "-vcodec libx264 -preset veryfast -acodec aac", 2);
    auto runner = std::make_shared<Runner>(spec);
    runner->start();
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_EQ(runner->mainLabelText(), "Converted 3 files to Matroska (H264), 1 with warnings, 1 failed");
    EXPECT_TRUE(QFile::exists(out + "/d.mkv"));
    EXPECT_NEAR(ProbedDuration(dir.file("out/d.mkv")), 4.0, 0.2);
    EXPECT_FALSE(spec->entries[1]->hadErrors);
    EXPECT_TRUE(spec->entries[2]->hadErrors);
    ASSERT_EQ(runner->logErrors().size(), 2);
    ASSERT_TRUE(runner->logErrors().contains(1) && runner->logErrors().contains(2));
    const KRAStatusLogEntryRef warned = runner->logErrors().value(1);
    EXPECT_EQ(warned->source2->strPerceivedFilename(), "d.mpg");
    EXPECT_TRUE(warned->convertedWithWarnings());
    ASSERT_GE(warned->entries.size(), 2);
    EXPECT_TRUE(warned->entries[0].startsWith("Converted with warnings: ")) << warned->entries[0].toStdString();
    EXPECT_TRUE(warned->entries[1].startsWith("[mpeg1video @ ")) << warned->entries[1].toStdString();
    EXPECT_TRUE(runner->logErrors().value(2)->entries[0].startsWith("Failed: "));
}

// The tool runs the batch without a display and without a platform plugin to fall back on.
TEST_F(BatchRunner, EngineToolBatchNamesEveryFileAndFailsOnADamagedOne)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    TestEnvScope platform{"QT_QPA_PLATFORM", nullptr};
    TestEnvScope display{"DISPLAY", nullptr};
    TestEnvScope wayland{"WAYLAND_DISPLAY", nullptr};
    std::vector<std::string> args = {"batch", "--src"};
    for (const char* name : {"t1.mp4", "t2.mp4", "t3.mp4"}) {
        ASSERT_TRUE(MakeTestVideo(dir.file(name), "160x120", "25", "1"));
        args.push_back(dir.file(name));
    }
    args.insert(args.end(),
                {"--dst-folder", dir.file("tool"), "--ext", ".mkv", "--args", "-vcodec libx264", "--slots", "3"});
    ToolRunResult r = RunTestTool(TestToolPath("engine-tool"), args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("done: 2 " + dir.file("t3.mp4") + " -> " + dir.file("tool/t3.mkv") + " ok\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("label: Converted 3 files to "), std::string::npos);
    EXPECT_NE(r.out.find("title: [Finished] "), std::string::npos);

    std::ofstream(dir.file("t0.mp4")) << std::string(3000, 'z');
    args.insert(args.begin() + 2, dir.file("t0.mp4"));
    r = RunTestTool(TestToolPath("engine-tool"), args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("done: 0 " + dir.file("t0.mp4") + " -> " + dir.file("tool/t0.mkv") + " failed\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(dir.file("tool/t1.mkv") + " ok\n"), std::string::npos);
}

TEST_F(BatchRunner, RaisingTheCountStartsMoreFilesAtOnce)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    QStringList sources;
    for (const char* name : {"r1.mp4", "r2.mp4", "r3.mp4", "r4.mp4"}) {
        ASSERT_TRUE(MakeTestVideo(dir.file(name), "160x120", "25", "1"));
        sources.append(QString::fromStdString(dir.file(name)));
    }
    const QString out = QString::fromStdString(dir.file("raised"));
    QDir().mkpath(out);
    auto runner = std::make_shared<Runner>(Spec(sources, out, "-vcodec libx264 -preset veryfast", 3));
    EXPECT_TRUE(runner->setNumCPUs(1));
    runner->start();
    EXPECT_EQ(runner->numWorkingCores(), 1u);
    EXPECT_TRUE(runner->setNumCPUs(3)); // completions arrive on later turns: the count is exact here
    EXPECT_EQ(runner->numWorkingCores(), 3u);
    EXPECT_EQ(runner->optNumCPUs(), 3u);
    EXPECT_EQ(runner->mainLabelText(), "Converting 3 files at once, 0 out of 4 done to Matroska (H264)");
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 4);
}

// Run under the sanitizers by ./test.sh --sanitize: reports and completions of cancelled runs
// must never reach a runner that is gone.
TEST_F(BatchRunner, CancellingAFourSlotBatchAgainAndAgainLeavesNothingBehind)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    QStringList sources;
    for (int i = 0; i < 6; ++i) {
        const std::string name = dir.file("k" + std::to_string(i) + ".mp4");
        ASSERT_TRUE(MakeTestVideo(name, "160x120", "25", "1"));
        sources.append(QString::fromStdString(name));
    }
    for (int round = 0; round < 5; ++round) {
        const QString out = QString::fromStdString(dir.file("cancel" + std::to_string(round)));
        auto runner = std::make_shared<Runner>(Spec(sources, out, "-vcodec libx264", 4));
        runner->start();
        WaitFor([] { return false; }, 50 * round); // cancelled at different moments of the runs
        runner->cancel();
        EXPECT_TRUE(runner->cancelled());
        runner.reset();
        WaitFor([] { return false; }, 50);
    }
}
