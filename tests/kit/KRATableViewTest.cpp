// Keyboard behaviour of the kit's tables and outlines, driven with real key events offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTest>

#include "kit/KRAItemRoles.h"
#include "kit/KRAOutlineView.h"
#include "kit/KRATableCells.h"
#include "kit/KRATableHelpers.h"
#include "kit/KRATableView.h"
#include "kit/KitKeyEvents.h"

namespace {

// A delegate whose every answer a test can set; unset answers are "not implemented".
class Delegate : public KRATableViewDelegate {
public:
    std::optional<QString> checkboxId;
    bool toggles = false;
    QList<int> toggled;
    std::optional<QSet<int>> rows, columns;
    std::optional<bool> enterToNextRow, cycleRows, cycleColumns, deleteKey;
    int deletes = 0;
    QList<int> keys;

    std::optional<QString> checkboxColumnIdentifier(KRATableView*) override { return checkboxId; }
    bool toggleRowCheckboxes(KRATableView*, const QList<int>& selected) override
    {
        toggled = selected;
        return toggles;
    }
    std::optional<QSet<int>> editableRows(KRATableView*) override { return rows; }
    std::optional<QSet<int>> editableColumns(KRATableView*) override { return columns; }
    std::optional<bool> editEnterToNextRow(KRATableView*) override { return enterToNextRow; }
    std::optional<bool> editCycleRowsByArrows(KRATableView*, int) override { return cycleRows; }
    std::optional<bool> editCycleColumnsByArrows(KRATableView*) override { return cycleColumns; }
    std::optional<bool> handleDeleteKey(KRATableView*) override
    {
        ++deletes;
        return deleteKey;
    }
    bool performKeyEquivalent(QKeyEvent* event, QAbstractItemView*) override
    {
        keys.append(event->key());
        return true;
    }
};

// Four rows: a check box column ("checked"), a bool column, a text column.
struct Table {
    QStandardItemModel model{4, 3};
    KRATableView view;
    Delegate delegate;

    Table()
    {
        for (int row = 0; row < 4; ++row) {
            auto* box = new QStandardItem();
            box->setCheckable(true);
            box->setCheckState(row == 1 ? Qt::Checked : Qt::Unchecked);
            model.setItem(row, 0, box);
            auto* flag = new QStandardItem();
            flag->setData(row == 0, Qt::EditRole);
            model.setItem(row, 1, flag);
            model.setItem(row, 2, new QStandardItem(QString("text %1").arg(row)));
        }
        model.setHeaderData(0, Qt::Horizontal, "checked", KRAColumnIdentifierRole);
        model.setHeaderData(1, Qt::Horizontal, "flag", KRAColumnIdentifierRole);
        view.setModel(&model);
        view.setTableDelegate(&delegate);
        view.resize(400, 300);
        view.show();
        view.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&view, 300000));
    }
    ~Table() { view.setTableDelegate(nullptr); }

    void select(const QList<int>& rows)
    {
        view.clearSelection();
        for (int row : rows)
            view.selectionModel()->select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    bool checked(int row) const { return model.item(row, 0)->checkState() == Qt::Checked; }
    // Lets the deferred end-of-edit step run.
    static void settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    QModelIndex edited() const { return view.currentEditor() ? view.editedIndex() : QModelIndex(); }
    void key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QWidget* target = view.currentEditor() ? view.currentEditor() : static_cast<QWidget*>(&view);
        QTest::keyClick(target, Qt::Key(key), mods);
        settle();
    }
};

} // namespace

TEST(KRATableView, SpaceTogglesTheSelectedRowsToTheFirstRowsNegation)
{
    Table t;
    t.delegate.checkboxId = "checked";
    // Nothing selected: not handled, nothing changes.
    EXPECT_FALSE(t.view.handleSpaceKey());

    t.select({0, 1, 2}); // unchecked, checked, unchecked
    t.key(Qt::Key_Space);
    EXPECT_TRUE(t.checked(0) && t.checked(1) && t.checked(2));
    EXPECT_FALSE(t.checked(3));
    t.key(Qt::Key_Space);
    EXPECT_FALSE(t.checked(0) || t.checked(1) || t.checked(2));

    // A bool column found by its identifier; a text column gives no boolean.
    t.delegate.checkboxId = "flag";
    t.select({0, 3}); // true, false: both become false
    EXPECT_TRUE(t.view.handleSpaceKey());
    EXPECT_FALSE(t.model.item(0, 1)->data(Qt::EditRole).toBool());
    EXPECT_FALSE(t.model.item(3, 1)->data(Qt::EditRole).toBool());
    t.select({2, 3});
    EXPECT_TRUE(t.view.handleSpaceKey());
    EXPECT_TRUE(t.model.item(2, 1)->data(Qt::EditRole).toBool());
    EXPECT_TRUE(t.model.item(3, 1)->data(Qt::EditRole).toBool());
    t.delegate.checkboxId = "no such column";
    EXPECT_FALSE(t.view.handleSpaceKey());
    t.delegate.checkboxId.reset();
    EXPECT_FALSE(t.view.handleSpaceKey());

    // A delegate that toggles itself gets the rows in order and the table touches nothing.
    t.delegate.checkboxId = "checked";
    t.delegate.toggles = true;
    t.select({2, 0});
    EXPECT_TRUE(t.view.handleSpaceKey());
    EXPECT_EQ(t.delegate.toggled, QList<int>({0, 2}));
    EXPECT_FALSE(t.checked(0) || t.checked(2));
}

