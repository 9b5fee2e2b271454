// A table with keyboard editing: Space toggles the check boxes of the selected rows, Return and
// Delete are offered to the delegate, and cell editing moves from cell to cell with Tab,
// Shift-Tab, Return and the arrow keys. Every decision is the delegate's; a delegate that
// answers nothing gets a plain table.
//
// The delegate's methods are optional one by one: each default answers "not implemented"
// (std::nullopt, or false for the methods that do the work themselves), and the table then
// behaves as for a delegate without that method. The table keeps the delegate as a plain
// pointer: its owner clears it (setTableDelegate(nullptr)) before the delegate goes.
#pragma once

#include <QKeyEvent>
#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QSet>
#include <QTableView>

#include <functional>
#include <optional>

class KRATableView;
class QAbstractItemView;

// Key equivalents the views do not use themselves: true when the receiver took the key.
class QKPerformKeyEquivalentInView {
public:
    virtual ~QKPerformKeyEquivalentInView();
    virtual bool performKeyEquivalent(QKeyEvent* event, QAbstractItemView* view) = 0;
};

class KRATableViewDelegate : public QKPerformKeyEquivalentInView {
public:
    // Space: the logical column of the check boxes, or -1 for none.
    virtual std::optional<int> checkboxColumn(KRATableView*) { return std::nullopt; }
    // Space, when checkboxColumn is not implemented: the check-box column's identifier.
    virtual std::optional<QString> checkboxColumnIdentifier(KRATableView*) { return std::nullopt; }
    // Space: toggles the rows itself; true when implemented.
    virtual bool toggleRowCheckboxes(KRATableView*, const QList<int>& rows)
    {
        (void)rows;
        return false;
    }
    // Tab (direction 1) or Shift-Tab (-1) ended an edit: moves on itself; true when implemented.
    virtual bool editNextField(KRATableView*, int column, int row, int direction)
    {
        (void)column, (void)row, (void)direction;
        return false;
    }
    // The rows and columns Tab may move editing to; none: no limit.
    virtual std::optional<QSet<int>> editableRows(KRATableView*) { return std::nullopt; }
    virtual std::optional<QSet<int>> editableColumns(KRATableView*) { return std::nullopt; }
    virtual std::optional<bool> shouldEditTableColumn(KRATableView*, int column, int row)
    {
        (void)column, (void)row;
        return std::nullopt;
    }
    // Return ended an edit: moves on itself; true when implemented.
    virtual bool editHandleEnterKey(KRATableView*, int column, int row)
    {
        (void)column, (void)row;
        return false;
    }
    // Return ended an edit: whether to edit the same column of the next row.
    virtual std::optional<bool> editEnterToNextRow(KRATableView*) { return std::nullopt; }
    // Up or Down while editing in the column; its presence also enables Left and Right.
    virtual std::optional<bool> editCycleRowsByArrows(KRATableView*, int column)
    {
        (void)column;
        return std::nullopt;
    }
    // Left or Right while editing with the whole text selected.
    virtual std::optional<bool> editCycleColumnsByArrows(KRATableView*) { return std::nullopt; }
    // Return pressed in the table (not in an editor): true when handled.
    virtual std::optional<bool> startEditingByEnterKey(KRATableView*) { return std::nullopt; }
    // Delete or Backspace pressed in the table: true when handled.
    virtual std::optional<bool> handleDeleteKey(KRATableView*) { return std::nullopt; }
    virtual std::optional<bool> shouldSelectRow(QAbstractItemView*, int row)
    {
        (void)row;
        return std::nullopt;
    }
    bool performKeyEquivalent(QKeyEvent*, QAbstractItemView*) override { return false; }
};

class KRATableView : public QTableView {
    Q_OBJECT
public:
    // Text movements that end a cell edit.
    enum Movement { MovementNone = 0, MovementReturn = 16, MovementTab = 17, MovementBacktab = 18 };

    explicit KRATableView(QWidget* parent = nullptr);
    ~KRATableView() override;

    KRATableViewDelegate* tableDelegate() const { return m_delegate; }
    void setTableDelegate(KRATableViewDelegate* delegate) { m_delegate = delegate; }

    bool handleEnterKey();
    bool handleSpaceKey();
    bool handleDeleteKey();
    // An arrow key while a cell is edited: moves editing to the neighbouring cell.
    bool handleCursor(int key);
    // Selects exactly the row and edits the cell with its text selected.
    void beginEditRow(int row, int column);
    // A cell edit ended with the movement: moves editing on, on a later turn of the event
    // loop, so that the ended edit has been committed first. Called by the table itself.
    void handleTextDidEndEditing(int movement, int row, int column);
    void handleTextDidEndEditing2(int movement, int row, int column);
    bool canSelectRow(int row) const;

    // The editor of the cell being edited, and its cell; null when none.
    QWidget* currentEditor() const;
    QModelIndex editedIndex() const { return m_editIndex; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int checkboxColumnForSpace();
    QList<int> selectedRowList() const;

    KRATableViewDelegate* m_delegate = nullptr;
    QPersistentModelIndex m_editIndex;
    QPointer<QWidget> m_editor;
    QPointer<QWidget> m_newestChild;
};

// The shared key-equivalent step of the kit's views: the view's own handling first, then the
// delegate. Copy is offered to the delegate first: the view's own copies one cell only.
bool KRAViewOfferKeyToDelegate(QAbstractItemView* view, QKeyEvent* event, QKPerformKeyEquivalentInView* delegate,
                               const std::function<void(QKeyEvent*)>& base);
