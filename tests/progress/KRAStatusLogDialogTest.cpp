// The status log: its tabs, row texts, copying, re-converting the failed files, leaving.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include "common/TestConversionHost.h"
#include "progress/KRAConversionHost.h"
#include "progress/KRAStatusLogDialog.h"

namespace {

using Host = TestConversionHost;

KRAStatusLogEntryRef Entry(const QString& file, const QString& to, const QStringList& lines)
{
    auto entry = std::make_shared<KRAStatusLogEntry>();
    entry->source2 = QKConvertSource::withURL(QUrl::fromLocalFile("/home/anna/Videos/" + file));
    entry->fnTo = to;
    entry->encoderName = "MP4 (H264)";
    entry->entries = lines;
    return entry;
}

struct Log {
    std::shared_ptr<Host> host = std::make_shared<Host>();
    std::shared_ptr<KRAStatusLogDialog> dialog;

    Log(QList<KRAStatusLogEntryRef> errors, QList<KRAStatusLogEntryRef> infos)
    {
        KRAStatusLogContext context;
        context.host = host;
        context.errors = std::move(errors);
        context.infos = std::move(infos);
        dialog = KRAStatusLogDialog::create(context);
        host->setCurrentPanel(dialog);
        dialog->panelView();
    }
};

} // namespace

TEST(KRAStatusLogDialog, TabsFollowTheKindsOfMessages)
{
    Log errorsOnly({Entry("a.mp4", "a.mp4", {"Invalid data found when processing input"})}, {});
    EXPECT_EQ(errorsOnly.dialog->tabs()->count(), 1);
    EXPECT_EQ(errorsOnly.dialog->tabs()->tabText(0), "Errors");
    EXPECT_EQ(errorsOnly.dialog->buttonCopy()->text(), "Copy Errors to Clipboard");
    EXPECT_FALSE(errorsOnly.dialog->buttonReConvert()->isHidden());
    EXPECT_EQ(errorsOnly.dialog->panelName(), "Conversion Errors & Status Information");

    Log infosOnly({}, {Entry("b.mp4", "b.mkv", {"Stream #0:0: Video: h264"})});
    EXPECT_EQ(infosOnly.dialog->tabs()->count(), 1);
    EXPECT_EQ(infosOnly.dialog->tabs()->tabText(0), "Information");
    EXPECT_EQ(infosOnly.dialog->buttonCopy()->text(), "Copy Info to Clipboard");
    EXPECT_TRUE(infosOnly.dialog->buttonReConvert()->isHidden());
    EXPECT_EQ(infosOnly.dialog->panelName(), "Conversion Status Information");
}

TEST(KRAStatusLogDialog, RowTextsAndCopies)
{
    KRAStatusLogEntry ignored = *Entry("clip.mov", "clip.IGNORE", {});
    EXPECT_EQ(KRAStatusLogDialog::formatHeaderFor(ignored, true), "Error converting to MP4 (H264), 'clip.mov'");
    EXPECT_EQ(KRAStatusLogDialog::formatHeaderFor(*Entry("clip.mov", "clip.mp4", {}), false),
              "Information converting to MP4 (H264), 'clip.mov' to 'clip.mp4'");

    Log log({Entry("a.mp4", "a.mkv", {"first", "second"}), Entry("b.mp4", "", {"third"})}, {});
    KRAOutlineView* outline = log.dialog->tableErrors();
    outline->clearSelection();
    QTest::keyClick(outline, Qt::Key_C, Qt::ControlModifier); // nothing selected: the whole tab
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Error converting to MP4 (H264), 'a.mp4' to 'a.mkv'\n   first\n"
                                                    "   second\nError converting to MP4 (H264), 'b.mp4'\n   third");
    const QAbstractItemModel* model = outline->model();
    outline->selectionModel()->select(model->index(0, 0, model->index(1, 0)), QItemSelectionModel::Select);
    outline->selectionModel()->select(model->index(1, 0, model->index(0, 0)), QItemSelectionModel::Select);
    QTest::keyClick(outline, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "   second\n   third");
    log.dialog->onCopy();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("Error converting"));
}

TEST(KRAStatusLogDialog, ReconvertSendsTheFailedFilesInOrderAndOKLeaves)
{
    QList<KRAStatusLogEntryRef> errors = {Entry("3.mp4", "", {"x"}), Entry("7.mp4", "", {"y"}),
                                          Entry("9.mp4", "", {"z"})};
    QList<KRAStatusLogEntryRef> infos;
    for (int i = 0; i < 10; ++i)
        infos.append(Entry(QString("%1.mp4").arg(i), "", {"ok"}));
    Log log(errors, infos);
    log.dialog->onReConvert();
    ASSERT_EQ(log.host->reconverted.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(log.host->reconverted[i], errors[i]->source2);
    EXPECT_EQ(log.host->reconvertInvoker, log.dialog);

    log.dialog->onOK();
    log.dialog->cancelOperation(nullptr);
    EXPECT_EQ(log.host->allDone, 2);
}

// A file converted with warnings is in the log for its warnings, but it did not fail: it is not
// converted again, and the totals count it apart.
TEST(KRAStatusLogDialog, FilesConvertedWithWarningsAreNoFailures)
{
    KRAStatusLogEntryRef warned = Entry("2.mpg", "", {"[mpeg1video @ 0x1] skipped MB"});
    warned->setOutcome(KRAConversionOutcome::ConvertedWithWarnings);
    KRAStatusLogEntryRef failed = Entry("4.mp4", "", {"No space left on device (300 times)"});
    failed->setOutcome(KRAConversionOutcome::Failed);
    // The verdict comes first, once, however often it is set.
    failed->setOutcome(KRAConversionOutcome::Failed);
    EXPECT_EQ(failed->entries.size(), 2);
    EXPECT_EQ(failed->entries[0], KRAOutcomeLine(KRAConversionOutcome::Failed));
    EXPECT_TRUE(warned->entries[0].startsWith("Converted with warnings: "));
    KRAStatusLogEntryRef copyFailed = Entry("5.mp4", "", {"Permission denied"}); // no run: no outcome
    KRAStatusLogEntryRef actionFailed = Entry("6.mp4", "", {"The source file was kept"});
    actionFailed->setOutcome(KRAConversionOutcome::Converted);
    EXPECT_EQ(actionFailed->entries.size(), 1);
    EXPECT_EQ(KRAStatusLogTotals({warned, failed, copyFailed, actionFailed}), ", 1 with warnings, 2 failed");
    EXPECT_EQ(KRAStatusLogTotals({}), "");

    Log log({warned, failed, copyFailed}, {});
    log.dialog->onReConvert();
    ASSERT_EQ(log.host->reconverted.size(), 2);
    EXPECT_EQ(log.host->reconverted[0], failed->source2);
    EXPECT_EQ(log.host->reconverted[1], copyFailed->source2);
    // With nothing but warnings there is nothing to convert again.
    Log onlyWarnings({warned}, {});
    onlyWarnings.dialog->onReConvert();
    EXPECT_TRUE(onlyWarnings.host->reconverted.isEmpty());
}
