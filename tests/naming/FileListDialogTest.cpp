// List and rename: edits are kept apart until OK, the labels, encoders without files, Return
// while renaming, and the file information shown as it arrives.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

#include "common/MediaTestFiles.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRAFileListDialog.h"

namespace {

class Owner : public KRAFileListOwner {
public:
    QList<KRAFileListItem> fileListItems() const override { return items; }
    KRAFileNamingRef fileListNaming() const override { return naming; }
    QKEncoderDescRef fileListEncoder() const override { return encoder; }
    QString fileListEncoderArgs() const override { return QString(); }
    QKFileInfoCacheRef fileListInfoCache() const override { return cache; }
    void fileListApply(const QMap<int, KRAFileListEdit>& edits) override
    {
        ++applied;
        for (auto it = edits.constBegin(); it != edits.constEnd(); ++it) {
            items[it.key()].checked = it->checked;
            items[it.key()].destinationUser = it->destinationUser;
        }
    }
    void onSubDialogClose() override { ++closed; }

    QList<KRAFileListItem> items;
    KRAFileNamingRef naming = KRAFileNaming::namingSameFolder();
    QKEncoderDescRef encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI"), QStringLiteral(".avi"));
    QKFileInfoCacheRef cache;
    int applied = 0, closed = 0;
};

Owner MakeOwner(const TestTempDir& dir, int count)
{
    Owner owner;
    owner.naming = KRAFileNaming::namingSingleFolder(QUrl::fromLocalFile(QString::fromStdString(dir.path())));
    for (int i = 0; i < count; ++i) {
        KRAFileListItem item;
        item.url = QUrl::fromLocalFile(QString::fromStdString(dir.file("clip" + std::to_string(i) + ".mp4")));
        owner.items.append(item);
    }
    return owner;
}

} // namespace

TEST(FileListDialog, EditsWaitForOK)
{
    TestStoreScope store;
    TestTempDir dir;
    Owner owner = MakeOwner(dir, 3);
    KRAFileListDialog dialog(&owner);
    dialog.refreshDialog();
    dialog.view();
    EXPECT_EQ(dialog.destinationUserAt(1), QStringLiteral("clip1"));
    EXPECT_EQ(dialog.convertingLabel(), QStringLiteral("Converting 3 Files to AVI"));
    EXPECT_EQ(dialog.estimatedTotalLabel(), QString()) << "no encoder here can estimate";

    dialog.setCheckedAt(0, false);
    dialog.setCheckedAt(2, false);
    EXPECT_EQ(dialog.convertingLabel(), QStringLiteral("Converting 1 File to AVI"));
    ASSERT_TRUE(dialog.setDestinationAt(1, QStringLiteral("Renamed/one")));
    EXPECT_FALSE(dialog.setDestinationAt(1, QStringLiteral("  ")));
    EXPECT_FALSE(dialog.lastRefusal().isEmpty());
    EXPECT_EQ(dialog.destinationUserAt(1), QStringLiteral("Renamed/one"));

    dialog.onCancel();
    EXPECT_EQ(owner.applied, 0);
    EXPECT_EQ(owner.closed, 1);
    EXPECT_TRUE(owner.items[0].checked);
    EXPECT_FALSE(owner.items[1].destinationUser.has_value());

    // The date goes onto every row, unticked ones too; OK gives the edits back.
    dialog.refreshDialog();
    dialog.setCheckedAt(2, false);
    dialog.appendToAll(QStringLiteral(" - today"));
    EXPECT_EQ(dialog.edits().size(), 3);
    dialog.onOK();
    EXPECT_EQ(owner.applied, 1);
    EXPECT_FALSE(owner.items[2].checked);
    EXPECT_EQ(owner.items[2].destinationUser.value_or(QString()), QStringLiteral("clip2 - today"));

    // Check commands.
    dialog.refreshDialog();
    dialog.onMenuUncheckAll();
    EXPECT_EQ(dialog.convertingLabel(), QStringLiteral("Converting 0 Files to AVI"));
    dialog.onInvertCheck();
    EXPECT_TRUE(dialog.itemCheckedAt(0));
    dialog.table()->selectRow(1);
    dialog.onCheckOnlySelected();
    EXPECT_FALSE(dialog.itemCheckedAt(0));
    EXPECT_TRUE(dialog.itemCheckedAt(1));
    dialog.onToggleSelected();
    EXPECT_FALSE(dialog.itemCheckedAt(1));
}

TEST(FileListDialog, ReturnMovesRenamingToTheNextRow)
{
    TestStoreScope store;
    TestTempDir dir;
    Owner owner = MakeOwner(dir, 3);
    KRAFileListDialog dialog(&owner);
    dialog.refreshDialog();
    QWidget* view = dialog.view();
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view, 300000));
    KRATableView* table = dialog.table();
    table->beginEditRow(0, 2);
    auto* line = qobject_cast<QLineEdit*>(table->currentEditor());
    ASSERT_NE(line, nullptr);
    line->setText(QStringLiteral("renamed"));
    QTest::keyClick(line, Qt::Key_Return);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(dialog.destinationUserAt(0), QStringLiteral("renamed"));
    EXPECT_EQ(table->editedIndex(), dialog.tableModel()->index(1, 2));
    EXPECT_EQ(dialog.destinationUserAt(1), QStringLiteral("clip1")) << "moving on changes nothing";
    view->hide();
}

TEST(FileListDialog, EncoderWithoutFilesAndFileInformation)
{
    TestStoreScope store;
    TestTempDir dir;
    Owner owner = MakeOwner(dir, 2);
    owner.encoder->outputsFiles = false;
    KRAFileListDialog dialog(&owner);
    dialog.refreshDialog();
    dialog.view();
    EXPECT_EQ(dialog.destinationUserAt(0), QStringLiteral("< AVI >"));
    EXPECT_FALSE(dialog.setDestinationAt(0, QStringLiteral("x")));
    dialog.setCheckedAt(0, false);
    dialog.onOK();
    EXPECT_FALSE(owner.items[0].checked) << "ticks still apply";
    EXPECT_FALSE(owner.items[0].destinationUser.has_value());

    // Lengths appear as the information arrives.
    ASSERT_TRUE(MakeTestVideo(dir.file("clip0.mp4"), "64x48", "5", "2"));
    Owner real = MakeOwner(dir, 1);
    real.cache = QKFileInfoCache::create({real.items[0].url});
    KRAFileListDialog withInfo(&real);
    withInfo.refreshDialog();
    withInfo.view();
    QElapsedTimer timer;
    timer.start();
    while (real.cache->countLoaded() == 0 && timer.elapsed() < 300000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    QApplication::processEvents();
    EXPECT_NE(withInfo.tableModel()->item(0, 3)->text(), QStringLiteral("N/A"));
    EXPECT_EQ(withInfo.tableModel()->item(0, 5)->text(), QStringLiteral("N/A"));
}