TEST(KRATableView, TabWalksTheEditableCellsAndStopsAtTheEnds)
{
    Table t;
    t.delegate.columns = QSet<int>({0, 2});
    t.delegate.rows = QSet<int>({0, 1, 3});
    t.view.beginEditRow(0, 2);
    ASSERT_EQ(t.edited(), t.model.index(0, 2));
    EXPECT_TRUE(qobject_cast<QLineEdit*>(t.view.currentEditor())->hasSelectedText());

    t.key(Qt::Key_Tab); // wraps to the next row's first editable column
    EXPECT_EQ(t.edited(), t.model.index(1, 0));
    t.key(Qt::Key_Tab);
    EXPECT_EQ(t.edited(), t.model.index(1, 2));
    t.key(Qt::Key_Tab); // row 2 is not editable
    EXPECT_EQ(t.edited(), t.model.index(3, 0));
    t.key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(t.edited(), t.model.index(1, 2));

    t.view.beginEditRow(3, 2);
    t.key(Qt::Key_Tab); // last editable cell of the last row: the edit ends, no other starts
    EXPECT_FALSE(t.edited().isValid());
    t.view.beginEditRow(0, 0);
    t.key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(t.edited().isValid());

    // A delegate that says nothing about editable cells gets no movement at all.
    t.delegate.columns.reset();
    t.delegate.rows.reset();
    t.view.beginEditRow(0, 0);
    t.key(Qt::Key_Tab);
    EXPECT_FALSE(t.edited().isValid());
}

TEST(KRATableView, ReturnAndArrowsMoveEditingOnlyWhereAllowed)
{
    Table t;
    t.delegate.enterToNextRow = true;
    t.view.beginEditRow(1, 2);
    qobject_cast<QLineEdit*>(t.view.currentEditor())->setText("changed");
    t.key(Qt::Key_Return);
    EXPECT_EQ(t.model.item(1, 2)->text(), "changed"); // committed before moving on
    EXPECT_EQ(t.edited(), t.model.index(2, 2));
    t.view.beginEditRow(3, 2);
    t.key(Qt::Key_Return); // the last row: nothing more to edit
    EXPECT_FALSE(t.edited().isValid());

    // Arrows need the row-cycling answer; its presence also enables Left and Right.
    t.view.beginEditRow(1, 2);
    EXPECT_FALSE(t.view.handleCursor(Qt::Key_Down));
    t.delegate.cycleRows = true;
    t.delegate.cycleColumns = true;
    t.key(Qt::Key_Down);
    EXPECT_EQ(t.edited(), t.model.index(2, 2));
    // Part of the text selected: the caret moves in the text instead.
    auto* line = qobject_cast<QLineEdit*>(t.view.currentEditor());
    ASSERT_NE(line, nullptr);
    line->setText("abc");
    line->setSelection(1, 1);
    EXPECT_FALSE(t.view.handleCursor(Qt::Key_Left));
    line->selectAll();
    t.key(Qt::Key_Left);
    EXPECT_EQ(t.edited(), t.model.index(2, 1));
    t.view.beginEditRow(0, 0);
    EXPECT_FALSE(t.view.handleCursor(Qt::Key_Up));
    EXPECT_FALSE(t.view.handleCursor(Qt::Key_Left));
    t.delegate.cycleRows = false; // rows not allowed in this column
    EXPECT_FALSE(t.view.handleCursor(Qt::Key_Down));
}

