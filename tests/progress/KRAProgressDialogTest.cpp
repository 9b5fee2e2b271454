// The progress dialog as a view of its runner: menus, buttons, heights, the finished screen and
// the logs it hands on. Files "run" on slots whose threads are held back, and the test reports
// for them as a run would, so every step is the test's.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "common/MediaTestFiles.h"
#include "common/QtWait.h"
#include "common/TestConversionHost.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestProgressDialog.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "progress/KRAProgressDialog.h"
#include "xclass/XRegistry.h"

namespace {

using Host = TestConversionHost;

// Starts no thread: a file stays on its slot until the test completes it.
class HeldDialog : public TestProgressDialog {
public:
    using TestProgressDialog::TestProgressDialog;
    QList<int> powerRequests;
    KRAPowerAction::Result powerAnswer{true, QString()};

protected:
    void startThread(uint64_t, std::function<void()>) override {}
    KRAPowerAction::Result requestPowerAction(int action) override
    {
        powerRequests.append(action);
        return powerAnswer;
    }
};

std::shared_ptr<QKConversionSpec> Spec(int files, int forcedSlots)
{
    auto spec = std::make_shared<QKConversionSpec>();
    spec->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (H264)"), QStringLiteral(".mkv"));
    if (forcedSlots > 0)
        spec->dspEffects = {QKDSPSpec(QStringLiteral("Multi-CPU Force"),
                                      QStringLiteral("-marvoni_thread_count=\"%1\"").arg(forcedSlots))};
    for (int i = 0; i < files; ++i) {
        auto entry = std::make_shared<QKConversionEntry>();
        entry->convertFrom =
            QKConvertSource::withURL(QUrl::fromLocalFile(QStringLiteral("/nonexistent/%1.mp4").arg(i)));
        entry->urlTo = QUrl::fromLocalFile(QStringLiteral("/nonexistent/out/%1.mkv").arg(i));
        entry->sourceSizeBytes = 1000;
        spec->entries.append(entry);
    }
    return spec;
}

// Ends every running file of the dialog, in slot order.
void CompleteRunning(HeldDialog& dialog)
{
    for (const KRACPU& cpu : std::vector<KRACPU>(dialog.cpus()))
        if (cpu.isBusy())
            dialog.runner().conversionCompleteOn(cpu.indexOfThisCPU, cpu.currentTaskIndex);
}

class ProgressDialog : public ::testing::Test {
protected:
    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    TestEnvScope debug{"MARVONI_DEBUG", nullptr};
    std::shared_ptr<Host> host = std::make_shared<Host>();
};

QAction* ShowLogAction(const KRAProgressDialog& dialog)
{
    for (QAction* item : dialog.menuOptions()->actions())
        if (item->text() == "Show Conversion Log")
            return item;
    return nullptr;
}

} // namespace

TEST_F(ProgressDialog, SlotsMenusHeightsAndTimeTexts)
{
    auto dialog = std::make_shared<TestProgressDialog>(Spec(3, 8), host);
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
    EXPECT_EQ(KRAProgressDialog::formatTimeMS(61999), "1 minute 1 second");
    EXPECT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    // The finished screen: the errors of the three files go to the log.
    EXPECT_EQ(dialog->title(), "[Finished] Converting");
    EXPECT_EQ(dialog->buttonCancel()->text(), "Finish");
    EXPECT_FALSE(dialog->buttonPause()->isEnabled());
    EXPECT_EQ(dialog->progressBar()->value(), 100);
    EXPECT_FALSE(dialog->panelIsWorking());
    ASSERT_TRUE(dialog->log.has_value());
    EXPECT_EQ(dialog->log->errors.size(), 3);
    EXPECT_EQ(dialog->log->host.lock(), host);
}

TEST_F(ProgressDialog, AnEmptySpecIsFinishedAtOnce)
{
    auto dialog = std::make_shared<TestProgressDialog>(std::make_shared<QKConversionSpec>(), host);
    dialog->view();
    EXPECT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    EXPECT_TRUE(dialog->title().startsWith("[Finished] "));
    EXPECT_FALSE(dialog->log.has_value()) << "nothing to show";
    EXPECT_EQ(host->allDone, 0) << "the finished screen stays";

    // Skip Finished Screen: with nothing to show, the window goes back at once.
    XRegistry::SetDWORD(1, L"kRASkipedFinish");
    auto skipping = std::make_shared<TestProgressDialog>(std::make_shared<QKConversionSpec>(), host);
    skipping->view();
    EXPECT_TRUE(WaitFor([&] { return host->allDone == 1; }));
    EXPECT_TRUE(skipping->skipFinished());
}

