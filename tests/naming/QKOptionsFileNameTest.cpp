// The file-name character replacement window: reading the pairs into rows, editing the
// table, and what OK stores (and what a new file naming then reads).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QKeyEvent>
#include <QPointer>
#include <QTableWidget>

#include "naming/KRAFileNaming.h"
#include "naming/NamingTestSupport.h"
#include "naming/ui/QKOptionsFileName.h"

namespace {

QString Stored(const wchar_t* name)
{
    return QString::fromStdString(U8(XRegistry::GetString(name)));
}

// The controller of a window opened as a sheet on a parent of the test's own.
struct OpenWindow {
    QWidget parent;
    QPointer<QKOptionsFileName> window;
    explicit OpenWindow(bool tracklift)
    {
        parent.show();
        window = QKOptionsFileName::run(&parent, tracklift);
    }
};

TEST(QKOptionsFileName, PairsBecomeRows)
{
    TestStoreScope registry;
    QKOptionsFileName options;
    options.window();
    ASSERT_EQ(options.records().size(), 2); // the default "/-:;"
    EXPECT_EQ(options.records()[1].Replace, QStringLiteral(":"));
    EXPECT_EQ(options.records()[1].ReplaceWith, QStringLiteral(";"));
    EXPECT_EQ(options.tableView()->rowCount(), 3);
    EXPECT_EQ(options.addNewRowNumber(), 2);

    options.importReplacement(QString::fromWCharArray(L"a\U0001F600c"));
    ASSERT_EQ(options.records().size(), 1); // the odd trailing character is ignored
    EXPECT_EQ(options.records()[0].ReplaceWith, QString::fromWCharArray(L"\U0001F600"));
    EXPECT_EQ(QKOptionsFileName::pairTextFromRecords({{QStringLiteral("ab"), QStringLiteral("xy")},
                                                      {QStringLiteral("q"), QString()},
                                                      {QString(), QStringLiteral("r")}}),
              QStringLiteral("ax"));
}

TEST(QKOptionsFileName, EditingTheTable)
{
    TestStoreScope registry;
    QKOptionsFileName options;
    options.window();
    QTableWidget* table = options.tableView();
    table->item(0, 1)->setText(QStringLiteral("_"));
    EXPECT_EQ(options.records()[0].ReplaceWith, QStringLiteral("_"));

    options.onAddNew();
    ASSERT_EQ(options.records().size(), 3);
    EXPECT_EQ(table->rowCount(), 4);
    table->item(2, 0)->setText(QStringLiteral("?"));
    table->item(2, 1)->setText(QStringLiteral("!"));
    EXPECT_EQ(QKOptionsFileName::pairTextFromRecords(options.records()), QStringLiteral("/_:;?!"));
    // The add row is never a record: neither selectable nor editable.
    EXPECT_FALSE(table->item(3, 0)->flags() & Qt::ItemIsSelectable);
    EXPECT_FALSE(table->item(3, 0)->flags() & Qt::ItemIsEditable);

    // The Delete key removes the selected record and selects its neighbour.
    table->selectRow(2);
    EXPECT_TRUE(options.handleDeleteKeyInTableView());
    EXPECT_EQ(options.records().size(), 2);
    EXPECT_EQ(table->currentRow(), 1);
    table->selectRow(0);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(table, &del);
    ASSERT_EQ(options.records().size(), 1);
    EXPECT_EQ(options.records()[0].Replace, QStringLiteral(":"));
    table->clearSelection();
    table->setCurrentCell(1, 0);
    table->selectRow(1); // the add row
    EXPECT_FALSE(options.handleDeleteKeyInTableView());
    options.onDelete(0);
    EXPECT_TRUE(options.records().isEmpty());
    EXPECT_EQ(table->rowCount(), 1);
}

TEST(QKOptionsFileName, OkStoresWhatNewNamingsRead)
{
    TestStoreScope registry;
    {
        OpenWindow open(false);
        ASSERT_TRUE(open.window);
        EXPECT_EQ(open.window->window()->windowTitle(), QStringLiteral("Marvoni Options"));
        EXPECT_TRUE(open.window->window()->isVisible());
        open.window->onRestoreDefaultsWin();
        open.window->checkAnsiOnly()->setChecked(true);
        open.window->onRestoreDefaultsWin(); // unchecks again
        open.window->onOK();
        QApplication::processEvents();
    }
    EXPECT_EQ(Stored(L"kRAFileNameChrReplace"), QString::fromWCharArray(L"\"'>\u00BB<\u00AB?\u00BF:;\\-/-*-|-"));
    EXPECT_EQ(XRegistry::GetDWORD(L"kRAFileNameANSIFilenameOnly"), 0u);
    EXPECT_EQ(KRAFileNaming().characterReplacement(), QKOptionsFileName::windowsStylePairs());

    {
        OpenWindow open(false);
        EXPECT_EQ(open.window->records().size(), 9);
        while (!open.window->records().isEmpty())
            open.window->onDelete(0);
        open.window->checkAnsiOnly()->setChecked(true);
        open.window->onOK();
    }
    EXPECT_EQ(Stored(L"kRAFileNameChrReplace"), QString());
    EXPECT_EQ(XRegistry::GetDWORD(L"kRAFileNameANSIFilenameOnly"), 1u);
    const KRAFileNaming naming;
    EXPECT_EQ(naming.characterReplacement(), QStringLiteral("/-:;"));
    EXPECT_TRUE(naming.ansiOnly());
}

TEST(QKOptionsFileName, CancelStoresNothing)
{
    TestStoreScope registry;
    OpenWindow open(false);
    open.window->onRestoreDefaultsWin();
    open.window->cancelOperation();
    EXPECT_FALSE(XRegistry::ValueExists(L"kRAFileNameChrReplace"));
    EXPECT_FALSE(open.window->window()->isVisible());
}

TEST(QKOptionsFileName, TrackliftModeUsesItsOwnValues)
{
    TestStoreScope registry;
    ASSERT_TRUE(XRegistry::SetString(L"ab", L"TrackliftFileNameChrReplace"));
    OpenWindow open(true);
    EXPECT_EQ(open.window->regReplace(), QStringLiteral("TrackliftFileNameChrReplace"));
    EXPECT_NE(open.window->window()->windowTitle(), QStringLiteral("Marvoni Options"));
    ASSERT_EQ(open.window->records().size(), 1);
    open.window->onRestoreDefault();
    open.window->onOK();
    EXPECT_EQ(Stored(L"TrackliftFileNameChrReplace"), QStringLiteral("/-:;"));
    EXPECT_TRUE(XRegistry::ValueExists(L"TrackliftFileNameANSIFilenameOnly"));
    EXPECT_FALSE(XRegistry::ValueExists(L"kRAFileNameChrReplace"));
}

} // namespace
