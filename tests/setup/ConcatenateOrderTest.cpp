// The concatenation order dialog: moving blocks of rows, drops it must refuse, Proceed and
// Back, and the list file it writes, joined by the real ffmpeg.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>

#include "common/MediaTestFiles.h"
#include "common/TestConversionHost.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "setup/QKConcatenateOrderDialog.h"

namespace {

QList<QUrl> Files(std::initializer_list<const char*> names)
{
    QList<QUrl> urls;
    for (const char* name : names)
        urls.append(QUrl::fromLocalFile(QStringLiteral("/videos/") + QString::fromLatin1(name)));
    return urls;
}

QStringList Names(const QKConcatenateOrderDialog& dialog)
{
    QStringList names;
    for (const QUrl& url : dialog.sources())
        names.append(url.fileName());
    return names;
}

} // namespace

TEST(ConcatenateOrder, DragsMoveBlocksWithinOneDialogOnly)
{
    QKConcatenateOrderDialog dialog;
    dialog.setSources(Files({"a", "b", "c", "d"}));
    dialog.view();
    std::unique_ptr<QMimeData> drag(dialog.mimeDataForRows({0, 2}));
    ASSERT_TRUE(dialog.acceptDrop(drag.get(), 3));
    EXPECT_EQ(Names(dialog), (QStringList{"b", "a", "c", "d"}));
    EXPECT_EQ(dialog.table()->selectedItems().size(), 2);

    // Past the end appends the block.
    drag.reset(dialog.mimeDataForRows({0}));
    ASSERT_TRUE(dialog.acceptDrop(drag.get(), 99));
    EXPECT_EQ(Names(dialog), (QStringList{"a", "c", "d", "b"}));

    // Onto a row (not between rows), or from another dialog: refused.
    EXPECT_FALSE(dialog.validateDrop(drag.get(), 1, false));
    QKConcatenateOrderDialog other;
    other.setSources(Files({"x", "y"}));
    std::unique_ptr<QMimeData> foreign(other.mimeDataForRows({0}));
    EXPECT_NE(other.viewID(), dialog.viewID());
    EXPECT_FALSE(dialog.acceptDrop(foreign.get(), 0));
    QMimeData garbage;
    garbage.setData(QStringLiteral("com.marvoni.video.concat.id"), dialog.viewID().toUtf8());
    garbage.setData(QStringLiteral("com.marvoni.video.concat.indexes"), QByteArray("\xff\x01", 2));
    EXPECT_FALSE(dialog.acceptDrop(&garbage, 0));
    EXPECT_EQ(Names(dialog), (QStringList{"a", "c", "d", "b"}));

    // Alt+Down moves the selected row one down.
    dialog.table()->clearSelection();
    dialog.table()->item(0)->setSelected(true);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::AltModifier);
    QApplication::sendEvent(dialog.table(), &down);
    EXPECT_EQ(Names(dialog), (QStringList{"c", "a", "d", "b"}));
}

TEST(ConcatenateOrder, ProceedAndBack)
{
    auto host = std::make_shared<TestConversionHost>();
    auto back = std::make_shared<QKConcatenateOrderDialog>();
    auto dialog = std::make_shared<QKConcatenateOrderDialog>();
    dialog->setSources(Files({"one.mp4", "two.mp4"}));
    dialog->setPanelReturnTo(back);
    dialog->panelAttachedToHost(host);
    dialog->onGoBack();
    EXPECT_EQ(host->current, back);
    EXPECT_TRUE(host->reconverted.isEmpty()) << "nothing converted";

    dialog->onProceed();
    ASSERT_EQ(host->reconverted.size(), 1);
    auto concat = std::dynamic_pointer_cast<QKConvertSourceConcat>(host->reconverted.first());
    ASSERT_TRUE(concat);
    EXPECT_EQ(concat->concatURLs(), dialog->sources());
    EXPECT_EQ(host->reconvertInvoker, back);
}

TEST(ConcatenateOrder, ListFileJoinsRealFiles)
{
    TestTempDir dir;
    ASSERT_TRUE(MakeTestVideo(dir.file("a.mkv"), "64x48", "5", "1"));
    ASSERT_TRUE(RunProgramQuietly({"cp", dir.file("a.mkv"), dir.file("it's here.mkv")}));
    const QList<QUrl> files{QUrl::fromLocalFile(QString::fromStdString(dir.file("a.mkv"))),
                            QUrl::fromLocalFile(QString::fromStdString(dir.file("it's here.mkv")))};
    QString error;
    ASSERT_TRUE(QKConcatenateOrderDialog::writeConcatList(QString::fromStdString(dir.file("l.txt")), files, &error))
        << error.toStdString();
    ASSERT_TRUE(RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-f", "concat", "-safe", "0", "-i",
                                   dir.file("l.txt"), "-c", "copy", dir.file("joined.mkv")}));
    EXPECT_TRUE(PathExists(dir.file("joined.mkv")));

    // A name with a line break would add a line of its own to the list.
    const QList<QUrl> hostile{files[0],
                              QUrl::fromLocalFile(QString::fromStdString(dir.file("x.mkv\nfile '/etc/passwd"))),
                              QUrl::fromLocalFile(QString::fromStdString(dir.file("y\r.mkv")))};
    error.clear();
    EXPECT_FALSE(
        QKConcatenateOrderDialog::writeConcatList(QString::fromStdString(dir.file("l2.txt")), hostile, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("line break"))) << error.toStdString();
    EXPECT_FALSE(PathExists(dir.file("l2.txt")));

    // The dialog's own list-file source.
    QKConcatenateOrderDialog dialog;
    dialog.setSources(files);
    const std::shared_ptr<QKConvertSourceTemp> source = dialog.makeConcatSource();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->specialActionDesc(), QStringLiteral("concatenating"));
    EXPECT_EQ(source->urlPerceived(), files[0]);
}