// The finished screen shows the errors, and the info lines only when asked; Show Conversion Log
// brings back every line the options kept from it.
TEST_F(ProgressDialog, TheFinishedScreenAndTheConversionLog)
{
    auto dialog = std::make_shared<HeldDialog>(Spec(3, 3), host);
    dialog->view();
    ASSERT_EQ(dialog->numWorkingCores(), 3u);
    KRABatchRunner& runner = dialog->runner();
    for (uint64_t i = 0; i < 3; ++i)
        runner.onStatusInfoLine(QStringLiteral("Stream #0:0: Video: h264 (%1)").arg(i), i);
    runner.onStatusErrorLine("Invalid data found when processing input", 1);
    emit dialog->menuOptions()->aboutToShow();
    EXPECT_FALSE(ShowLogAction(*dialog)->isEnabled()) << "not before the batch is done";
    CompleteRunning(*dialog);
    ASSERT_TRUE(WaitFor([&] { return dialog->allDone(); }));
    EXPECT_EQ(dialog->mainLabelText(), "Converted 3 files to Matroska (H264), 1 failed");
    EXPECT_EQ(dialog->getPercentDone(), 100);
    ASSERT_TRUE(dialog->log.has_value());
    ASSERT_EQ(dialog->log->errors.size(), 1);
    EXPECT_EQ(dialog->log->errors[0]->source2->strPerceivedFilename(), "1.mp4");
    EXPECT_EQ(dialog->entryAtIndex(2), runner.spec()->entries[2]);
    EXPECT_EQ(dialog->entryAtIndex(3), nullptr);

    // The info lines the options kept from the finished screen can still be read, all of them.
    EXPECT_TRUE(dialog->log->infos.isEmpty());
    ASSERT_TRUE(dialog->canShowConversionLog());
    QAction* showLog = ShowLogAction(*dialog);
    ASSERT_NE(showLog, nullptr);
    emit dialog->menuOptions()->aboutToShow();
    ASSERT_TRUE(showLog->isEnabled());
    dialog->log.reset();
    showLog->trigger();
    ASSERT_TRUE(dialog->log.has_value());
    EXPECT_EQ(dialog->log->errors.size(), 1);
    EXPECT_EQ(dialog->log->infos.size(), 3);

    // Show Info Log is kept for the next batch, whose finished screen then shows them.
    dialog->setOptShowInfoLog(true);
    auto next = std::make_shared<HeldDialog>(Spec(1, 1), host);
    EXPECT_TRUE(next->optShowInfoLog());
    next->view();
    next->runner().onStatusInfoLine("Duration: 00:00:01.00", 0);
    CompleteRunning(*next);
    ASSERT_TRUE(WaitFor([&] { return next->allDone(); }));
    ASSERT_TRUE(next->log.has_value());
    EXPECT_TRUE(next->log->errors.isEmpty());
    EXPECT_EQ(next->log->infos.size(), 1);
}

// A shut-down, log-out or restart that was taken leaves nobody to read a log; a sleep does,
// and so does a refusal, which is itself in the log.
TEST_F(ProgressDialog, TheRequestAfterTheBatchDecidesTheFinishedScreen)
{
    auto shutDown = std::make_shared<HeldDialog>(Spec(1, 1), host);
    shutDown->setOptAfterConversion(KRAProgressDialog::AfterShutDown);
    shutDown->view();
    shutDown->runner().onStatusErrorLine("failed", 0);
    CompleteRunning(*shutDown);
    ASSERT_TRUE(WaitFor([&] { return shutDown->allDone(); }));
    EXPECT_EQ(shutDown->powerRequests, QList<int>({KRAProgressDialog::AfterShutDown}));
    EXPECT_FALSE(shutDown->log.has_value());

    auto sleep = std::make_shared<HeldDialog>(Spec(1, 1), host);
    sleep->setOptAfterConversion(KRAProgressDialog::AfterSleep);
    sleep->view();
    sleep->runner().onStatusErrorLine("failed", 0);
    CompleteRunning(*sleep);
    ASSERT_TRUE(WaitFor([&] { return sleep->allDone(); }));
    ASSERT_TRUE(sleep->log.has_value());
    EXPECT_EQ(sleep->log->errors.size(), 1);

    auto refused = std::make_shared<HeldDialog>(Spec(1, 1), host);
    refused->setOptAfterConversion(KRAProgressDialog::AfterLogOut);
    refused->powerAnswer = {false, "no session manager"};
    refused->view();
    CompleteRunning(*refused);
    ASSERT_TRUE(WaitFor([&] { return refused->allDone(); }));
    ASSERT_TRUE(refused->log.has_value());
    ASSERT_EQ(refused->log->errors.size(), 1);
    EXPECT_TRUE(refused->log->errors[0]->entries.join("\n").contains("no session manager"));
    EXPECT_TRUE(refused->canShowConversionLog());
}

