// The progress dialog: slots, menus, labels, and real batches on parallel slots.

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
#include "common/TestConversionHost.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestProgressDialog.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "engine/KRAConversionHost.h"
#include "engine/KRAProgressDialog.h"

namespace {

using Host = TestConversionHost;

using Dialog = TestProgressDialog;

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

class ProgressDialog : public ::testing::Test {
protected:
    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    TestEnvScope debug{"MARVONI_DEBUG", nullptr};
    std::shared_ptr<Host> host = std::make_shared<Host>();
};

} // namespace

TEST_F(ProgressDialog, SlotsMenusHeightsAndTimeTexts)
{
    auto dialog = std::make_shared<Dialog>(Spec({"/a.mp4", "/b.mp4", "/c.mp4"}, dir.path().c_str(), "", 8), host);
    EXPECT_EQ(dialog->cpus().size(), 3u);
    EXPECT_EQ(dialog->optNumCPUs(), 3u);
    dialog->view(); // builds the view; the menu follows the slots
    // (the entries name files that do not exist: they fail at once)
    QStringList titles;
    for (QAction* item : dialog->menuEncoding()->actions())
        titles.append(item->text());
    EXPECT_EQ(titles, QStringList({"Using 1 Encoder", "Using 2 Encoders", "Using 3 Encoders"}));
    EXPECT_EQ(KRAProgressDialog::heightForNumCPUs(1), 248);
    EXPECT_EQ(KRAProgressDialog::heightForNumCPUs(12), 605);
    EXPECT_EQ(KRAProgressDialog::formatTimeSeconds(61), "1 minute 1 second");
    EXPECT_EQ(KRAProgressDialog::formatTimeSeconds(120), "2 minutes");
    EXPECT_EQ(KRAProgressDialog::formatTimeSeconds(59), "59 seconds");
    EXPECT_EQ(KRAProgressDialog::formatTimeSeconds(0), "0 seconds");
    EXPECT_EQ(KRAProgressDialog::formatTimeMS(61999), "1 minute 1 second");
    EXPECT_TRUE(WaitFor([&] { return dialog->allDone(); }));
}

TEST_F(ProgressDialog, AnEmptySpecIsFinishedAtOnce)
{
    auto dialog = std::make_shared<Dialog>(std::make_shared<QKConversionSpec>(), host);
    dialog->view();
    EXPECT_TRUE(WaitFor([&] { return dialog->allDone(); }, 2000));
    EXPECT_TRUE(dialog->title().startsWith("[Finished] "));
}

TEST_F(ProgressDialog, ARealBatchWithADamagedFile)
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
    auto dialog = std::make_shared<Dialog>(spec, host);
    EXPECT_EQ(dialog->cpus().size(), 2u);
    dialog->view();
    ASSERT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    EXPECT_TRUE(QFile::exists(out + "/a.mkv"));
    EXPECT_TRUE(QFile::exists(out + "/c.mkv"));
    EXPECT_FALSE(QFile::exists(out + "/b.mkv"));
    EXPECT_EQ(dialog->mainLabelText(), "Converted 3 files to Matroska (H264), 1 failed");
    EXPECT_TRUE(dialog->title().startsWith("[Finished] "));
    ASSERT_TRUE(dialog->log.has_value());
    ASSERT_EQ(dialog->log->errors.size(), 1);
    EXPECT_EQ(dialog->log->errors[0]->source2->strPerceivedFilename(), "b.mp4");
    // The file's messages say first, in plain words, what became of it.
    ASSERT_GE(dialog->log->errors[0]->entries.size(), 2);
    EXPECT_TRUE(dialog->log->errors[0]->entries[0].startsWith("Failed: "))
        << dialog->log->errors[0]->entries[0].toStdString();
    EXPECT_TRUE(spec->entries[1]->hadErrors);
    EXPECT_FALSE(spec->entries[0]->hadErrors);
    EXPECT_EQ(dialog->getPercentDone(), 100);
    EXPECT_EQ(dialog->entryAtIndex(2), spec->entries[2]);
    EXPECT_EQ(dialog->entryAtIndex(3), nullptr);

    // The info lines the options kept from the finished screen can still be read, all of them.
    EXPECT_TRUE(dialog->log->infos.isEmpty());
    ASSERT_TRUE(dialog->canShowConversionLog());
    QAction* showLog = nullptr;
    for (QAction* item : dialog->menuOptions()->actions())
        if (item->text() == "Show Conversion Log")
            showLog = item;
    ASSERT_NE(showLog, nullptr);
    emit dialog->menuOptions()->aboutToShow();
    ASSERT_TRUE(showLog->isEnabled());
    dialog->log.reset();
    showLog->trigger();
    ASSERT_TRUE(dialog->log.has_value());
    EXPECT_EQ(dialog->log->errors.size(), 1);
    EXPECT_EQ(dialog->log->infos.size(), 3);
}