TEST(KRATableView, DeleteAndUnusedShortcutsReachTheDelegate)
{
    Table t;
    t.delegate.deleteKey = true;
    t.select({1});
    t.key(Qt::Key_Backspace);
    EXPECT_EQ(t.delegate.deletes, 1);
    t.key(Qt::Key_Delete);
    EXPECT_EQ(t.delegate.deletes, 2);
    t.key(Qt::Key_C, Qt::ControlModifier); // copy goes to the delegate before the table's own
    t.key(Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(t.delegate.keys, QList<int>({Qt::Key_C, Qt::Key_K}));
}

TEST(KRATableView, ContextMenuRowsAndSelectability)
{
    Table t;
    t.select({1, 2});
    const QPoint row0 = t.view.visualRect(t.model.index(0, 2)).center();
    const QPoint row2 = t.view.visualRect(t.model.index(2, 2)).center();
    EXPECT_EQ(rowsForContextMenu(&t.view, row0), QList<int>({0}));
    EXPECT_EQ(rowsForContextMenu(&t.view, row2), QList<int>({1, 2}));
    EXPECT_EQ(rowsForContextMenu(&t.view, QPoint(5, 290)), QList<int>({1, 2})); // below the rows

    EXPECT_EQ(columnObjectWithIdentifier(&t.view, "flag"), 1);
    EXPECT_TRUE(removeColumnWithIdentifier(&t.view, "flag"));
    EXPECT_FALSE(removeColumnWithIdentifier(&t.view, "flag"));
    EXPECT_TRUE(t.view.isColumnHidden(1));
}

TEST(KRAOutlineView, SpaceHandsTheSelectedItemsTopToBottom)
{
    struct OutlineDelegate : KRAOutlineViewDelegate {
        QList<QModelIndex> items;
        bool toggleItemCheckboxes(KRAOutlineView*, const QList<QModelIndex>& selected) override
        {
            items = selected;
            return true;
        }
    } delegate;
    QStandardItemModel model;
    auto* movies = new QStandardItem("Movies");
    movies->appendRow(new QStandardItem("Beach.mp4"));
    movies->appendRow(new QStandardItem("Harbour.mp4"));
    model.appendRow(movies);
    model.appendRow(new QStandardItem("Music"));
    KRAOutlineView view;
    view.setModel(&model);
    view.setOutlineDelegate(&delegate);
    view.expandAll();
    view.show();

    QTest::keyClick(&view, Qt::Key_Space);
    EXPECT_TRUE(delegate.items.isEmpty()); // nothing selected: the delegate is not asked
    const QModelIndex music = model.index(1, 0);
    const QModelIndex harbour = model.index(1, 0, model.index(0, 0));
    view.selectionModel()->select(music, QItemSelectionModel::Select);
    view.selectionModel()->select(harbour, QItemSelectionModel::Select);
    view.selectionModel()->select(model.index(0, 0), QItemSelectionModel::Select);
    QTest::keyClick(&view, Qt::Key_Space);
    EXPECT_EQ(delegate.items, QList<QModelIndex>({model.index(0, 0), harbour, music}));
    view.setOutlineDelegate(nullptr);
}

TEST(KitKeyEvents, CommandMeansControlAloneAndShiftAlone)
{
    QKeyEvent ctrl(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QKeyEvent ctrlShift(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QKeyEvent ctrlKeypad(QEvent::KeyPress, Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier);
    QKeyEvent shift(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(isCmdKeyDown(&ctrl));
    EXPECT_FALSE(isCmdKeyDown(&ctrlShift));
    EXPECT_FALSE(isShiftKeyDown(&ctrlShift));
    EXPECT_FALSE(isCmdKeyDown(&ctrlKeypad));
    EXPECT_TRUE(isShiftKeyDown(&shift));
    EXPECT_FALSE(isCmdKeyDown(&release));
}

TEST(KRATableCells, KindsAreFoundByItemThenByColumn)
{
    QStandardItemModel model(2, 2);
    model.setHeaderData(1, Qt::Horizontal, "choice", KRAColumnIdentifierRole);
    model.setData(model.index(0, 0), "QKTableCellImageText", KRACellKindRole);
    KRATableView view;
    view.setModel(&model);
    EXPECT_FALSE(registerNibSimple(&view, "NoSuchCell"));
    ASSERT_TRUE(registerNibSimple(&view, "QKTableCellImageText"));
    ASSERT_TRUE(registerNibNamed(&view, "KRATableCellCombo", "choice"));
    auto* dispatch = qobject_cast<KRACellDispatchDelegate*>(view.itemDelegate());
    ASSERT_NE(dispatch, nullptr);
    EXPECT_NE(qobject_cast<QKTableCellImageText*>(dispatch->cellFor(model.index(0, 0))), nullptr);
    EXPECT_NE(qobject_cast<KRATableCellCombo*>(dispatch->cellFor(model.index(1, 1))), nullptr);
    EXPECT_EQ(dispatch->cellFor(model.index(1, 0)), nullptr);

    // The width a column needs covers its longest text, within the header's limits.
    model.setData(model.index(1, 0), QString(60, 'W'));
    view.show();
    const int width = sizeToFitWidthOfColumnHelper(&view, 0);
    EXPECT_GE(width, view.fontMetrics().horizontalAdvance(QString(60, 'W')));
    EXPECT_LE(width, view.horizontalHeader()->maximumSectionSize());
}