TEST_F(ProgressDialog, PauseAndCancelButtons)
{
    auto dialog = std::make_shared<HeldDialog>(Spec(2, 1), host);
    dialog->view();
    EXPECT_EQ(dialog->panelInitialFocus(), dialog->buttonPause());
    EXPECT_TRUE(dialog->panelIsWorking());
    dialog->buttonPause()->click();
    EXPECT_TRUE(dialog->paused());
    EXPECT_TRUE(dialog->events()->bPause());
    EXPECT_EQ(dialog->buttonPause()->text(), "&Resume");
    dialog->buttonPause()->click();
    EXPECT_FALSE(dialog->paused());
    EXPECT_EQ(dialog->buttonPause()->text(), "&Pause");

    dialog->onPause();
    dialog->onCancel(); // during the pause: ends at once
    EXPECT_EQ(host->allDone, 1);
    EXPECT_TRUE(dialog->events()->bEvtQuit());
    EXPECT_FALSE(dialog->events()->bPause()) << "paused children are woken to be stopped";
    dialog->cancelOperation(nullptr); // Escape, the same
    EXPECT_EQ(host->allDone, 2);
    CompleteRunning(*dialog);
    WaitFor([] { return false; }, 200);
    EXPECT_FALSE(dialog->allDone()) << "a completion after Cancel ends nothing";

    // Closing the window stops the batch as Cancel does, without leaving it.
    auto closed = std::make_shared<HeldDialog>(Spec(1, 1), host);
    closed->view();
    closed->panelWillClose();
    EXPECT_TRUE(closed->events()->bEvtQuit());
    EXPECT_EQ(host->allDone, 2);
}

TEST_F(ProgressDialog, RaisingTheCountStartsMoreFilesAndGrowsTheWindow)
{
    auto dialog = std::make_shared<HeldDialog>(Spec(4, 3), host);
    dialog->onCoreCount(1);
    dialog->view();
    EXPECT_EQ(dialog->numWorkingCores(), 1u);
    dialog->view()->resize(400, 100);
    dialog->onCoreCount(3);
    EXPECT_EQ(dialog->numWorkingCores(), 3u);
    EXPECT_EQ(dialog->optNumCPUs(), 3u);
    QStringList checked;
    for (QAction* item : dialog->menuEncoding()->actions())
        if (item->isChecked())
            checked.append(item->text());
    EXPECT_EQ(checked, QStringList({"Using 3 Encoders"}));
    // The window grows to show the three slots.
    EXPECT_TRUE(WaitFor([&] { return dialog->view()->height() == KRAProgressDialog::heightForNumCPUs(3); }));
    dialog->onCoreCount(7); // more than there are slots: nothing changes
    EXPECT_EQ(dialog->optNumCPUs(), 3u);
    CompleteRunning(*dialog);
    EXPECT_EQ(dialog->numWorkingCores(), 1u) << "the fourth file takes a slot";
    CompleteRunning(*dialog);
    ASSERT_TRUE(WaitFor([&] { return dialog->allDone(); }));
}

// Run under the sanitizers by ./test.sh --sanitize: a dialog closed in the middle of real runs
// takes its runner with it, and each Cancel tells the window once.
TEST_F(ProgressDialog, CancellingAFourSlotBatchAgainAndAgainLeavesNothingBehind)
{
    if (ProgramOnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is needed";
    auto spec = [&](const std::string& out) {
        auto result = Spec(0, 4);
        for (int i = 0; i < 6; ++i) {
            const std::string name = dir.file("k" + std::to_string(i) + ".mp4");
            if (!PathExists(name)) {
                EXPECT_TRUE(MakeTestVideo(name, "160x120", "25", "1"));
            }
            auto entry = std::make_shared<QKConversionEntry>();
            entry->convertFrom = QKConvertSource::withURL(QUrl::fromLocalFile(QString::fromStdString(name)));
            entry->urlTo = QUrl::fromLocalFile(QString::fromStdString(out + "/k" + std::to_string(i) + ".mkv"));
            entry->sourceSizeBytes = 1;
            result->entries.append(entry);
        }
        result->EncoderArgsV2.strArgs = QStringLiteral("-vcodec libx264");
        return result;
    };
    for (int round = 0; round < 5; ++round) {
        auto dialog = std::make_shared<TestProgressDialog>(spec(dir.file("cancel" + std::to_string(round))), host);
        dialog->view();
        WaitFor([] { return false; }, 50 * round); // cancelled at different moments of the runs
        dialog->onCancel();
        dialog.reset();
        WaitFor([] { return false; }, 50);
    }
    EXPECT_EQ(host->allDone, 5);
}