TEST_F(ProgressDialog, PauseHoldsBackNewFilesAndCancelEndsEverything)
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
    auto dialog = std::make_shared<Dialog>(Spec(sources, out, "-vcodec libx264 -preset veryfast", 1), host);
    dialog->onPause(); // paused before any file could start
    dialog->view();
    EXPECT_TRUE(dialog->paused());
    EXPECT_TRUE(dialog->events()->bPause());
    WaitFor([] { return false; }, 1000);
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 0); // nothing starts while paused
    EXPECT_FALSE(dialog->allDone());
    dialog->onPause(); // resumed: the batch goes on to its end
    ASSERT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 3);

    auto cancelled = std::make_shared<Dialog>(Spec(sources, out + "/none", "-vcodec libx264", 1), host);
    cancelled->onPause();
    cancelled->view();
    cancelled->onCancel(); // during the pause: ends at once
    EXPECT_EQ(host->allDone, 1);
    QElapsedTimer timer;
    timer.start();
    cancelled.reset(); // waits for the slot's thread
    EXPECT_LT(timer.elapsed(), 5000);
    WaitFor([] { return false; }, 200); // completions posted by gone threads find no dialog
}

TEST_F(ProgressDialog, SameDestinationRunsOnceAndZeroSizesCountFiles)
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
    auto dialog = std::make_shared<Dialog>(spec, host);
    EXPECT_EQ(dialog->getRatioDone(), 0.0);
    dialog->view();
    ASSERT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    EXPECT_EQ(dialog->getPercentDone(), 100); // no sizes: the files themselves are counted
    ASSERT_TRUE(dialog->log.has_value());
    ASSERT_EQ(dialog->log->errors.size(), 1);
    EXPECT_TRUE(dialog->log->errors[0]->entries.join("\n").contains("also the destination of 'same.mp4'"));
    EXPECT_TRUE(QFile::exists(out + "/same.mkv"));
}

// A file with a damaged frame converts with warnings: its output is kept, it is not counted as
// failed, and the log shows it (with its warnings) beside the file that failed.
TEST_F(ProgressDialog, ABatchWithADamagedFrameAndABrokenFile)
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
    auto dialog = std::make_shared<Dialog>(spec, host);
    dialog->view();
    ASSERT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    EXPECT_EQ(dialog->mainLabelText(), "Converted 3 files to Matroska (H264), 1 with warnings, 1 failed");
    EXPECT_TRUE(QFile::exists(out + "/d.mkv"));
    EXPECT_NEAR(ProbedDuration(dir.file("out/d.mkv")), 4.0, 0.2);
    EXPECT_FALSE(spec->entries[1]->hadErrors);
    EXPECT_TRUE(spec->entries[2]->hadErrors);
    ASSERT_TRUE(dialog->log.has_value());
    ASSERT_EQ(dialog->log->errors.size(), 2);
    const KRAStatusLogEntryRef& warned = dialog->log->errors[0];
    EXPECT_EQ(warned->source2->strPerceivedFilename(), "d.mpg");
    EXPECT_TRUE(warned->convertedWithWarnings());
    ASSERT_GE(warned->entries.size(), 2);
    EXPECT_TRUE(warned->entries[0].startsWith("Converted with warnings: ")) << warned->entries[0].toStdString();
    EXPECT_TRUE(warned->entries[1].startsWith("[mpeg1video @ ")) << warned->entries[1].toStdString();
    EXPECT_TRUE(dialog->log->errors[1]->entries[0].startsWith("Failed: "));
}

TEST_F(ProgressDialog, EngineToolBatchNamesEveryFileAndFailsOnADamagedOne)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
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

TEST_F(ProgressDialog, RaisingTheCountStartsMoreFilesAtOnce)
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
    auto dialog = std::make_shared<Dialog>(Spec(sources, out, "-vcodec libx264 -preset veryfast", 3), host);
    dialog->onCoreCount(1);
    dialog->view();
    EXPECT_EQ(dialog->numWorkingCores(), 1u);
    dialog->view()->resize(400, 100);
    dialog->onCoreCount(3); // completions arrive on later turns: the count is exact here
    EXPECT_EQ(dialog->numWorkingCores(), 3u);
    EXPECT_EQ(dialog->optNumCPUs(), 3u);
    // The window grows to show the three slots.
    EXPECT_TRUE(WaitFor([&] { return dialog->view()->height() == KRAProgressDialog::heightForNumCPUs(3); }, 3000));
    ASSERT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 4);
}

// Run under the sanitizers by ./test.sh --sanitize: reports and completions of cancelled runs
// must never reach a dialog that is gone.
TEST_F(ProgressDialog, CancellingAFourSlotBatchAgainAndAgainLeavesNothingBehind)
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
        auto dialog = std::make_shared<Dialog>(Spec(sources, out, "-vcodec libx264", 4), host);
        dialog->view();
        WaitFor([] { return false; }, 50 * round); // cancelled at different moments of the runs
        dialog->onCancel();
        dialog.reset();
        WaitFor([] { return false; }, 50);
    }
    EXPECT_EQ(host->allDone, 5);
}
